// SerialPort over the Windows communications API.
#pragma once

#include <windows.h>

#include "serialproto/port.h"

namespace serialproto {

class Win32Port : public SerialPort {
public:
    Win32Port() = default;
    ~Win32Port() override { Close(); }
    Win32Port(const Win32Port&) = delete;
    Win32Port& operator=(const Win32Port&) = delete;

    // Opens the port by its name as given, then with "\\.\" in front (COM10 and up);
    // false with SystemError set when both fail.
    bool Open(const char* name);
    void Close();
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Handle() const { return handle_; }

    bool SetLine(std::uint32_t speed) override;
    bool SetReadTimeout(std::uint32_t ms) override;
    Read ReadByte(std::uint8_t& b) override;
    bool Write(const std::uint8_t* data, std::size_t n) override;
    void ClearErrors() override;
    void PurgeInput() override;
    std::uint32_t SystemError() const override { return error_; }

private:
    bool Fail();

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::uint32_t error_ = 0;
};

} // namespace serialproto
