#include "simulators/serialreg/simulator.h"

#include "simulators/serialreg/frame_reader.h"

#include <algorithm>
#include <cstdarg>
#include <thread>

namespace serialsim {

Answer LengthError();

namespace {

constexpr std::uint8_t STX = 0x02, ETX = 0x03, ENQ = 0x05, ACK = 0x06, DLE = 0x10, NAK = 0x15, SYN = 0x16;
constexpr int kFrameByteMs = 500; // silence that ends an incomplete frame
constexpr std::uint32_t kSynEveryMs = 100;
constexpr std::size_t kTraceBytes = 4096; // of what was sent, kept for an observer

std::string Hex(const Bytes& b)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i) s += ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

void Stuff(Bytes& out, std::uint8_t b)
{
    out.push_back(b);
    if (b == DLE) out.push_back(DLE);
}

} // namespace

void Simulator::Log(const char* fmt, ...)
{
    if (!log_) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(log_, fmt, ap);
    va_end(ap);
    std::fputc('\n', log_);
    std::fflush(log_);
}

void Simulator::LogBytes(const char* label, const Bytes& bytes) { Log("%s %s", label, Hex(bytes).c_str()); }

void Simulator::Send(const Bytes& bytes, const char* what)
{
    if (what) Log("tx %s", what);
    else LogBytes("tx", bytes);
    if (trace_ && trace_->sent.size() < kTraceBytes)
        trace_->sent.insert(trace_->sent.end(), bytes.begin(),
                            bytes.begin() +
                                static_cast<long>(std::min(bytes.size(), kTraceBytes - trace_->sent.size())));
    line_.Write(bytes);
}

void Simulator::Report(Exchange& e)
{
    if (!observer_) return;
    observer_->Exchanged(e);
    observer_->StateChanged(state_);
}

void Simulator::Run(const volatile bool& stop)
{
    for (;;) {
        std::uint8_t b = 0;
        if (line_.ReadByte(b, -1, stop) != Line::Read::Byte) return;
        if (b != DLE) {
            Log("rx stray %02X", b);
            continue;
        }
        const auto t0 = std::chrono::steady_clock::now();
        FrameReader reader;
        reader.Begin();
        FrameReader::Step step = FrameReader::Step::More;
        while (step == FrameReader::Step::More) {
            const Line::Read r = line_.ReadByte(b, kFrameByteMs, stop);
            if (r == Line::Read::Stopped) return;
            if (r == Line::Read::Timeout) break;
            step = reader.Feed(b);
        }
        if (step != FrameReader::Step::Complete) {
            LogBytes(step == FrameReader::Step::Bad ? "rx bad frame" : "rx incomplete frame", reader.Raw());
            Exchange e;
            e.received = reader.Raw();
            e.problem = step == FrameReader::Step::Bad ? "bad frame" : "incomplete frame";
            Report(e);
            continue;
        }
        line_.WaitWireTime(t0, reader.Raw().size());
        if (line_.SpeedMismatch()) {
            LogBytes("rx garbled", reader.Raw());
            Log("the driver sends at %u baud, the register runs at %u: no answer", line_.DriverBaud(), line_.Baud());
            continue;
        }
        LogBytes("rx", reader.Raw());
        const Bytes& payload = reader.Payload();
        Exchange e;
        e.received = reader.Raw();
        trace_ = &e;
        if (!reader.PayloadValid()) {
            e.problem = payload.size() < 3 ? "frame too short" : "checksum error";
            Log("%s", e.problem.c_str());
            Send({NAK}, "NAK");
        } else {
            Handle(payload[0], Bytes(payload.begin() + 1, payload.end() - 1), stop, e);
        }
        trace_ = nullptr;
        Report(e);
    }
}

void Simulator::WriteBooks()
{
    if (booksPath_.empty()) return;
    const std::string text = DumpBooks(state_);
    const std::string temp = booksPath_ + ".new";
    std::FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) {
        Log("books: cannot write %s", temp.c_str());
        return;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !ok || std::rename(temp.c_str(), booksPath_.c_str()) != 0)
        Log("books: cannot write %s", booksPath_.c_str());
}

