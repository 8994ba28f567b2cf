// Helpers of the comserver_core tests.
#pragma once

#include <windows.h>
#include <string>

// A fresh directory under the temporary directory, removed with its files at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Path of the directory (ANSI), without a trailing '\'.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

// Whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& content);
// Sets the last-write time of a file to the given local time.
bool SetLastWriteLocal(const std::string& path, const SYSTEMTIME& local);
// Wide text as ANSI (system code page).
std::string Ansi(const wchar_t* wide);
