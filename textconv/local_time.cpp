#include "textconv/local_time.h"

namespace textconv {

std::string formatLocalTime(std::time_t t, const char* pattern)
{
    if (!pattern) return {};
    std::tm tm{};
#if defined(_WIN32)
    if (localtime_s(&tm, &t) != 0) return {};
#else
    if (!localtime_r(&t, &tm)) return {};
#endif
    char buf[128];
    const std::size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
    return std::string(buf, n);
}

} // namespace textconv
