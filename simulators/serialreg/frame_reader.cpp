#include "simulators/serialreg/frame_reader.h"

namespace serialsim {

namespace {
constexpr std::uint8_t STX = 0x02, ETX = 0x03, DLE = 0x10;
}

void FrameReader::Begin()
{
    raw_.assign(1, DLE);
    payload_.clear();
    state_ = State::Start;
}

FrameReader::Step FrameReader::Feed(std::uint8_t b)
{
    if (state_ == State::Done) return Step::Bad;
    if (raw_.size() >= kMaxRaw) {
        state_ = State::Done;
        return Step::Bad;
    }
    raw_.push_back(b);
    switch (state_) {
    case State::Start:
        if (b != STX) break;
        state_ = State::Body;
        return Step::More;
    case State::Body:
        if (b == DLE) state_ = State::Escape;
        else payload_.push_back(b);
        return Step::More;
    case State::Escape:
        if (b == ETX) {
            state_ = State::Done;
            return Step::Complete;
        }
        if (b != DLE) break;
        payload_.push_back(b);
        state_ = State::Body;
        return Step::More;
    case State::Done: break;
    }
    state_ = State::Done;
    return Step::Bad;
}

bool FrameReader::PayloadValid() const
{
    if (payload_.size() < 3) return false;
    std::uint8_t sum = 0;
    for (const auto p : payload_) sum = static_cast<std::uint8_t>(sum + p);
    return sum == 0;
}

} // namespace serialsim
