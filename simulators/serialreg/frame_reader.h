// Reception of one command frame on the register's side: DLE STX, the stuffed payload,
// DLE ETX. Pure byte handling, no line: the simulator feeds it what the line brings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace serialsim {

class FrameReader {
public:
    using Bytes = std::vector<std::uint8_t>;
    // Raw bytes of a frame at most (the opening DLE included); more ends it as bad.
    static constexpr std::size_t kMaxRaw = 600;

    enum class Step { More, Complete, Bad };

    // Starts a frame whose opening DLE was just read.
    void Begin();
    // One more byte of the frame. After Complete or Bad, Begin must come first.
    Step Feed(std::uint8_t b);

    // What was read, the opening DLE included (for the log).
    const Bytes& Raw() const { return raw_; }
    // Sequence number, command, data and checksum, unstuffed.
    const Bytes& Payload() const { return payload_; }
    // A complete frame is usable when it holds a sequence number, a command code and a
    // checksum, and its bytes add up to 0.
    bool PayloadValid() const;

private:
    enum class State { Start, Body, Escape, Done };
    State state_ = State::Done;
    Bytes raw_, payload_;
};

} // namespace serialsim
