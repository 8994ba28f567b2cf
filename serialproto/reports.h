// Encoders and decoders of the report and query commands (X/Z reports, article and
// periodic reports, running totals, receipt sums, safe sum, time to block, memory).
// Pure functions, in the style of receipt.h: an encoder checks its arguments
// (fpresult::kInvalidArg, `out` left empty) and builds the request; a decoder reads the
// answer data and gives FPE_PROTOCOL (or the code named below) for a malformed answer.
#pragma once

#include <cstdint>
#include <string>

#include "receipt.h"
#include "result_codes.h"

namespace serialproto {

fpresult::Result EncodePrintXReport(std::int16_t password, Request& out);
fpresult::Result EncodePrintZReport(std::int16_t password, Request& out);
// The code range is sent only when any of the four codes is not 0.
fpresult::Result EncodePrintArtReport(std::int16_t password, std::int32_t fromCode, std::int32_t toCode,
                                      std::int32_t fromCodeEx, std::int32_t toCodeEx, Request& out);
// Dates "dd/mm/yy" (exactly 8 characters, digits and '/'); 0x1A for the short form.
fpresult::Result EncodePrintReportByDate(std::int16_t password, const std::string& from,
                                         const std::string& to, bool shortForm, Request& out);
fpresult::Result EncodePrintReportById(std::int16_t password, std::int32_t idFrom, std::int32_t idTo,
                                       Request& out);
fpresult::Result EncodeGetXReport(Request& out);
fpresult::Result EncodeGetCheckSum(Request& out);
fpresult::Result EncodeGetSafeSum(Request& out);
fpresult::Result EncodeGetArticleInfo(std::int32_t code, std::int32_t codeEx, Request& out);
fpresult::Result EncodeGetTimeToBlock(std::int16_t password, Request& out);
// Count 1 to 128.
fpresult::Result EncodeReadMemory(std::int32_t blockAddr, std::int32_t page, std::int32_t count,
                                  Request& out);

// PrintZReport answer: data bytes 0 to 3 when at least 4 were sent, else 0.
std::int32_t DecodeZReportResult(const std::uint8_t* data, std::int32_t n);

// GetSafeSum answer: only exactly 5 data bytes give a value (40-bit unsigned); any other
// length leaves `sum` at 0.0 and is not an error.
void DecodeGetSafeSum(const std::uint8_t* data, std::int32_t n, double& sum);

// GetTimeToBlock answer: at least 168 bytes with byte 0 equal to 0, else FPE_MODEM.
fpresult::Result DecodeTimeToBlock(const std::uint8_t* data, std::int32_t n, std::int32_t& seconds);

struct SumsByTax {
    std::int32_t Sum[6] = {};  // groups A, B, V, G, D, E
};
struct SumsByPay {
    std::int32_t Sum[10] = {};  // card, credit, cheque, cash, others 4 to 9
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
// Exactly 156 bytes, else FPE_PROTOCOL (and `r` untouched).
fpresult::Result DecodeXReport(const std::uint8_t* data, std::int32_t n, XReportData& r);

struct CheckSumData {
    SumsByTax ByTax;
    SumsByPay ByPay;
    std::int32_t TotalSum = 0, PayedSum = 0;  // sums of the groups, 32-bit wrap-around
};
// At least 64 bytes (further bytes ignored), else FPE_PROTOCOL.
fpresult::Result DecodeCheckSum(const std::uint8_t* data, std::int32_t n, CheckSumData& r);

} // namespace serialproto
