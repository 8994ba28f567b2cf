// Local time as text, for log stamps, file names and the register's clocks.
#pragma once

#include <ctime>
#include <string>

namespace textconv {

// strftime of a local time; an empty string when the pattern or the time can't be formatted.
std::string formatLocalTime(std::time_t t, const char* pattern = "%d-%m-%Y %H:%M:%S");

} // namespace textconv