bool Simulator::PullExtra(std::size_t count, Bytes& extra, const volatile bool& stop)
{
    while (extra.size() < count) {
        const std::size_t n = std::min<std::size_t>(64, count - extra.size());
        Send({ENQ}, "ENQ");
        Bytes block;
        std::uint8_t b;
        while (block.size() < n + 1) {
            const Line::Read r = line_.ReadByte(b, 1000, stop);
            if (r != Line::Read::Byte) {
                LogBytes("extra data cut short", block);
                return false;
            }
            block.push_back(b);
        }
        std::uint8_t sum = 0;
        for (auto x : block) sum = static_cast<std::uint8_t>(sum + x);
        Log("rx extra block (%zu bytes)%s", n, sum ? ": checksum error" : "");
        if (sum != 0) {
            Send({NAK}, "NAK");
            return false;
        }
        extra.insert(extra.end(), block.begin(), block.end() - 1);
        if (trace_ && trace_->received.size() < kTraceBytes)
            trace_->received.insert(trace_->received.end(), block.begin(), block.end());
    }
    return true;
}

void Simulator::Handle(std::uint8_t seq, const Bytes& request, const volatile bool& stop, Exchange& e)
{
    PollControl();
    const std::uint8_t cmd = request[0];
    const CommandSpec* spec = FindCommand(cmd);
    Log("cmd %02X %s seq %02X, %zu request bytes", cmd, spec ? spec->name : "(unknown)", seq, request.size());
    e.cmd = cmd;
    e.name = spec ? spec->name : "";
    e.seq = seq;

    // The faults for this answer; each one used counts against its limit.
    bool has[Fault::KindCount] = {};
    int value[Fault::KindCount] = {};
    {
        std::lock_guard<std::mutex> lock(faultsMutex_);
        for (auto& f : faults_) {
            if (f.count == 0 || (f.cmd >= 0 && f.cmd != cmd)) continue;
            if (f.count > 0) --f.count;
            if (!has[f.kind]) e.faults.push_back(FaultName(f.kind));
            has[f.kind] = true;
            value[f.kind] |= f.value;
            if (f.kind == Fault::SynStorm || f.kind == Fault::Error || f.kind == Fault::Slow) value[f.kind] = f.value;
        }
    }

    if (has[Fault::Nak]) {
        Send({NAK}, "NAK");
        return;
    }
    if (has[Fault::Silence]) {
        Log("silent");
        return;
    }
    if (has[Fault::Garbage]) {
        Send({0x47, 0x61, 0x72, 0x62, 0xFF, 0x00});
        return;
    }
    if (has[Fault::SynFirst]) Send({SYN}, "SYN");
    if (has[Fault::AckLost]) Log("ACK lost");
    else Send({ACK}, "ACK");
    if (has[Fault::SilenceAfterAck]) {
        Log("silent");
        return;
    }

    // A frame with the sequence number and bytes of the last command executed is the
    // driver's retry after a lost or damaged answer: the register answers it again from
    // its memory and executes nothing (with extra data, those must match too).
    const bool sameFrame = haveLast_ && seq == lastSeq_ && request == lastRequest_;
    std::uint32_t busy = spec && !sameFrame ? spec->busyMs * busyPercent_ / 100 : 0;
    if (has[Fault::SynStorm]) busy += static_cast<std::uint32_t>(value[Fault::SynStorm]);
    if (busy > 0) {
        Log("tx SYN every %u ms for %u ms", kSynEveryMs, busy);
        for (std::uint32_t t = 0; t < busy && !stop; t += kSynEveryMs) {
            if (trace_ && trace_->sent.size() < kTraceBytes) trace_->sent.push_back(SYN);
            line_.Write({SYN});
            std::this_thread::sleep_for(std::chrono::milliseconds(kSynEveryMs));
        }
    }
    std::uint32_t silent = spec && !sameFrame ? spec->silentMs : 0;
    if (has[Fault::Slow]) silent += static_cast<std::uint32_t>(value[Fault::Slow]);
    if (silent > 0) {
        Log("silent for %u ms", silent);
        for (std::uint32_t t = 0; t < silent && !stop; t += 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<std::uint32_t>(50, silent - t)));
    }
    if (has[Fault::StrayEnq]) Send({ENQ}, "ENQ");

    Answer answer;
    const std::size_t extraCount = spec && spec->extraBytes && request.size() >= spec->minLength
                                       ? spec->extraBytes(request)
                                       : 0;
    Bytes extra;
    if (extraCount > 0 && !PullExtra(extraCount, extra, stop)) {
        e.problem = "extra data not received";
        return;
    }
    if (sameFrame && extra == lastExtra_) {
        Log("repeated frame: same answer, not executed again");
        answer = lastAnswer_;
        e.repeated = true;
    } else {
        if (!spec) {
            answer.status = 0x80; // no such command
        } else if (request.size() < spec->minLength) {
            answer = LengthError();
        } else {
            answer = spec->run(state_, request, extra);
        }
        // The books are on disk before the answer goes out, so whoever reads them after
        // the answer sees this command's effect.
        WriteBooks();
        haveLast_ = true;
        lastSeq_ = seq;
        lastRequest_ = request;
        lastExtra_ = std::move(extra);
        lastAnswer_ = answer;
    }
    e.answer = answer;
    if (has[Fault::AnswerLostAfterExec]) {
        Log("answer lost");
        return;
    }

    // Frame the answer, with the faults that concern it.
    Bytes payload{static_cast<std::uint8_t>(has[Fault::WrongSeq] ? seq + 1 : seq),
                  static_cast<std::uint8_t>(has[Fault::WrongCmd] ? cmd ^ 0x40 : cmd),
                  static_cast<std::uint8_t>(answer.status | value[Fault::Status]),
                  static_cast<std::uint8_t>(has[Fault::Error] ? value[Fault::Error] : answer.error),
                  static_cast<std::uint8_t>(state_.extStatus | value[Fault::ExtStatus])};
    payload.insert(payload.end(), answer.data.begin(), answer.data.end());
    if (has[Fault::ShortData] && payload.size() > 5 + static_cast<std::size_t>(value[Fault::ShortData]))
        payload.resize(5 + static_cast<std::size_t>(value[Fault::ShortData]));
    if (has[Fault::Oversize]) payload.resize(300, 0x4F);
    std::uint8_t sum = 0;
    for (auto p : payload) sum = static_cast<std::uint8_t>(sum + p);
    payload.push_back(static_cast<std::uint8_t>(0u - sum + (has[Fault::BadChecksum] ? 1 : 0)));
    if (has[Fault::AnswerDamagedAfterExec]) payload[2] ^= 0x04; // a bit flipped on the way
    e.answer.status = payload[2];
    e.answer.error = payload[3];

    Bytes frame{DLE, STX};
    for (std::size_t i = 0; i < payload.size(); ++i) {
        Stuff(frame, payload[i]);
        if (i == 1 && has[Fault::StrayDle]) frame.insert(frame.end(), {DLE, 0x41});
    }
    frame.insert(frame.end(), {DLE, ETX});
    if (has[Fault::Truncate]) {
        frame.resize(frame.size() / 2);
    } else if (!has[Fault::NoTrailer]) {
        // Two bytes after the frame: the status and extended status again.
        frame.push_back(payload[2]);
        frame.push_back(payload[4]);
    }
    Send(frame);
    e.answered = true;
    // A new line speed takes effect once the answer is out.
    if (state_.switchBaud) {
        line_.SwitchTo(state_.switchBaud);
        Log("line speed now %u baud", state_.switchBaud);
        state_.switchBaud = 0;
    }
}

} // namespace serialsim
