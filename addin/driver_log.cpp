#include "addin/driver_log.h"
#include "textconv/local_time.h"
#include "textconv/utf.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <sys/stat.h>
#if defined(_WIN32)
#include <windows.h>
#endif

namespace oltra {

namespace {

#if defined(_WIN32)
// Paths are kept in UTF-8 (they also go into the log); Windows opens them as UTF-16.
std::wstring widePath(const std::string& utf8)
{
    const std::u16string path = textconv::toUtf16(utf8);
    return std::wstring(path.begin(), path.end());
}

// The user's temporary folder as Windows reports it, made long (no 8.3 names), ending in
// a separator.
std::string computeTempDirectory()
{
    wchar_t reported[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, reported);
    if (n == 0 || n > MAX_PATH) return std::string();
    std::wstring dir(reported, n);
    const DWORD need = GetLongPathNameW(reported, nullptr, 0);
    if (need > 0) {
        std::wstring full(need, L'\0');
        const DWORD got = GetLongPathNameW(reported, &full[0], need);
        if (got > 0 && got < need) dir.assign(full.data(), got);
    }
    if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
    return textconv::toUtf8(std::u16string(dir.begin(), dir.end()));
}

std::FILE* openFile(const std::string& path, bool append)
{
    return _wfopen(widePath(path).c_str(), append ? L"ab" : L"wb");
}

bool appendable(const std::string& path)
{
    struct _stat64 st {};
    return _wstat64(widePath(path).c_str(), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG &&
           static_cast<std::uintmax_t>(st.st_size) < kLogSizeLimit;
}
#else
std::string computeTempDirectory()
{
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env && *env) ? env : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::FILE* openFile(const std::string& path, bool append) { return std::fopen(path.c_str(), append ? "ab" : "wb"); }

bool appendable(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<std::uintmax_t>(st.st_size) < kLogSizeLimit;
}
#endif

// Level at load: DEBUG, until the host writes the LogLevel property. One process-wide
// level: components of several sessions set and read it from their own threads.
std::atomic<int32_t> g_level{kLogDebug};

// One line at a time into the file, whichever thread writes it: a line is never cut by
// another, and the size check and the restart of a full log happen once.
std::mutex& fileMutex()
{
    static std::mutex m;
    return m;
}

const char kBom[] = "\xEF\xBB\xBF";

void writeLogLine(const char* levelName, const std::string& message)
{
    const std::string& path = logFilePath();
    std::lock_guard<std::mutex> lock(fileMutex());
    const bool append = appendable(path);
    std::FILE* f = openFile(path, append);
    if (!f) return;
    if (!append) std::fwrite(kBom, 1, 3, f);
    const std::string stamp = textconv::formatLocalTime(std::time(nullptr), "[%d-%m-%Y %H:%M:%S]");
    std::string line;
    line.reserve(stamp.size() + message.size() + 16);
    line += stamp;
    line += ' ';
    line += levelName;
    line += ": ";
    line += message;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), f);
    std::fflush(f);
    std::fclose(f);
}

} // namespace

const std::string& tempDirectory()
{
    static const std::string dir = computeTempDirectory();
    return dir;
}

const std::string& logFilePath()
{
    static const std::string path = tempDirectory() + "Oltra.log";
    return path;
}

// Fix the file name when the library loads.
static const bool g_pathFixed = !logFilePath().empty();

// DEBUG only at level 0 exactly: a negative level lets INFO and ERROR through, not DEBUG.
void logDebug(const std::string& m)
{
    if (g_level == kLogDebug) writeLogLine("DEBUG", m);
}
void logDebug(const std::u16string& m)
{
    if (g_level == kLogDebug) writeLogLine("DEBUG", textconv::toUtf8(m));
}
void logInfo(const std::string& m)
{
    if (g_level <= kLogInfo) writeLogLine("INFO", m);
}
void logInfo(const std::u16string& m)
{
    if (g_level <= kLogInfo) writeLogLine("INFO", textconv::toUtf8(m));
}
void logError(const std::string& m) { writeLogLine("ERROR", m); }
void logError(const std::u16string& m) { writeLogLine("ERROR", textconv::toUtf8(m)); }

void setLogLevel(int32_t level)
{
    const char* name = level == kLogDebug ? "DEBUG" : level == kLogInfo ? "INFO" : "ERROR";
    writeLogLine("INFO", std::string("Set log level: ") + name);
    g_level.store(level);
}

int32_t logLevel() { return g_level.load(); }

void dumpResponse(const std::string& body)
{
    // Like the DEBUG line that names the dump: at level 0 only.
    if (g_level.load() != kLogDebug) return;
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    // The time to the millisecond, then a number that every dump of the process takes in
    // turn (from any session's thread): answers within one millisecond keep files of
    // their own. It counts to 9999 and starts again, so the names keep their length.
    static std::atomic<unsigned> sequence{0};
    const unsigned n = sequence.fetch_add(1) % 10000;
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%03d-%04u", static_cast<int>(ms), n);
    const std::string path = tempDirectory() + "Oltra-" +
                             textconv::formatLocalTime(system_clock::to_time_t(now), "%d%m%Y-%H%M%S-") + stamp +
                             ".response";
    logDebug(path);
    std::FILE* f = openFile(path, false);
    if (!f) return;
    std::fwrite(kBom, 1, 3, f);
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
}

} // namespace oltra
