// UTF-16 <-> UTF-8 conversions: the add-in's host boundary is UTF-16, the wire, the logs
// and the tools' output are UTF-8. Invalid input never throws: unpaired surrogates and
// malformed UTF-8 sequences become U+FFFD.
#pragma once

#include <string>

namespace textconv {

std::string toUtf8(const std::u16string& s);
std::string toUtf8(const char16_t* s, std::size_t length);
std::u16string toUtf16(const std::string& s);

} // namespace textconv
