// Every test process writes its log into a directory of its own: TMPDIR is pointed at a
// fresh directory before any static initialiser of the code under test runs, and the
// directory is removed when the process ends.
#pragma once

#include <string>

namespace testsupport {

// The private directory, without a trailing separator.
const std::string& privateTmpDir();

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
void removeFile(const std::string& path);

// The lines of the log file (without the BOM and the line feeds).
std::string logPath();
std::string logText();

} // namespace testsupport
