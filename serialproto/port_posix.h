// SerialPort over a POSIX terminal device (termios): a serial line or a pseudo-terminal.
#pragma once

#include <string>

#include "serialproto/port.h"

namespace serialproto {

class PosixPort : public SerialPort {
public:
    PosixPort() = default;
    ~PosixPort() override { Close(); }
    PosixPort(const PosixPort&) = delete;
    PosixPort& operator=(const PosixPort&) = delete;

    // Opens the device for reading and writing, exclusively; false with SystemError set.
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    bool SetLine(std::uint32_t speed) override;
    bool SetReadTimeout(std::uint32_t ms) override;
    Read ReadByte(std::uint8_t& b) override;
    bool Write(const std::uint8_t* data, std::size_t n) override;
    void ClearErrors() override {}
    void PurgeInput() override;
    std::uint32_t SystemError() const override { return error_; }

private:
    bool Fail();

    int fd_ = -1;
    std::uint32_t timeoutMs_ = 300;
    std::uint32_t error_ = 0;
};

} // namespace serialproto
