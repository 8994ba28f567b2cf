#include "textconv/local_time.h"

namespace textconv {

std::string formatLocalTime(std::time_t t, const char* pattern)
{
    if (!pattern) return {};
    std::tm tm {};
    if (!localtime_r(&t, &tm)) return {};
    char buf[128];
    const std::size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
    return std::string(buf, n);
}

} // namespace textconv
