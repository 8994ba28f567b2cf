// The link layer: one command at a time over a SerialPort, with the register's
// ACK/NAK/SYN/ENQ handshake, three attempts, answer checks and the register status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "serialproto/answer_fields.h"
#include "serialproto/framing.h"
#include "serialproto/port.h"
#include "serialproto/result_codes.h"

namespace serialproto {

// Receives the link layer's log lines. DataLine: a label ("->", "<-", "<!", "<?", "<<",
// "data") and the bytes it concerns; RawLine: a fixed text ("No answer", "<- NAK", ...).
// The work log formats and writes them (or drops them while logging is off).
class LinkLog {
public:
    virtual ~LinkLog() = default;
    virtual void DataLine(const char* label, const std::uint8_t* bytes, std::size_t count) = 0;
    virtual void RawLine(const char* text) = 0;
};

class Link {
public:
    static constexpr std::uint32_t kDefaultReadTimeout = 300;
    static constexpr std::uint32_t kFrameByteTimeout = 100; // inside an answer frame
    static constexpr std::uint32_t kBusyLimit = 10000;      // SYN/ENQ traffic without an answer
    static constexpr std::uint32_t kRetryPause = 100;
    static constexpr int kAttempts = 3;
    // An answer frame, from its opening DLE to its last trailer byte, however slowly its
    // bytes come (512 raw bytes take about 0.5 s at 9600 baud).
    static constexpr std::uint32_t kAnswerLimit = 1500;
    // Added to an attempt's bound for each extra-data block the register pulls.
    static constexpr std::uint32_t kBlockLimit = 500;

    // The longest one attempt may take: the busy limit, the blocks of `extraLen` bytes of
    // extra data and the answer frame. Every wait of the attempt ends by then.
    static std::uint32_t AttemptLimit(std::size_t extraLen);
    // The longest a whole command may take: a retry starts only while no more than one
    // attempt's limit has passed since the first send, so at most two long attempts run.
    // (Each limit can be passed by one read time-out at most.)
    static std::uint32_t CommandLimit(std::size_t extraLen);
    static constexpr std::uint32_t kStateNotDefined = 0x80000000u;

    explicit Link(Clock& clock, LinkLog* log = nullptr) : clock_(clock), log_(log) {}

    // The open port, or none (disconnected). Attaching a port resets the sequence to 0.
    void Attach(SerialPort* port);
    SerialPort* Port() const { return port_; }
    bool Connected() const { return port_ != nullptr; }
    void SetLog(LinkLog* log) { log_ = log; }

    // Called after every accepted answer, once EcrState() is updated (the status window's
    // refresh).
    std::function<void()> OnAnswer;

    // Frames `req` (command code first), sends it and receives the answer; up to three
    // attempts 100 ms apart. Returns 0 with the answer data in LastAnswer(), or an
    // error result. For FPE_SYSTEM and FPE_ECR, ErrorValue() holds the number that
    // goes to the thread's last-error value (the system error or the register's code).
    fpresult::Result SendCommand(const std::uint8_t* req, std::size_t len, const std::uint8_t* extra = nullptr,
                                 std::size_t extraLen = 0);
    // One transmission of a built frame and the reception of its answer.
    fpresult::Result ExchangeFrame(const std::uint8_t* frame, std::size_t len, const std::uint8_t* extra,
                                   std::size_t extraLen);
    // Reads the rest of unexpected input after `n` bytes already read, until the line is
    // silent for a read time-out, 512 bytes are held or the busy limit (10 s) has passed
    // since the drain began; logs it as "<!".
    fpresult::Result DrainInput(const std::uint8_t* already, std::size_t n);

    // The sequence number the next command goes with.
    std::uint8_t Sequence() const { return sequence_; }
    void SetSequence(std::uint8_t sequence) { sequence_ = sequence; }
    const Answer& LastAnswer() const { return answer_; }
    // The register status of the last accepted answer (kStateNotDefined before one).
    std::uint32_t EcrState() const { return ecrState_; }
    std::uint8_t EcrErrorNumber() const { return ecrErrorNumber_; }
    std::uint32_t ErrorValue() const { return errorValue_; }
    // A system error met outside the link (opening the port): it becomes ErrorValue().
    void NoteSystemError(std::uint32_t error) { errorValue_ = error; }
    // Back to the state before any answer: no status, no error, no answer data.
    void ClearState();

    std::uint32_t ReadTimeout = kDefaultReadTimeout;

private:
    fpresult::Result SystemFailure();
    void Data(const char* label, const std::uint8_t* b, std::size_t n)
    {
        if (log_) log_->DataLine(label, b, n);
    }
    void Raw(const char* text)
    {
        if (log_) log_->RawLine(text);
    }

    // True when `now` is later than `deadline` (tick counts that wrap around).
    static bool Passed(std::uint32_t now, std::uint32_t deadline)
    {
        return static_cast<std::int32_t>(now - deadline) > 0;
    }

    Clock& clock_;
    LinkLog* log_;
    bool inExchange_ = false;
    std::uint32_t attemptEnd_ = 0;
    SerialPort* port_ = nullptr;
    std::uint8_t frame_[kFrameBuffer] = {};
    std::uint8_t drain_[kMaxFrame] = {};
    std::uint8_t sequence_ = 0;
    Answer answer_;
    std::uint32_t ecrState_ = kStateNotDefined;
    std::uint8_t ecrErrorNumber_ = 0;
    std::uint32_t errorValue_ = 0;
};

} // namespace serialproto
