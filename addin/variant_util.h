// Reading and writing host values. Nothing here reads a value as a type it does not
// carry: a string is only taken from VTYPE_PWSTR, a number only from a numeric type.
#pragma once

#include "addin/native_api.h"

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

// A number: R8, R4 and the integer types (not necessarily finite). False for any other type.
bool readNumber(const tVariant& v, double& out);

// readNumber, or the ERROR line "tVariant to double conversion error!" and 0.
double toDouble(const tVariant& v);

} // namespace oltra
