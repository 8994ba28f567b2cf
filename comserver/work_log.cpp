// This file is compiled with the ANSI code page (1251) as its execution character set,
// so its Russian literals are the bytes the log files hold.
#include "comserver/work_log.h"
#include "comserver/driver_string.h"
#include "comserver/keep_last_error.h"
#include "comserver/settings.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kLineBuffer = kEventLineMax + 2; // a line and its CR LF

// Fills the day of the week from the date, so that any clock source gives a
// consistent date.
void Normalise(SYSTEMTIME& t)
{
    FILETIME ft;
    SYSTEMTIME back;
    if (SystemTimeToFileTime(&t, &ft) && FileTimeToSystemTime(&ft, &back)) t.wDayOfWeek = back.wDayOfWeek;
    t.wDayOfWeek %= 7;
}

SYSTEMTIME Now(const WorkLog& log)
{
    SYSTEMTIME t = {};
    (log.localTime ? log.localTime : &SystemLocalTime)(&t);
    Normalise(t);
    if (t.wYear < 2000) t.wYear = 2000;
    return t;
}

int TimePrefix(char* buffer, int size, const SYSTEMTIME& t)
{
    int n = std::snprintf(buffer, static_cast<std::size_t>(size), "%02i:%02i:%02i.%03i ", t.wHour, t.wMinute, t.wSecond,
                          t.wMilliseconds);
    return n < 0 ? 0 : (n >= size ? size - 1 : n);
}

void WriteBytes(HANDLE file, const char* data, int length)
{
    DWORD written = 0;
    if (length > 0) WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr);
}

// Writes text cut to the line length (text already holds its time prefix), then CR LF.
void WriteLine(HANDLE file, char* line, int length)
{
    if (length > kEventLineMax) length = kEventLineMax;
    line[length++] = '\r';
    line[length++] = '\n';
    WriteBytes(file, line, length);
}

// Appends src to line[length], keeping the line within kEventLineMax characters.
int AppendToLine(char* line, int length, const char* src)
{
    while (*src && length < kEventLineMax) line[length++] = *src++;
    line[length] = '\0';
    return length;
}

bool SameDate(const SYSTEMTIME& a, const SYSTEMTIME& b)
{
    return a.wDay == b.wDay && a.wMonth == b.wMonth && a.wYear == b.wYear;
}

// Local date of the file's last write, if the file exists.
bool LastWriteDate(const char* path, SYSTEMTIME& date)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    FILETIME local;
    return GetFileAttributesExA(path, GetFileExInfoStandard, &data) &&
           !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) && FileTimeToSystemTime(&local, &date);
}

// Opens the file of today's weekday: appends when it was written today, starts it
// afresh otherwise; then writes the date line.
bool OpenLogFile(WorkLog& log, const SYSTEMTIME& now)
{
    const char* slash = std::strrchr(log.modulePath, '\\');
    if (!slash || slash == log.modulePath) return false;
    char path[MAX_PATH];
    int n = std::snprintf(path, sizeof path, "%.*s\\logday%i.txt", static_cast<int>(slash - log.modulePath),
                          log.modulePath, now.wDayOfWeek);
    if (n <= 0 || n >= static_cast<int>(sizeof path)) return false;

    HANDLE file = INVALID_HANDLE_VALUE;
    SYSTEMTIME written;
    if (LastWriteDate(path, written) && SameDate(written, now)) {
        file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) SetFilePointer(file, 0, nullptr, FILE_END);
    }
    if (file == INVALID_HANDLE_VALUE)
        file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    log.logFile = file;

    char line[16];
    n = std::snprintf(line, sizeof line, "%02i/%02i/%02i\r\n", now.wDay, now.wMonth, now.wYear - 2000);
    if (n > 0 && n < static_cast<int>(sizeof line)) WriteBytes(file, line, n);
    return true;
}

// One time-stamped line of the file, when a file is open: the time prefix, then what
// `append(line, n)` adds after it (returns the new length). The thread's last error is
// kept.
template <class Append>
void WriteTimedLine(WorkLog& log, Append append)
{
    if (log.logFile == INVALID_HANDLE_VALUE) return;
    KeepLastError keep;
    SYSTEMTIME now = Now(log);
    char line[kLineBuffer + 1];
    int n = TimePrefix(line, sizeof line, now);
    n = append(line, n);
    WriteLine(log.logFile, line, n);
}

} // namespace

void SystemLocalTime(SYSTEMTIME* localTime) { GetLocalTime(localTime); }

void ClearEvents(WorkLog& log)
{
    std::memset(log.eventRing, 0, sizeof log.eventRing);
    log.eventIndex = 0;
}

const char* RecentEvent(const WorkLog& log, int i)
{
    int slot = ((log.eventIndex - 1 - i) % kEventSlots + kEventSlots) % kEventSlots;
    return log.eventRing[slot];
}

