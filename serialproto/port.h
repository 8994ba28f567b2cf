// What the link layer needs from a serial port and from the clock. The back ends are
// port_win32 (Windows communications API) and port_posix (termios); tests use scripted
// fakes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serialproto {

class SerialPort {
public:
    enum class Read { Byte, Timeout, Failed };

    virtual ~SerialPort() = default;

    // Line settings: `speed` baud, 8 data bits, no parity, one stop bit, no flow control.
    virtual bool SetLine(std::uint32_t speed) = 0;
    // Total time-out of each following single-byte read, in milliseconds.
    virtual bool SetReadTimeout(std::uint32_t ms) = 0;
    // Waits at most the read time-out for one byte.
    virtual Read ReadByte(std::uint8_t& b) = 0;
    // Writes all `n` bytes.
    virtual bool Write(const std::uint8_t* data, std::size_t n) = 0;
    // Clears the port's error state (errors are not reported).
    virtual void ClearErrors() = 0;
    // Discards input received but not yet read.
    virtual void PurgeInput() = 0;
    // The system error number of the last failed call.
    virtual std::uint32_t SystemError() const = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds from an arbitrary origin; wraps around.
    virtual std::uint32_t NowMs() = 0;
    virtual void SleepMs(std::uint32_t ms) = 0;
};

// The process's monotonic clock and real sleeping.
class SystemClock : public Clock {
public:
    std::uint32_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;
};

} // namespace serialproto
