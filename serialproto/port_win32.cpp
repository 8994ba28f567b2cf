#include "serialproto/port_win32.h"

#include <string>

namespace serialproto {

bool Win32Port::Fail()
{
    error_ = GetLastError();
    return false;
}

static HANDLE OpenByName(const char* name)
{
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
}

bool Win32Port::Open(const char* name)
{
    Close();
    HANDLE h = OpenByName(name);
    if (h == INVALID_HANDLE_VALUE) {
        const std::string device = std::string("\\\\.\\") + name;
        h = OpenByName(device.c_str());
        if (h == INVALID_HANDLE_VALUE) return Fail();
    }
    handle_ = h;
    return true;
}

void Win32Port::Close()
{
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

bool Win32Port::SetLine(std::uint32_t speed)
{
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = speed;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    return SetCommState(handle_, &dcb) ? true : Fail();
}

bool Win32Port::SetReadTimeout(std::uint32_t ms)
{
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = 0;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = ms;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = 0;
    return SetCommTimeouts(handle_, &t) ? true : Fail();
}

SerialPort::Read Win32Port::ReadByte(std::uint8_t& b)
{
    DWORD got = 0;
    if (!ReadFile(handle_, &b, 1, &got, nullptr)) {
        Fail();
        return Read::Failed;
    }
    return got == 1 ? Read::Byte : Read::Timeout;
}

bool Win32Port::Write(const std::uint8_t* data, std::size_t n)
{
    DWORD written = 0;
    if (!WriteFile(handle_, data, static_cast<DWORD>(n), &written, nullptr)) return Fail();
    if (written != n) {
        error_ = ERROR_WRITE_FAULT;
        return false;
    }
    return true;
}

void Win32Port::ClearErrors()
{
    DWORD errors = 0;
    COMSTAT stat;
    ClearCommError(handle_, &errors, &stat);
}

void Win32Port::PurgeInput() { PurgeComm(handle_, PURGE_RXCLEAR); }

} // namespace serialproto
