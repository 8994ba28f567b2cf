// The work log of the server.
//
// The settings file's "DoLog" (settings.h) says whether the daily log is written.
// Every event goes to a ring of the last ten event lines (shown by the status dialog)
// and, with the log on, to the file of the day of the week, "logday0.txt" (Sunday) to
// "logday6.txt" (Saturday), in the executable's directory. A file holds one day: the
// first event of a day opens it, appending when it was last written earlier the same
// day and starting it afresh otherwise (so the file of a weekday is replaced a week
// later).
//
// Lines (ANSI text, CR LF): a date line "dd/mm/yy" each time the file is opened;
// events "hh:mm:ss.mmm <source> - <message>"; data lines
// "hh:mm:ss.mmm <label> (<count>) XX XX ..."; raw lines "hh:mm:ss.mmm <text>". A line
// holds at most 256 characters before its CR LF.
//
// All routines run on the server's one thread and keep the thread's system
// last-error value as it was.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <cstddef>

// Source of the local time; the default reads the system clock. Tests put their own
// clock here to play the weekday rules.
using LocalTimeSource = void (*)(SYSTEMTIME* localTime);
// The default source: the system's local time.
void SystemLocalTime(SYSTEMTIME* localTime);

constexpr int kEventSlots = 10;
constexpr int kEventLineMax = 256;  // characters of an event line (and of a file line)
constexpr int kEventSourceMax = 32; // characters of an event's source

struct WorkLog {
    int logEnabled = 0;                    // non-zero: the daily file is written
    HANDLE logFile = INVALID_HANDLE_VALUE; // the open file, or invalid
    short logFileDay = -1;                 // day of the week logFile was opened for
    int eventIndex = 0;                    // slot of the next event
    char eventRing[kEventSlots][kEventLineMax + 1] = {};
    char modulePath[MAX_PATH] = {};               // the executable; its directory holds the files
    char settingsPath[MAX_PATH] = {};             // the .ini file (settings.h)
    HWND notifyWindow = nullptr;                  // if set, gets WM_USER (0, 0) after each event
    LocalTimeSource localTime = &SystemLocalTime; // "now"
};

// Empties the event ring (start of the process).
void ClearEvents(WorkLog& log);

// The event shown at position i of the list, 0 = the newest, 9 = the oldest.
const char* RecentEvent(const WorkLog& log, int i);

// Records one event: message (ANSI), with source (ANSI; first 32 characters kept) when
// given. An empty message records nothing.
void WriteEvent(WorkLog& log, const char* message, const char* source = nullptr);
// The same with the message formatted printf-style (at most 256 characters).
void WriteEventF(WorkLog& log, const char* source, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Writes a data line (label, byte count, then the bytes that fit in the line in hex) if
// the file is open. Never opens the file.
void WriteDataLine(WorkLog& log, const char* label, const void* bytes, std::size_t count);

// Writes a raw line if the file is open. Never opens the file.
void WriteRawLine(WorkLog& log, const char* text);

// Switches the daily log on or off (status dialog) and stores the choice in "DoLog".
// Switching on records "Запись включена", switching off records "Запись отключена"
// before the file is closed. No change: nothing.
void SetLogging(WorkLog& log, bool on);

// Writes an error object's description as an event, with its source. With no object,
// the thread's pending error information is used and stays pending.
void LogLastError(WorkLog& log, IErrorInfo* info = nullptr);

// Closes the file if open (process stop).
void CloseLog(WorkLog& log);
