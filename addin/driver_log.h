// Driver log of the add-in: one process-wide level, one UTF-8 file in the temporary
// directory ("Oltra.log"), one line per event, opened and closed for every line.
// Logging never throws and never fails a driver method.
#pragma once

#include <cstdint>
#include <string>

namespace oltra {

enum LogLevel : int32_t { kLogDebug = 0, kLogInfo = 1, kLogError = 2 };

void logDebug(const std::string& utf8);
void logDebug(const std::u16string& utf16);
void logInfo(const std::string& utf8);
void logInfo(const std::u16string& utf16);
void logError(const std::string& utf8);
void logError(const std::u16string& utf16);

// Writes "Set log level: <name>" at INFO whatever the current level, then stores it.
void setLogLevel(int32_t level);
int32_t logLevel();

// At DEBUG: saves a response body as "Oltra-<ddmmYYYY-HHMMSS-mmm-NNNN>.response" (NNNN:
// the process's dump number modulo 10000, so no answer overwrites another), with a UTF-8
// BOM, next to the log and logs its path. Does nothing at any other level.
void dumpResponse(const std::string& body);

// The temporary directory ($TMPDIR, else /tmp), always ending in a separator.
const std::string& tempDirectory();
// The log file: tempDirectory() + "Oltra.log", fixed when the library loads.
const std::string& logFilePath();

// Size at which the log is started again from empty.
constexpr std::uintmax_t kLogSizeLimit = 0x500000;

} // namespace oltra
