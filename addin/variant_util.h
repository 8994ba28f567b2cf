// Reading and writing host values. Nothing here reads a value as a type it does not
// carry: a string is only taken from VTYPE_PWSTR, a number only from a numeric type.
#pragma once

#include "native_api.h"

#include <cstdint>
#include <string>

namespace oltra {

void setEmpty(tVariant* v);
void setBool(tVariant* v, bool value);
void setI4(tVariant* v, int32_t value);

// The wide string of a VTYPE_PWSTR value (pwstrVal, wstrLen code units). False for any
// other type and for a null pointer with a non-zero length.
bool readString(const tVariant& v, std::u16string& out);

// A whole number that fits in 32 bits: any integer type, or an R4/R8 holding a whole
// number. False for strings, BOOL, EMPTY and fractions.
bool readInt32(const tVariant& v, int32_t& out);

// A flag: BOOL, or a whole number (non-zero is true).
bool readFlag(const tVariant& v, bool& out);

// A number for the register: I4 and R8, and the other integer types. Any other type
// writes the ERROR line "tVariant to double conversion error!" and gives 0.
double toDouble(const tVariant& v);

} // namespace oltra
