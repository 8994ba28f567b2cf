// Text helpers of the register client: locale-independent fixed-point numbers, JSON string
// escaping, and cutting Unicode text into pieces of whole characters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace oltra {

// `value` rounded half away from zero to `decimals` places and written with exactly that
// many decimals, "." as the point, "-" only when the written number is not zero. Values
// that are not finite or beyond ±1e15 are written as 0.
std::string fixedNumber(double value, int decimals);
std::u16string fixedNumber16(double value, int decimals);

// Contents of a JSON string literal for `text` (without the quotes): backslash, double
// quote and control characters escaped.
std::u16string jsonEscape(const std::u16string& text);

// Consecutive pieces of at most `length` characters (a surrogate pair is one character);
// none for an empty text or a length below 1.
std::vector<std::u16string> splitCharacters(const std::u16string& text, int length);

// ASCII white space trimmed from both ends.
std::u16string trimmed(const std::u16string& text);

// Percent-encodes every byte outside A-Z a-z 0-9 - . _ ~ / : (a query value that can't
// add query parameters; "/" and ":" are legal in a query and stay as they are, for dates
// and times).
std::string queryValue(const std::string& utf8);

} // namespace oltra
