#include "comserver/serial_link.h"

#include "comserver/errors.h"

void WorkLogLinkLog::DataLine(const char* label, const std::uint8_t* bytes, std::size_t count)
{
    if (log_) WriteDataLine(*log_, label, bytes, count);
}

void WorkLogLinkLog::RawLine(const char* text)
{
    if (log_) WriteRawLine(*log_, text);
}

bool SerialLink::OpenPort(const char* name, std::uint32_t speed)
{
    ClosePort();
    if (Port.Open(name ? name : "") && Port.SetLine(speed)) return true;
    Link.NoteSystemError(Port.SystemError());
    Port.Close();
    return false;
}

void SerialLink::ClosePort()
{
    Link.Attach(nullptr);
    Port.Close();
}

void SerialLink::Reset()
{
    ClosePort();
    Link.ReadTimeout = serialproto::Link::kDefaultReadTimeout;
    Link.ClearState();
}

void SetResultNumber(HRESULT result, std::uint32_t value)
{
    if (result == FPE_SYSTEM || result == FPE_FILE_SYSTEM || result == FPE_ECR) SetLastError(static_cast<DWORD>(value));
}
