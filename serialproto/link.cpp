#include "serialproto/link.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace serialproto {

using fpresult::Result;

std::uint32_t SystemClock::NowMs()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::SleepMs(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::uint32_t Link::AttemptLimit(std::size_t extraLen)
{
    const std::size_t blocks = (extraLen + kExtraBlock - 1) / kExtraBlock;
    return kBusyLimit + kAnswerLimit + static_cast<std::uint32_t>(blocks) * kBlockLimit;
}

std::uint32_t Link::CommandLimit(std::size_t extraLen) { return 2 * AttemptLimit(extraLen) + kRetryPause; }

void Link::Attach(SerialPort* port)
{
    port_ = port;
    sequence_ = 0;
}

void Link::ClearState()
{
    ecrState_ = kStateNotDefined;
    ecrErrorNumber_ = 0;
    errorValue_ = 0;
    answer_.length_ = 0;
}

Result Link::SystemFailure()
{
    errorValue_ = port_->SystemError();
    return FPE_SYSTEM;
}

Result Link::SendCommand(const std::uint8_t* req, std::size_t len, const std::uint8_t* extra, std::size_t extraLen)
{
    if (!port_) return FPE_NOT_CONNECTED;
    if (len == 0 || req == nullptr) return fpresult::kInvalidArg;
    if (extra == nullptr) extraLen = 0;
    const std::size_t frameLen = BuildFrame(sequence_, req, len, frame_);
    if (frameLen == 0) return fpresult::kUnexpected;
    sequence_ = static_cast<std::uint8_t>(sequence_ + 1);

    // A retry starts only while no more than one attempt's limit has passed, so that the
    // attempts together stay within CommandLimit.
    const std::uint32_t first = clock_.NowMs();
    Result r = fpresult::kOk;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0) {
            if (static_cast<std::uint32_t>(clock_.NowMs() - first) > AttemptLimit(extraLen)) break;
            clock_.SleepMs(kRetryPause);
        }
        r = ExchangeFrame(frame_, frameLen, extra, extraLen);
        if (r == fpresult::kOk) break;
    }
    if (r != fpresult::kOk) return r;

    std::uint8_t* const answer = answer_.bytes_;
    std::int32_t& length = answer_.length_;
    ecrErrorNumber_ = answer[3];
    ecrState_ = static_cast<std::uint32_t>(answer[2]) | (static_cast<std::uint32_t>(answer[4]) << 8);
    if (OnAnswer) OnAnswer();
    if (ecrErrorNumber_ != 0) {
        errorValue_ = ecrErrorNumber_;
        return FPE_ECR;
    }
    const Result status = StatusResult(req[0], answer[2]);
    if (status != fpresult::kOk) return status;

    length -= static_cast<std::int32_t>(kMinAnswer);
    if (length > 0) std::memmove(answer, answer + 5, static_cast<std::size_t>(length));
    Data("data", answer, static_cast<std::size_t>(length));
    return fpresult::kOk;
}

