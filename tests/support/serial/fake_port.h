// A scripted serial port and a manual clock for link-layer tests: each command frame
// written loads the next scripted reply as the pending input; reads advance the clock.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "serialproto/link.h"
#include "serialproto/port.h"

namespace fake {

using Bytes = std::vector<std::uint8_t>;

class ManualClock : public serialproto::Clock {
public:
    std::uint32_t NowMs() override { return now; }
    void SleepMs(std::uint32_t ms) override
    {
        now += ms;
        sleeps.push_back(ms);
    }
    std::uint32_t now = 1000;
    std::vector<std::uint32_t> sleeps;
};

// One incoming byte and the time the line is silent before it.
struct In {
    std::uint8_t byte;
    std::uint32_t delayMs;
};

class ScriptedPort : public serialproto::SerialPort {
public:
    explicit ScriptedPort(ManualClock& clock) : clock_(clock) {}

    // The reply to the next command frame written.
    void Reply(const Bytes& bytes, std::uint32_t delayMs = 0)
    {
        std::deque<In> r;
        for (auto b : bytes) r.push_back({b, delayMs});
        replies_.push_back(r);
    }
    void ReplyTimed(const std::vector<In>& in) { replies_.emplace_back(in.begin(), in.end()); }

    bool SetLine(std::uint32_t) override { return true; }
    bool SetReadTimeout(std::uint32_t ms) override
    {
        timeout_ = ms;
        return true;
    }
    Read ReadByte(std::uint8_t& b) override
    {
        ++reads;
        if (failReads) {
            error_ = 5;
            return Read::Failed;
        }
        if (input_.empty() || input_.front().delayMs > timeout_) {
            clock_.now += timeout_;
            if (!input_.empty()) input_.front().delayMs -= timeout_;
            return Read::Timeout;
        }
        clock_.now += input_.front().delayMs;
        b = input_.front().byte;
        input_.pop_front();
        return Read::Byte;
    }
    bool Write(const std::uint8_t* data, std::size_t n) override
    {
        if (failWrites) {
            error_ = 31;
            return false;
        }
        Bytes w(data, data + n);
        writes.push_back(w);
        if (n >= 2 && data[0] == 0x10 && data[1] == 0x02) {
            if (replies_.empty()) {
                input_.clear();
            } else {
                input_ = replies_.front();
                replies_.pop_front();
            }
        }
        return true;
    }
    void ClearErrors() override { ++clears; }
    void PurgeInput() override { ++purges; }
    std::uint32_t SystemError() const override { return error_; }

    std::vector<Bytes> writes;
    int reads = 0, clears = 0, purges = 0;
    bool failReads = false, failWrites = false;

private:
    ManualClock& clock_;
    std::deque<std::deque<In>> replies_;
    std::deque<In> input_;
    std::uint32_t timeout_ = 0;
    std::uint32_t error_ = 0;
};

// Log lines as text: "label (n) XX XX" and raw texts.
class RecordingLog : public serialproto::LinkLog {
public:
    void DataLine(const char* label, const std::uint8_t* bytes, std::size_t count) override
    {
        std::string s = std::string(label) + " (" + std::to_string(count) + ")";
        static const char hex[] = "0123456789ABCDEF";
        for (std::size_t i = 0; i < count; ++i) {
            s += ' ';
            s += hex[bytes[i] >> 4];
            s += hex[bytes[i] & 15];
        }
        lines.push_back(s);
    }
    void RawLine(const char* text) override { lines.push_back(text); }
    std::vector<std::string> lines;
};

// An answer frame as the register sends it: DLE STX, stuffed payload with its checksum,
// DLE ETX and two trailer bytes.
inline Bytes AnswerFrame(std::uint8_t seq, std::uint8_t cmd, std::uint8_t status, std::uint8_t error, std::uint8_t ext,
                         const Bytes& data, int checksumDelta = 0)
{
    Bytes payload{seq, cmd, status, error, ext};
    payload.insert(payload.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (auto b : payload) sum = static_cast<std::uint8_t>(sum + b);
    payload.push_back(static_cast<std::uint8_t>(0u - sum + checksumDelta));
    Bytes out{0x10, 0x02};
    for (auto b : payload) {
        out.push_back(b);
        if (b == 0x10) out.push_back(0x10);
    }
    out.insert(out.end(), {0x10, 0x03, 0x00, 0x00});
    return out;
}

inline Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace fake
