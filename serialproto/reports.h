// Encoders and decoders of the report and query commands (X/Z reports, article and
// periodic reports, running totals, receipt sums, safe sum, time to block, memory).
// Pure functions, in the style of receipt.h: an encoder checks its arguments
// (fpresult::kInvalidArg, `out` left empty) and builds the request; a decoder reads the
// answer data and gives FPE_PROTOCOL (or the code named below) for a malformed answer.
#pragma once

#include <cstdint>
#include <string>

#include "serialproto/receipt.h"
#include "serialproto/result_codes.h"

namespace serialproto {

fpresult::Result EncodePrintXReport(std::int16_t password, Request& out);
fpresult::Result EncodePrintZReport(std::int16_t password, Request& out);
// The code range is sent only when any of the four codes is not 0.
// The extended codes are 16-bit fields: outside 0 to 65535 they are refused.
fpresult::Result EncodePrintArtReport(std::int16_t password, std::int32_t fromCode, std::int32_t toCode,
                                      std::int32_t fromCodeEx, std::int32_t toCodeEx, Request& out);
// Dates "dd/mm/yy" (exactly 8 characters, digits and '/'); 0x1A for the short form.
fpresult::Result EncodePrintReportByDate(std::int16_t password, const std::string& from, const std::string& to,
                                         bool shortForm, Request& out);
// Report numbers are 16-bit fields: 0 to 65535.
fpresult::Result EncodePrintReportById(std::int16_t password, std::int32_t idFrom, std::int32_t idTo, Request& out);
fpresult::Result EncodeGetXReport(Request& out);
fpresult::Result EncodeGetCheckSum(Request& out);
fpresult::Result EncodeGetSafeSum(Request& out);
fpresult::Result EncodeGetTaxData(Request& out);
// CodeEx 0 to 65535.
fpresult::Result EncodeGetArticleInfo(std::int32_t code, std::int32_t codeEx, Request& out);
fpresult::Result EncodeGetTimeToBlock(std::int16_t password, Request& out);
// Count 1 to 128; Page 0 to 255; BlockAddr a 16-bit field (-32768 to 65535, a negative
// value standing for its two's complement bits).
fpresult::Result EncodeReadMemory(std::int32_t blockAddr, std::int32_t page, std::int32_t count, Request& out);

// PrintZReport answer: data bytes 0 to 3 when at least 4 were sent, else 0.
std::int32_t DecodeZReportResult(const std::uint8_t* data, std::int32_t n);

// GetSafeSum answer: exactly 5 data bytes (40-bit unsigned); any other length leaves
// `sum` at 0.0 and is FPE_PROTOCOL.
fpresult::Result DecodeGetSafeSum(const std::uint8_t* data, std::int32_t n, double& sum);

// ReadMemory answer: exactly the `count` bytes asked for, else FPE_PROTOCOL.
fpresult::Result CheckMemoryAnswer(std::int32_t count, std::int32_t n);

// GetTimeToBlock answer: at least 168 bytes with byte 0 equal to 0, else FPE_MODEM.
// With A at offset 16 and B at offset 164 (signed 32-bit): 259200 when A < 0, else
// A + 259200 - B, computed in 64 bits and held to the 32-bit range.
fpresult::Result DecodeTimeToBlock(const std::uint8_t* data, std::int32_t n, std::int32_t& seconds);

struct SumsByTax {
    std::int32_t Sum[6] = {}; // groups A, B, V, G, D, E
};
struct SumsByPay {
    std::int32_t Sum[10] = {}; // card, credit, cheque, cash, others 4 to 9
};

struct XReportData {
    std::int32_t ChecksCount = 0;
    SumsByTax ByTax;
    SumsByPay ByPay;
    std::int32_t MarkUp = 0, Discount = 0, SafePlus = 0;
    std::int32_t RefundChecksCount = 0;
    SumsByTax RefundByTax;
    SumsByPay RefundByPay;
    std::int32_t RefundMarkUp = 0, RefundDiscount = 0, SafeMinus = 0;
};
constexpr std::int32_t kXReportLength = 156;
// Exactly 156 bytes with BCD receipt counters, else FPE_PROTOCOL (and `r` untouched).
fpresult::Result DecodeXReport(const std::uint8_t* data, std::int32_t n, XReportData& r);

struct CheckSumData {
    SumsByTax ByTax;
    SumsByPay ByPay;
    std::int32_t TotalSum = 0, PayedSum = 0; // sums of the groups, 32-bit wrap-around
};
// At least 64 bytes (further bytes ignored), else FPE_PROTOCOL.
fpresult::Result DecodeCheckSum(const std::uint8_t* data, std::int32_t n, CheckSumData& r);

struct ArticleInfoData {
    bool HasName = false;   // the answer carried a name of at least one byte
    std::string Name;       // register bytes (OEM page), as sent
    std::int32_t Count = 0; // unsigned 24-bit
    std::int16_t CountFormat = 0;
    std::int32_t TaxType = 0;
    std::int32_t Price = 0;
    double TurnoverSum = 0; // unsigned 40-bit
    std::int32_t RefundCount = 0;
    std::int16_t RefundCountFormat = 0;
    double RefundTurnoverSum = 0;
};
// GetArticleInfo answer: name length and name, count and format (4), price (4), tax
// group (1), turnover (5), refund count and format (4), refund turnover (5); further
// bytes are ignored. An answer that ends before the last field is FPE_PROTOCOL and
// leaves `r` untouched.
fpresult::Result DecodeArticleInfo(const std::uint8_t* data, std::int32_t n, ArticleInfoData& r);

// The tax table. The initial values are the template a client fills for SetTaxData.
struct TaxTableData {
    std::string Date;                             // "dd/mm/yy" from the answer; empty in the template
    std::int32_t Count = 2;                       // tax rates in use, 0 to 5
    std::int32_t Flags = 0x22;                    // 0x20: fee rates follow the tax rates
    std::int32_t TaxRate[5] = {2000, 0, 0, 0, 0}; // groups A, B, V, G, D
    std::int32_t FeeRate[6] = {};                 // groups A, B, V, G, D, E
};
constexpr std::int32_t kTaxFlagFees = 0x20;
constexpr std::int32_t kMaxTaxRates = 5;
// GetTaxData answer: count (1, at most 5) and date (3, BCD), count tax rates (2 each),
// flags (1); with flag 0x20 count fee rates (2 each), and group E's fee rate when
// exactly 2 bytes are left. FPE_PROTOCOL (and `r` untouched) when it is shorter than 4
// bytes, has more than 5 rates, a date that is not BCD, or ends inside the rates, the
// flags or the fee rates.
fpresult::Result DecodeTaxData(const std::uint8_t* data, std::int32_t n, TaxTableData& r);

} // namespace serialproto
