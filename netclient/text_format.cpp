#include "netclient/text_format.h"

#include <cmath>
#include <cstdio>

namespace oltra {

std::string fixedNumber(double value, int decimals)
{
    if (decimals < 0) decimals = 0;
    if (decimals > 6) decimals = 6;
    if (!std::isfinite(value) || std::fabs(value) > 1e15) value = 0;
    long long scale = 1;
    for (int i = 0; i < decimals; ++i) scale *= 10;
    const long long units = std::llround(value * static_cast<double>(scale));
    const unsigned long long magnitude = units < 0 ? 0ULL - static_cast<unsigned long long>(units)
                                                   : static_cast<unsigned long long>(units);
    std::string text = units < 0 ? "-" : "";
    text += std::to_string(magnitude / static_cast<unsigned long long>(scale));
    if (decimals > 0) {
        std::string fraction = std::to_string(magnitude % static_cast<unsigned long long>(scale));
        text += '.';
        text += std::string(static_cast<std::size_t>(decimals) - fraction.size(), '0') + fraction;
    }
    return text;
}

std::u16string fixedNumber16(double value, int decimals)
{
    const std::string narrow = fixedNumber(value, decimals);
    return std::u16string(narrow.begin(), narrow.end());
}

std::u16string jsonEscape(const std::u16string& text)
{
    std::u16string out;
    out.reserve(text.size() + 8);
    for (char16_t c : text) {
        switch (c) {
        case u'"': out += u"\\\""; break;
        case u'\\': out += u"\\\\"; break;
        case u'\n': out += u"\\n"; break;
        case u'\r': out += u"\\r"; break;
        case u'\t': out += u"\\t"; break;
        case u'\b': out += u"\\b"; break;
        case u'\f': out += u"\\f"; break;
        default:
            if (c < 0x20) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\u%04x", static_cast<unsigned>(c));
                out.append(hex, hex + 6);
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::vector<std::u16string> splitCharacters(const std::u16string& text, int length)
{
    std::vector<std::u16string> pieces;
    if (length < 1) return pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        for (int n = 0; n < length && end < text.size(); ++n) {
            const bool pair = text[end] >= 0xD800 && text[end] <= 0xDBFF && end + 1 < text.size() &&
                              text[end + 1] >= 0xDC00 && text[end + 1] <= 0xDFFF;
            end += pair ? 2 : 1;
        }
        pieces.push_back(text.substr(start, end - start));
        start = end;
    }
    return pieces;
}

std::u16string trimmed(const std::u16string& text)
{
    auto space = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    std::size_t b = 0, e = text.size();
    while (b < e && space(text[b])) ++b;
    while (e > b && space(text[e - 1])) --e;
    return text.substr(b, e - b);
}

std::string queryValue(const std::string& utf8)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : utf8) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~' || c == '/' || c == ':') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

} // namespace oltra