void WriteEvent(WorkLog& log, const char* message, const char* source)
{
    if (!message || !*message) return;
    KeepLastError keep;

    if (log.eventIndex < 0 || log.eventIndex >= kEventSlots) log.eventIndex = 0;
    char* slot = log.eventRing[log.eventIndex];
    log.eventIndex = (log.eventIndex + 1) % kEventSlots;
    int length = 0;
    if (source && *source) {
        while (source[length] && length < kEventSourceMax) {
            slot[length] = source[length];
            ++length;
        }
        slot[length] = '\0';
        length = AppendToLine(slot, length, " - ");
    }
    slot[length] = '\0';
    AppendToLine(slot, length, message);

    if (log.notifyWindow) SendMessageA(log.notifyWindow, WM_USER, 0, 0);

    SYSTEMTIME now = Now(log);
    if (!log.logEnabled) {
        CloseLog(log);
        return;
    }
    if (now.wDayOfWeek != static_cast<WORD>(log.logFileDay) && log.logFile != INVALID_HANDLE_VALUE) CloseLog(log);
    log.logFileDay = static_cast<short>(now.wDayOfWeek);
    if (log.logFile == INVALID_HANDLE_VALUE && !OpenLogFile(log, now)) return;

    char line[kLineBuffer + 1];
    int n = TimePrefix(line, sizeof line, now);
    n = AppendToLine(line, n, slot);
    WriteLine(log.logFile, line, n);
}

void WriteEventF(WorkLog& log, const char* source, const char* format, ...)
{
    if (!format) return;
    KeepLastError keep;
    char message[kEventLineMax + 1];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (n < 0) return;
    keep.Restore();
    WriteEvent(log, message, source);
}

void WriteDataLine(WorkLog& log, const char* label, const void* bytes, std::size_t count)
{
    WriteTimedLine(log, [&](char* line, int n) {
        int m = std::snprintf(line + n, kLineBuffer + 1 - static_cast<std::size_t>(n), "%s (%u)", label ? label : "",
                              static_cast<unsigned>(count));
        n = m < 0 ? n : n + m;
        if (n > kEventLineMax) n = kEventLineMax;
        // A dump that does not fit ends with " ..." in place of the bytes left out, so
        // that a reader of the log knows the count in brackets was not all shown.
        static const char kCut[] = " ...";
        constexpr int kCutLength = sizeof kCut - 1;
        std::size_t shown = static_cast<std::size_t>((kEventLineMax - n) / 3);
        const bool cut = bytes && count > shown;
        if (cut) shown = static_cast<std::size_t>(std::max(0, kEventLineMax - n - kCutLength) / 3);
        else shown = bytes ? count : 0;
        const unsigned char* p = static_cast<const unsigned char*>(bytes);
        static const char hex[] = "0123456789ABCDEF";
        for (std::size_t i = 0; i < shown; ++i) {
            line[n++] = ' ';
            line[n++] = hex[p[i] >> 4];
            line[n++] = hex[p[i] & 0x0F];
        }
        if (cut && n + kCutLength <= kEventLineMax) {
            std::memcpy(line + n, kCut, kCutLength);
            n += kCutLength;
        }
        return n;
    });
}

void WriteRawLine(WorkLog& log, const char* text)
{
    WriteTimedLine(log, [&](char* line, int n) { return AppendToLine(line, n, text ? text : ""); });
}

void SetLogging(WorkLog& log, bool on)
{
    KeepLastError keep;
    if (on && !log.logEnabled) {
        log.logEnabled = 1;
        WriteEvent(log, "Запись включена");
        StoreLogSetting(log, true);
    } else if (!on && log.logEnabled) {
        WriteEvent(log, "Запись отключена");
        log.logEnabled = 0;
        CloseLog(log);
        StoreLogSetting(log, false);
    }
}

void LogLastError(WorkLog& log, IErrorInfo* info)
{
    KeepLastError keep;
    bool pending = false;
    if (!info) {
        if (GetErrorInfo(0, &info) != S_OK || !info) return;
        pending = true;
    }
    BSTR description = nullptr, source = nullptr;
    info->GetDescription(&description);
    info->GetSource(&source);
    if (description && *description) {
        DriverString text, from;
        text.AssignWide(description);
        from.AssignWide(source);
        WriteEvent(log, text.Text(), from.Text());
    }
    SysFreeString(description);
    SysFreeString(source);
    if (pending) {
        SetErrorInfo(0, info);
        info->Release();
    }
}

void CloseLog(WorkLog& log)
{
    if (log.logFile != INVALID_HANDLE_VALUE) {
        KeepLastError keep;
        CloseHandle(log.logFile);
        log.logFile = INVALID_HANDLE_VALUE;
    }
}
