// Encoders and decoders of the display, safe, receipt and printing commands. Pure
// functions: an encoder checks its arguments (fpresult::kInvalidArg, and `out` is left
// empty, when a check fails) and builds the request; a decoder reads the answer data
// (Link::LastAnswer()). Texts are passed in the register's
// character set (one byte per character); every byte below 0x20 is sent as a space
// and a text longer than its field is cut to the field's maximum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serialproto/result_codes.h"

namespace serialproto {

using Request = std::vector<std::uint8_t>;

// Tax groups (FPTaxType) and pay types (FPPayType) as the register numbers them.
constexpr int kTaxGroupFirst = 128; // group А
constexpr int kTaxGroupLast = 133;  // group Е
constexpr int kPayCard = 0, kPayCredit = 1, kPayCheque = 2, kPayCash = 3, kPayNonFiscal = 64;

// The text as it goes into a field of at most `max` bytes.
std::string FieldText(const std::string& text, std::size_t max);

// Sign-magnitude 32-bit amounts: bit 31 the sign, bits 0 to 30 the magnitude.
// The encoder fails (false) for a magnitude that does not fit in 31 bits.
bool ToSignMagnitude(std::int32_t value, std::uint32_t& field);
std::int32_t FromSignMagnitude(std::uint32_t field);

fpresult::Result EncodeLineFeed(Request& out);
fpresult::Result EncodeCancelCheck(Request& out);
fpresult::Result EncodeOpenSafe(Request& out);
// Row 0 or 1; at most 20 characters.
fpresult::Result EncodeDisplayString(std::int32_t row, const std::string& text, Request& out);
// Sum > 0: deposit (0x10), Sum < 0: withdrawal (0x18), both with the magnitude.
fpresult::Result EncodeChangeSafeSum(std::int32_t sum, Request& out);
// At most 27 characters; the length byte carries 0x80 for a refund receipt.
fpresult::Result EncodeCommentCheck(const std::string& text, bool refund, Request& out);

struct Article {
    std::int32_t Code = 0;
    std::int32_t Count = 0; // in units of 10^-(CountFormat bits 0 to 2)
    std::int32_t Price = 0; // smallest currency unit, sent sign-magnitude
    std::int32_t TaxType = kTaxGroupFirst;
    std::string Name;             // at most 75 characters; empty: length byte 0xFF
    std::int32_t CountFormat = 0; // 0 to 255, one byte; bit 7 only for a count of one unit
    std::int32_t CodeEx = 0;      // 0 to 65535
};
// SaleArticle (refund = false, 0x14) and RefundArticle (refund = true, 0x0B).
fpresult::Result EncodeArticle(const Article& a, bool refund, Request& out);

// GiveDiscount: Value != 0; in percent mode (!sumMode) the magnitude fits in 24 bits
// and percentFormat (0 to 127) goes to bits 24 to 30. A positive Value is sent
// with bit 31 set, a negative one with bit 31 clear. At most 25 characters of text.
fpresult::Result EncodeGiveDiscount(std::int32_t value, bool onTotal, bool sumMode, const std::string& text,
                                    std::int32_t percentFormat, Request& out);
// PayCheck: type (1: 0 to 9 or 64), sum (4, two's complement), 0, text (at most 27).
fpresult::Result EncodePayCheck(std::int32_t type, std::int32_t sum, const std::string& text, Request& out);
fpresult::Result EncodePrintCopy(std::int32_t recordId, Request& out);
// 2 to 16 characters.
fpresult::Result EncodeSetCheckBarcode(const std::string& text, Request& out);
// Empty (one byte 0) or exactly 13 characters, no length byte.
fpresult::Result EncodePrintBarcode(const std::string& text, Request& out);
// 8 to 274 characters, 16-bit length.
fpresult::Result EncodePrintQR(const std::string& text, Request& out);
// At most 37 characters; empty: 0xFF.
fpresult::Result EncodePrintComment(const std::string& text, Request& out);
// Text: 0xFE, length, text (at most 37); empty: 0xFF.
fpresult::Result EncodePrintCommentBarcode(const std::string& text, Request& out);

// Answers. A value whose bytes are missing is 0, and Complete tells whether both came;
// an answer that is not complete is a protocol error for the caller.
constexpr std::int32_t kAmountAnswerLength = 8;
struct AmountAnswer {
    std::int32_t Result = 0;
    std::int32_t TotalSum = 0;
    bool Complete = false; // at least 8 data bytes
};
// SaleArticle/RefundArticle: result bytes 0-3, total bytes 4-7 (two's complement).
AmountAnswer DecodeArticleAnswer(const std::uint8_t* data, std::int32_t n);
// PayCheck: total bytes 0-3 (sign-magnitude), result (rest or change) bytes 4-7.
AmountAnswer DecodePayAnswer(const std::uint8_t* data, std::int32_t n);
// GiveDiscount: result bytes 0-3 (sign-magnitude), total bytes 4-7.
AmountAnswer DecodeDiscountAnswer(const std::uint8_t* data, std::int32_t n);
// ChangeSafeSum: bytes 0-3.
std::int32_t DecodeSafeSum(const std::uint8_t* data, std::int32_t n);
// The same, FPE_PROTOCOL (and `sum` untouched) when fewer than 4 bytes came.
fpresult::Result DecodeSafeSum(const std::uint8_t* data, std::int32_t n, std::int32_t& sum);

} // namespace serialproto
