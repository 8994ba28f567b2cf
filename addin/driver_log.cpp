#include "driver_log.h"
#include "textconv/local_time.h"
#include "textconv/utf.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

namespace oltra {

namespace {

std::string computeTempDirectory()
{
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env && *env) ? env : "/tmp";
    if (dir.back() != '/') dir += '/';
    return dir;
}

// Level at load: DEBUG, until the host writes the LogLevel property.
int32_t g_level = kLogDebug;

const char kBom[] = "\xEF\xBB\xBF";

void writeLogLine(const char* levelName, const std::string& message)
{
    const std::string& path = logFilePath();
    struct stat st {};
    const bool append = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                        static_cast<std::uintmax_t>(st.st_size) < kLogSizeLimit;
    std::FILE* f = std::fopen(path.c_str(), append ? "ab" : "wb");
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
void logDebug(const std::string& m) { if (g_level == kLogDebug) writeLogLine("DEBUG", m); }
void logDebug(const std::u16string& m) { if (g_level == kLogDebug) writeLogLine("DEBUG", textconv::toUtf8(m)); }
void logInfo(const std::string& m) { if (g_level <= kLogInfo) writeLogLine("INFO", m); }
void logInfo(const std::u16string& m) { if (g_level <= kLogInfo) writeLogLine("INFO", textconv::toUtf8(m)); }
void logError(const std::string& m) { writeLogLine("ERROR", m); }
void logError(const std::u16string& m) { writeLogLine("ERROR", textconv::toUtf8(m)); }

void setLogLevel(int32_t level)
{
    const char* name = level == kLogDebug ? "DEBUG" : level == kLogInfo ? "INFO" : "ERROR";
    writeLogLine("INFO", std::string("Set log level: ") + name);
    g_level = level;
}

int32_t logLevel() { return g_level; }

void dumpResponse(const std::string& body)
{
    // Like the DEBUG line that names the dump: at level 0 only.
    if (g_level != kLogDebug) return;
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    char millis[8];
    std::snprintf(millis, sizeof millis, "%03d", static_cast<int>(ms));
    const std::string path = tempDirectory() + "Oltra-" +
                             textconv::formatLocalTime(system_clock::to_time_t(now), "%d%m%Y-%H%M%S-") +
                             millis + ".response";
    logDebug(path);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(kBom, 1, 3, f);
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
}

} // namespace oltra