Result Link::ExchangeFrame(const std::uint8_t* frame, std::size_t len, const std::uint8_t* extra, std::size_t extraLen)
{
    if (!port_) return FPE_NOT_CONNECTED;
    if (len < 7) return fpresult::kInvalidArg;
    if (extra == nullptr) extraLen = 0;

    if (!port_->SetReadTimeout(ReadTimeout)) return SystemFailure();
    Data("->", frame, len);
    port_->ClearErrors();
    port_->PurgeInput();
    if (!port_->Write(frame, len)) return SystemFailure();
    // Every wait of this attempt ends by `attemptEnd`. Waiting for the answer ends with the
    // busy limit after the last thing sent, and an upload of extra data within the busy
    // limit plus a short bound per block, however often the register asks.
    const std::uint32_t sentAt = clock_.NowMs();
    const std::size_t blocks = (extraLen + kExtraBlock - 1) / kExtraBlock;
    attemptEnd_ = sentAt + AttemptLimit(extraLen);
    const std::uint32_t uploadEnd = sentAt + kBusyLimit + static_cast<std::uint32_t>(blocks) * kBlockLimit;
    std::uint32_t start = sentAt;
    struct InExchange {
        bool& flag;
        explicit InExchange(bool& f) : flag(f) { flag = true; }
        ~InExchange() { flag = false; }
    } inExchange(inExchange_);

    std::uint8_t b = 0;
    SerialPort::Read rd = port_->ReadByte(b);
    if (rd == SerialPort::Read::Failed) return SystemFailure();
    if (rd == SerialPort::Read::Timeout) {
        Raw("No answer");
        return FPE_NO_ANSWER;
    }
    bool acknowledged = false;
    switch (b) {
    case NAK: Raw("<- NAK"); return FPE_REJECTED;
    case ACK: acknowledged = true; break;
    case SYN: Raw("<- SYN"); break;
    default: return DrainInput(&b, 1);
    }

    // Waiting for the answer frame.
    std::size_t sent = 0;
    for (;;) {
        rd = port_->ReadByte(b);
        if (rd == SerialPort::Read::Failed) return SystemFailure();
        if (rd == SerialPort::Read::Timeout) {
            Raw("No answer");
            return FPE_NO_ANSWER;
        }
        if (b == DLE) break;
        if (b == NAK) {
            Raw("<- NAK");
            return FPE_REJECTED;
        }
        // Every other byte, ACK included, counts against the busy limit, so that no
        // stream of control bytes keeps the caller waiting for ever.
        const std::uint32_t now = clock_.NowMs();
        if (static_cast<std::uint32_t>(now - start) > kBusyLimit || Passed(now, uploadEnd)) {
            Raw("Timeout");
            return FPE_COMMAND_TIMEOUT;
        }
        if (b == ACK) {
            Raw("<- ACK");
        } else if (b == ENQ && sent < extraLen) {
            Raw("<- ENQ");
            std::uint8_t block[kExtraBlock + 1];
            const std::size_t n = BuildExtraBlock(extra + sent, extraLen - sent, block);
            Data("->", block, n);
            if (!port_->Write(block, n)) return SystemFailure();
            sent += n - 1;
            start = clock_.NowMs();
        } else if (b == SYN) {
            Raw("<- SYN");
        } else {
            return DrainInput(&b, 1);
        }
    }

    // The answer frame.
    // The answer frame, bytes at most 100 ms apart and the whole frame within kAnswerLimit.
    if (!port_->SetReadTimeout(kFrameByteTimeout)) return SystemFailure();
    std::uint32_t answerEnd = clock_.NowMs() + kAnswerLimit;
    if (Passed(answerEnd, attemptEnd_)) answerEnd = attemptEnd_;
    AnswerReceiver rx(answer_.bytes_, &answer_.length_);
    rx.Begin();
    for (bool done = false; !done;) {
        if (Passed(clock_.NowMs(), answerEnd)) {
            Data("<?", rx.Raw(), rx.RawLength());
            return FPE_ANSWER_TIMEOUT;
        }
        rd = port_->ReadByte(b);
        if (rd == SerialPort::Read::Failed) return SystemFailure();
        if (rd == SerialPort::Read::Timeout) {
            Data("<?", rx.Raw(), rx.RawLength());
            return FPE_ANSWER_TIMEOUT;
        }
        switch (rx.Feed(b)) {
        case AnswerReceiver::Step::More: break;
        case AnswerReceiver::Step::Done: done = true; break;
        case AnswerReceiver::Step::TooLong: Data("<<", rx.Raw(), rx.RawLength()); return FPE_PROTOCOL;
        case AnswerReceiver::Step::Unexpected:
        case AnswerReceiver::Step::RawFull: return DrainInput(rx.Raw(), rx.RawLength());
        }
    }
    // Up to two bytes follow the frame; they are logged only.
    for (int i = 0; i < 2 && !Passed(clock_.NowMs(), answerEnd); ++i) {
        rd = port_->ReadByte(b);
        if (rd == SerialPort::Read::Failed) return SystemFailure();
        if (rd == SerialPort::Read::Timeout || !rx.AddTrailer(b)) break;
    }
    Data("<-", rx.Raw(), rx.RawLength());

    switch (
        CheckAnswer(acknowledged, rx.Sum(), answer_.bytes_, answer_.length_, frame[2], frame[CommandOffset(frame)])) {
    case AnswerCheck::SynPacket: Raw("SYN packet"); return FPE_PROTOCOL;
    case AnswerCheck::CrcError: Raw("CRC error"); return FPE_CHECKSUM;
    case AnswerCheck::BadPacket: Raw("Bad packet"); return FPE_PROTOCOL;
    case AnswerCheck::Ok: break;
    }
    return fpresult::kOk;
}

Result Link::DrainInput(const std::uint8_t* already, std::size_t n)
{
    if (n > kMaxFrame) n = kMaxFrame;
    if (n > 0 && already != drain_) std::memmove(drain_, already, n);
    if (port_) {
        // A line that keeps trickling bytes is drained no longer than the busy limit, so
        // that even with a long read time-out one drain cannot hold the caller for minutes.
        // Within an exchange the drain also ends with the attempt's limit.
        const std::uint32_t start = clock_.NowMs();
        std::uint32_t end = start + kBusyLimit;
        if (inExchange_ && Passed(end, attemptEnd_)) end = attemptEnd_;
        while (n < kMaxFrame && !Passed(clock_.NowMs(), end)) {
            std::uint8_t b = 0;
            const SerialPort::Read rd = port_->ReadByte(b);
            if (rd == SerialPort::Read::Failed) return SystemFailure();
            if (rd == SerialPort::Read::Timeout) break;
            drain_[n++] = b;
        }
    }
    Data("<!", drain_, n);
    return FPE_PROTOCOL;
}

} // namespace serialproto
