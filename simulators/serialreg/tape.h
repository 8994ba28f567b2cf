// What the register's commands share: the register error codes, field access in
// requests and answers, and the printed tape (UTF-8, 31 characters a line).
#pragma once

#include <cstdint>
#include <string>

#include "simulators/serialreg/simulator.h"

namespace serialsim {

// Register errors (answer byte 3).
constexpr std::uint8_t kErrMode = 16;         // command not allowed in this mode
constexpr std::uint8_t kErrLength = 20;       // wrong length of a field
constexpr std::uint8_t kErrNumber = 22;       // no such number (password, line, article)
constexpr std::uint8_t kErrTaxGroup = 23;     // tax group not set
constexpr std::uint8_t kErrPayType = 24;      // no such pay type
constexpr std::uint8_t kErrCharacters = 25;   // characters not allowed
constexpr std::uint8_t kErrNegativeSale = 27; // refund line above the receipt's sales
constexpr std::uint8_t kErrArticle = 28;      // bad article description
constexpr std::uint8_t kErrDate = 30;         // bad date or time
constexpr std::uint8_t kErrOverflow = 32;     // computed sum too large
constexpr std::uint8_t kErrSafe = 35;         // payout above the cash in the drawer
constexpr std::uint8_t kErrPayoutOpen = 37;   // payout receipt open, no sales
constexpr std::uint8_t kErrSalesOpen = 38;    // sales receipt open, no payouts
constexpr std::uint8_t kErrNotOpen = 39;      // no receipt open
constexpr std::uint8_t kErrNeedZ = 41;        // shift too long: Z report first
constexpr std::uint8_t kErrNoReceipts = 42;   // nothing done yet
constexpr std::uint8_t kErrNoChange = 43;     // change from this payment not allowed
constexpr std::uint8_t kErrOpen = 44;         // receipt open
constexpr std::uint8_t kErrNoSales = 45;      // discount before any sale
constexpr std::uint8_t kErrPaying = 46;       // after payments began
constexpr std::uint8_t kErrNotSent = 47;      // data not sent for more than 72 hours

constexpr std::int64_t kMaxSum = 0x7FFFFFFF;

inline Answer Error(std::uint8_t code) { return Answer{0, code, {}}; }

std::uint32_t U32(const Bytes& r, std::size_t at);
std::uint16_t U16(const Bytes& r, std::size_t at);
// Text in a field of `width` bytes, padded with zeros.
void PutText(Bytes& out, const std::string& text, std::size_t width);
// Little-endian, `width` bytes.
void PutN(Bytes& out, std::uint64_t v, int width);
inline void Put32(Bytes& out, std::int64_t v) { PutN(out, static_cast<std::uint32_t>(v), 4); }
std::uint32_t SignMagnitude(std::int64_t v);
std::uint8_t Bcd(int v);
// Packed BCD byte to its value, or -1 when a nibble is not a digit.
int FromBcd(std::uint8_t b);

// Register (code page 866) text as UTF-8.
std::string Utf8(const std::uint8_t* p, std::size_t n);
inline std::string Utf8(const std::string& oem)
{
    return Utf8(reinterpret_cast<const std::uint8_t*>(oem.data()), oem.size());
}
// 1234 -> "12.34".
std::string Money(std::int64_t v);
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// "left ... right" in a line of 31 characters (UTF-8 aware), like the register prints.
std::string Columns(const std::string& left, const std::string& right, const char* tail = "");
// "dd.mm.yy hh:mm" of register time.
std::string Stamp(std::time_t t);

constexpr const char* kRule = "==============================";
constexpr const char* kThinRule = "------------------------------";
// Cyrillic letters of the tax groups А to Е, and their Latin names A, B, V, G, D, E.
extern const char* const kGroupLetter[6];
extern const char* const kGroupLatin[6];
// Printed name of a pay type.
const char* PayName(int type);

// Prints a line on the tape (and into the open receipt, for a copy).
// `toConsole` false keeps it from the console (which draws the logo as a picture instead
// of its text art).
void Print(RegisterState& st, const std::string& line, bool toConsole = true);

} // namespace serialsim
