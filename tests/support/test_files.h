// Files for the tests: whole-file reads and writes, unique names, waiting for a file.
#pragma once

#include <string>

namespace testsupport {

std::string readFile(const std::string& path); // "" when it can't be read
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
void removeFile(const std::string& path);

// A unique path under /tmp for this process; removed by the caller.
std::string tempPath(const std::string& stem);

// Waits up to `ms` for a file with content; the content, or "" on time-out.
std::string waitForFile(const std::string& path, int ms);

} // namespace testsupport
