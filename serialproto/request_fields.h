// Building blocks of the request encoders: little-endian fields, raw text, and the
// all-or-nothing failure.
#pragma once

#include <cstdint>
#include <string>

#include "serialproto/receipt.h"
#include "serialproto/result_codes.h"

namespace serialproto::fields {

// The low `width` bytes of v, least significant first.
inline void Put(Request& out, std::uint32_t v, int width)
{
    for (int i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void PutText(Request& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

// A request fails as a whole: nothing of it stays in `out`.
inline fpresult::Result Invalid(Request& out)
{
    out.clear();
    return fpresult::kInvalidArg;
}

} // namespace serialproto::fields
