#include "tests/support/test_files.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void removeFile(const std::string& path) { ::unlink(path.c_str()); }

std::string tempPath(const std::string& stem)
{
    static int counter = 0;
    return "/tmp/" + stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

std::string waitForFile(const std::string& path, int ms)
{
    for (int waited = 0; waited <= ms; waited += 20) {
        const std::string text = readFile(path);
        if (!text.empty()) return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::string();
}

} // namespace testsupport
