#include "simulators/serialreg/tape.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace serialsim {

const char* const kGroupLetter[6] = {"А", "Б", "В", "Г", "Д", "Е"};
const char* const kGroupLatin[6] = {"A", "B", "V", "G", "D", "E"};

const char* PayName(int type)
{
    static const char* const names[] = {"КАРТКА", "КРЕДИТ", "ЧЕК", "ГОТІВКА"};
    return type >= 0 && type < 4 ? names[type] : type == 64 ? "НЕФІСКАЛЬНА" : "ІНША";
}

std::uint32_t U32(const Bytes& r, std::size_t at)
{
    return static_cast<std::uint32_t>(r[at]) | static_cast<std::uint32_t>(r[at + 1]) << 8 |
           static_cast<std::uint32_t>(r[at + 2]) << 16 | static_cast<std::uint32_t>(r[at + 3]) << 24;
}

std::uint16_t U16(const Bytes& r, std::size_t at) { return static_cast<std::uint16_t>(r[at] | r[at + 1] << 8); }

void PutText(Bytes& out, const std::string& text, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i) out.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
}

void PutN(Bytes& out, std::uint64_t v, int width)
{
    for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t SignMagnitude(std::int64_t v)
{
    const auto m = static_cast<std::uint32_t>((v < 0 ? -v : v) & 0x7FFFFFFF);
    return v < 0 ? m | 0x80000000u : m;
}

std::uint8_t Bcd(int v) { return static_cast<std::uint8_t>(((v / 10) % 10) << 4 | (v % 10)); }

int FromBcd(std::uint8_t b)
{
    if ((b >> 4) > 9 || (b & 15) > 9) return -1;
    return (b >> 4) * 10 + (b & 15);
}

std::string Utf8(const std::uint8_t* p, std::size_t n)
{
    std::string s;
    auto put = [&](unsigned cp) {
        if (cp < 0x80) {
            s += static_cast<char>(cp);
        } else {
            s += static_cast<char>(0xC0 | cp >> 6);
            s += static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    static const unsigned kHigh[16] = {0x401, 0x451,  0x404, 0x454,  0x407,  0x457, 0x40E,  0x45E,
                                       0xB0,  0x2219, 0xB7,  0x221A, 0x2116, 0xA4,  0x25A0, 0xA0};
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned c = p[i];
        if (c < 0x20) put(' ');
        else if (c < 0x80) put(c);
        else if (c < 0xB0) put(0x410 + (c - 0x80));
        else if (c >= 0xE0 && c < 0xF0) put(0x440 + (c - 0xE0));
        else if (c >= 0xF0 && kHigh[c - 0xF0] < 0x800) put(kHigh[c - 0xF0]);
        else put('?');
    }
    return s;
}

std::string Money(std::int64_t v)
{
    char b[32];
    const std::int64_t m = v < 0 ? -v : v;
    std::snprintf(b, sizeof b, "%s%" PRId64 ".%02" PRId64, v < 0 ? "-" : "", m / 100, m % 100);
    return b;
}

std::string Format(const char* fmt, ...)
{
    char b[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(b, sizeof b, fmt, ap);
    va_end(ap);
    return b;
}

std::string Columns(const std::string& left, const std::string& right, const char* tail)
{
    auto chars = [](const std::string& t) {
        std::size_t n = 0;
        for (unsigned char c : t) n += (c & 0xC0) != 0x80;
        return n;
    };
    const std::size_t used = chars(left) + chars(right);
    return left + std::string(used < 31 ? 31 - used : 1, ' ') + right + tail;
}

std::string Stamp(std::time_t t)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    return Format("%02d.%02d.%02d %02d:%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100, tm.tm_hour, tm.tm_min);
}

void Print(RegisterState& st, const std::string& line, bool toConsole)
{
    if (st.receipt.open) st.receipt.lines.push_back(line);
    if (st.tape) {
        std::fprintf(st.tape, "%s\n", line.c_str());
        std::fflush(st.tape);
    }
    if (st.printed && toConsole) st.printed(line);
}

} // namespace serialsim
