// The serial link of the automation object: the Win32 port, the link layer over it,
// the bridge from the link layer's log lines to the work log, and the text and
// last-error helpers the register members share.
//
// The object owns one SerialLink. Connect opens Port and attaches it to Link;
// Disconnect, a failed Connect and the release of the last client detach and close it.
// While no port is attached every command ends at once with FPE_NOT_CONNECTED.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "serialproto/link.h"
#include "serialproto/port_win32.h"
#include "comserver/work_log.h"

// Writes the link layer's lines to the work log: "->", "<-", "data", ... as data
// lines, "No answer", "<- NAK", ... as raw lines. Both are dropped while no log file is
// open (the work log's rule).
class WorkLogLinkLog : public serialproto::LinkLog {
public:
    explicit WorkLogLinkLog(WorkLog* log) : log_(log) {}
    void DataLine(const char* label, const std::uint8_t* bytes, std::size_t count) override;
    void RawLine(const char* text) override;

private:
    WorkLog* log_;
};

struct SerialLink {
    explicit SerialLink(WorkLog* log) : LogLines(log), Link(Clock, &LogLines) {}
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // Opens the port by name and sets the line; on failure the port stays closed and
    // Link.ErrorValue() holds the system error. The port is not attached.
    bool OpenPort(const char* name, std::uint32_t speed);
    // Detaches and closes the port (nothing when none is open).
    void ClosePort();
    // The state of an object just handed to a client: no port, the read time-out of
    // 300 ms, the register's status not known, no register error.
    void Reset();

    serialproto::SystemClock Clock;
    serialproto::Win32Port Port;
    WorkLogLinkLog LogLines;
    serialproto::Link Link;
};

// For the results that carry a number in the thread's last-error value (FPE_SYSTEM,
// FPE_FILE_SYSTEM, FPE_ECR), puts `value` there so that the description composed
// next reads it; other results leave the value alone.
void SetResultNumber(HRESULT result, std::uint32_t value);
