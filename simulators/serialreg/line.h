// The register's end of the serial line: the master side of a pseudo-terminal, with
// output paced at the line speed (a pty has none of its own).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace serialsim {

using Bytes = std::vector<std::uint8_t>;

class Line {
public:
    ~Line();
    // Opens a pseudo-terminal pair in raw mode; false with `error` set.
    bool Open(std::string& error);
    const std::string& SlavePath() const { return slavePath_; }

    // Fixed speed in baud, or 0 to follow the speed the driver set on the line.
    void SetBaud(std::uint32_t baud) { fixedBaud_ = baud; }
    // The speed used for pacing now.
    std::uint32_t Baud() const;
    // The speed the driver set on its end of the line.
    std::uint32_t DriverBaud() const;
    // The register changes its own speed: from now on it runs at `baud`, and frames
    // the driver sends at another speed arrive garbled.
    void SwitchTo(std::uint32_t baud)
    {
        fixedBaud_ = baud;
        switched_ = true;
    }
    // True when the register's speed was switched and the driver's differs from it.
    bool SpeedMismatch() const { return switched_ && DriverBaud() != fixedBaud_; }

    enum class Read { Byte, Timeout, Stopped };
    // Waits up to `timeoutMs` (negative: no limit) for one byte; returns Stopped when
    // `stop` becomes true.
    Read ReadByte(std::uint8_t& b, int timeoutMs, const volatile bool& stop);
    // Writes the bytes one by one at the line speed.
    void Write(const Bytes& bytes);
    // Waits as long as `count` bytes take on the line from `since`.
    void WaitWireTime(std::chrono::steady_clock::time_point since, std::size_t count) const;

private:
    std::chrono::nanoseconds ByteTime() const;

    int master_ = -1;
    int slave_ = -1; // kept open so that the driver closing its end is no hang-up
    std::string slavePath_;
    std::uint32_t fixedBaud_ = 0;
    bool switched_ = false;
    std::chrono::steady_clock::time_point nextFree_{};
};

} // namespace serialsim
