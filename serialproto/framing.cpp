#include "serialproto/framing.h"

namespace serialproto {

std::uint8_t NegatedSum(const std::uint8_t* p, std::size_t n, std::uint8_t start)
{
    std::uint8_t s = start;
    for (std::size_t i = 0; i < n; ++i) s = static_cast<std::uint8_t>(s + p[i]);
    return static_cast<std::uint8_t>(0u - s);
}

std::size_t BuildFrame(std::uint8_t seq, const std::uint8_t* req, std::size_t len, std::uint8_t* out)
{
    if (len == 0 || req == nullptr) return 0;
    std::size_t n = 0;
    out[n++] = DLE;
    out[n++] = STX;
    out[n++] = seq;
    if (seq == DLE) out[n++] = DLE;
    std::uint8_t sum = seq;
    for (std::size_t i = 0; i < len; ++i) {
        sum = static_cast<std::uint8_t>(sum + req[i]);
        out[n++] = req[i];
        if (req[i] == DLE) out[n++] = DLE;
        if (n >= kMaxFrame) return 0;
    }
    const std::uint8_t check = static_cast<std::uint8_t>(0u - sum);
    out[n++] = check;
    if (check == DLE) out[n++] = DLE;
    out[n++] = DLE;
    out[n++] = ETX;
    return n;
}

std::size_t BuildExtraBlock(const std::uint8_t* data, std::size_t n, std::uint8_t* out)
{
    if (n > kExtraBlock) n = kExtraBlock;
    for (std::size_t i = 0; i < n; ++i) out[i] = data[i];
    out[n] = NegatedSum(data, n);
    return n + 1;
}

void AnswerReceiver::Begin()
{
    state_ = State::Start;
    sum_ = 0;
    raw_[0] = DLE;
    rawLength_ = 1;
}

void AnswerReceiver::Store(std::uint8_t b)
{
    payload_[*length_] = b;
    ++*length_;
    sum_ = static_cast<std::uint8_t>(sum_ + b);
}

AnswerReceiver::Step AnswerReceiver::Feed(std::uint8_t b)
{
    if (rawLength_ >= kMaxFrame) return Step::RawFull;
    raw_[rawLength_++] = b;
    switch (state_) {
    case State::Start:
        if (b != STX) return Step::Unexpected;
        sum_ = 0;
        *length_ = 0;
        state_ = State::Body;
        break;
    case State::Body:
        if (b == DLE) {
            state_ = State::Escape;
            break;
        }
        Store(b);
        if (*length_ >= static_cast<std::int32_t>(kAnswerCapacity)) return Step::TooLong;
        break;
    case State::Escape:
        if (b == ETX) {
            state_ = State::Ended;
            return Step::Done;
        }
        if (b != DLE) return Step::Unexpected;
        Store(b);
        state_ = State::Body;
        if (*length_ >= static_cast<std::int32_t>(kAnswerCapacity)) return Step::TooLong;
        break;
    case State::Ended: return Step::Done;
    }
    if (rawLength_ >= kMaxFrame) return Step::RawFull;
    return Step::More;
}

bool AnswerReceiver::AddTrailer(std::uint8_t b)
{
    if (rawLength_ >= kMaxFrame) return false;
    raw_[rawLength_++] = b;
    return true;
}

AnswerCheck CheckAnswer(bool acknowledged, std::uint8_t sum, const std::uint8_t* payload, std::int32_t length,
                        std::uint8_t seq, std::uint8_t cmd)
{
    if (!acknowledged) return AnswerCheck::SynPacket;
    if (sum != 0) return AnswerCheck::CrcError;
    if (length < static_cast<std::int32_t>(kMinAnswer) || payload[0] != seq || payload[1] != cmd)
        return AnswerCheck::BadPacket;
    return AnswerCheck::Ok;
}

fpresult::Result StatusResult(std::uint8_t cmd, std::uint8_t status)
{
    if (cmd == 0 || status == 0) return fpresult::kOk;
    static const struct {
        std::uint8_t bit;
        fpresult::Result result;
    } order[] = {
        {0x02, FPE_MODEM},   {0x04, FPE_FISCAL_MEMORY}, {0x08, FPE_CLOCK},       {0x20, FPE_DUTY_OVERTIME},
        {0x40, FPE_VOLTAGE}, {0x10, FPE_DISPLAY},       {0x80, FPE_BAD_COMMAND}, {0x01, FPE_NOT_READY},
    };
    for (const auto& o : order)
        if (status & o.bit) return o.result;
    return fpresult::kOk;
}

} // namespace serialproto
