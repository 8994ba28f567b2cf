// The register's answer: the data of the last accepted answer frame, and the readers of
// its little-endian fields (the decoders' counterpart of request_fields.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "serialproto/framing.h"

namespace serialproto {

class Link;

// The data of the last accepted answer, status bytes removed. Only the link layer fills it.
class Answer {
public:
    const std::uint8_t* Data() const { return bytes_; }
    std::int32_t Size() const { return length_; }

private:
    friend class Link;
    std::uint8_t bytes_[kAnswerCapacity] = {};
    std::int32_t length_ = 0;
};

namespace fields {

// Little-endian fields at p; the caller has checked that the bytes are there.
inline std::uint32_t Get16(const std::uint8_t* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
inline std::int16_t GetS16(const std::uint8_t* p) { return static_cast<std::int16_t>(Get16(p)); }
inline std::uint32_t Get24(const std::uint8_t* p) { return Get16(p) | std::uint32_t(p[2]) << 16; }
inline std::uint32_t Get32(const std::uint8_t* p) { return Get24(p) | std::uint32_t(p[3]) << 24; }
inline std::int32_t GetS32(const std::uint8_t* p) { return static_cast<std::int32_t>(Get32(p)); }
// A five-byte counter, as a double (it may pass 2^32).
inline double Get40(const std::uint8_t* p)
{
    std::uint64_t v = 0;
    for (int i = 4; i >= 0; --i) v = v << 8 | p[i];
    return static_cast<double>(v);
}

} // namespace fields
} // namespace serialproto
