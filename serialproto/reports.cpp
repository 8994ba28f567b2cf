#include "serialproto/reports.h"

#include "serialproto/commands.h"
#include "serialproto/answer_fields.h"
#include "serialproto/request_fields.h"

namespace serialproto {
namespace {

using fields::Get24;
using fields::Get32;
using fields::Get40;
using fields::GetS16;
using fields::GetS32;
using fields::Put;

bool Fits16(std::int32_t v) { return v >= 0 && v <= 0xFFFF; }

int Bcd(std::uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }

std::int32_t BcdCounter(const std::uint8_t* p) { return Bcd(p[1]) * 100 + Bcd(p[0]); }

void GetTax(const std::uint8_t* p, SumsByTax& s)
{
    for (int i = 0; i < 6; ++i) s.Sum[i] = GetS32(p + 4 * i);
}
void GetPay(const std::uint8_t* p, SumsByPay& s)
{
    for (int i = 0; i < 10; ++i) s.Sum[i] = GetS32(p + 4 * i);
}

fpresult::Result WithPassword(Command code, std::int16_t password, Request& out)
{
    out.clear();
    out.push_back(code);
    Put(out, static_cast<std::uint16_t>(password), 2);
    return fpresult::kOk;
}

fpresult::Result Bare(Command code, Request& out)
{
    out.assign(1, code);
    return fpresult::kOk;
}

bool DateBytes(const std::string& text, Request& out)
{
    if (text.size() != 8 || text[2] != '/' || text[5] != '/') return false;
    for (int g = 0; g < 3; ++g) {
        char hi = text[3 * g], lo = text[3 * g + 1];
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return false;
        out.push_back(static_cast<std::uint8_t>((hi - '0') << 4 | (lo - '0')));
    }
    return true;
}

} // namespace

fpresult::Result EncodePrintXReport(std::int16_t password, Request& out)
{
    return WithPassword(kCmdPrintXReport, password, out);
}

fpresult::Result EncodePrintZReport(std::int16_t password, Request& out)
{
    return WithPassword(kCmdPrintZReport, password, out);
}

fpresult::Result EncodePrintArtReport(std::int16_t password, std::int32_t fromCode, std::int32_t toCode,
                                      std::int32_t fromCodeEx, std::int32_t toCodeEx, Request& out)
{
    out.clear();
    if (!Fits16(fromCodeEx) || !Fits16(toCodeEx)) return fpresult::kInvalidArg;
    WithPassword(kCmdPrintArtReport, password, out);
    if (fromCode || toCode || fromCodeEx || toCodeEx) {
        Put(out, static_cast<std::uint32_t>(fromCode), 4);
        Put(out, static_cast<std::uint32_t>(fromCodeEx), 2);
        Put(out, static_cast<std::uint32_t>(toCode), 4);
        Put(out, static_cast<std::uint32_t>(toCodeEx), 2);
    }
    return fpresult::kOk;
}

fpresult::Result EncodePrintReportByDate(std::int16_t password, const std::string& from, const std::string& to,
                                         bool shortForm, Request& out)
{
    WithPassword(shortForm ? kCmdReportByDateShort : kCmdReportByDate, password, out);
    if (!DateBytes(from, out) || !DateBytes(to, out)) {
        out.clear();
        return fpresult::kInvalidArg;
    }
    return fpresult::kOk;
}

fpresult::Result EncodePrintReportById(std::int16_t password, std::int32_t idFrom, std::int32_t idTo, Request& out)
{
    out.clear();
    if (!Fits16(idFrom) || !Fits16(idTo)) return fpresult::kInvalidArg;
    WithPassword(kCmdReportById, password, out);
    Put(out, static_cast<std::uint32_t>(idFrom), 2);
    Put(out, static_cast<std::uint32_t>(idTo), 2);
    return fpresult::kOk;
}

fpresult::Result EncodeGetXReport(Request& out) { return Bare(kCmdGetXReport, out); }
fpresult::Result EncodeGetCheckSum(Request& out) { return Bare(kCmdGetCheckSum, out); }
fpresult::Result EncodeGetSafeSum(Request& out) { return Bare(kCmdGetSafeSum, out); }
fpresult::Result EncodeGetTaxData(Request& out) { return Bare(kCmdGetTaxData, out); }

fpresult::Result EncodeGetArticleInfo(std::int32_t code, std::int32_t codeEx, Request& out)
{
    out.clear();
    if (!Fits16(codeEx)) return fpresult::kInvalidArg;
    Bare(kCmdGetArticleInfo, out);
    Put(out, static_cast<std::uint32_t>(code), 4);
    Put(out, static_cast<std::uint32_t>(codeEx), 2);
    return fpresult::kOk;
}

fpresult::Result EncodeGetTimeToBlock(std::int16_t password, Request& out)
{
    WithPassword(kCmdGetTimeToBlock, password, out);
    Put(out, 1, 2);
    out.push_back(4);
    return fpresult::kOk;
}

fpresult::Result EncodeReadMemory(std::int32_t blockAddr, std::int32_t page, std::int32_t count, Request& out)
{
    out.clear();
    if (count < 1 || count > 128 || page < 0 || page > 0xFF || blockAddr < -0x8000 || blockAddr > 0xFFFF)
        return fpresult::kInvalidArg;
    out.push_back(kCmdReadMemory);
    Put(out, static_cast<std::uint32_t>(blockAddr), 2);
    out.push_back(static_cast<std::uint8_t>(page));
    out.push_back(static_cast<std::uint8_t>(count));
    return fpresult::kOk;
}

std::int32_t DecodeZReportResult(const std::uint8_t* data, std::int32_t n)
{
    return (data && n >= 4) ? GetS32(data) : 0;
}

fpresult::Result DecodeGetSafeSum(const std::uint8_t* data, std::int32_t n, double& sum)
{
    sum = 0.0;
    if (!data || n != 5) return FPE_PROTOCOL;
    sum = Get40(data);
    return fpresult::kOk;
}

fpresult::Result CheckMemoryAnswer(std::int32_t count, std::int32_t n)
{
    return n == count ? fpresult::kOk : FPE_PROTOCOL;
}

fpresult::Result DecodeTimeToBlock(const std::uint8_t* data, std::int32_t n, std::int32_t& seconds)
{
    if (!data || n < 168 || data[0] != 0) return FPE_MODEM;
    const std::int64_t kGrace = 259200; // 72 hours
    const std::int32_t a = GetS32(data + 16), b = GetS32(data + 164);
    std::int64_t v = a < 0 ? kGrace : std::int64_t(a) + kGrace - b;
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    seconds = static_cast<std::int32_t>(v);
    return fpresult::kOk;
}

fpresult::Result DecodeXReport(const std::uint8_t* data, std::int32_t n, XReportData& r)
{
    if (!data || n != kXReportLength || !IsBcd(data, 2) || !IsBcd(data + 78, 2)) return FPE_PROTOCOL;
    r.ChecksCount = BcdCounter(data);
    GetTax(data + 2, r.ByTax);
    GetPay(data + 26, r.ByPay);
    r.MarkUp = GetS32(data + 66);
    r.Discount = GetS32(data + 70);
    r.SafePlus = GetS32(data + 74);
    r.RefundChecksCount = BcdCounter(data + 78);
    GetTax(data + 80, r.RefundByTax);
    GetPay(data + 104, r.RefundByPay);
    r.RefundMarkUp = GetS32(data + 144);
    r.RefundDiscount = GetS32(data + 148);
    r.SafeMinus = GetS32(data + 152);
    return fpresult::kOk;
}

fpresult::Result DecodeCheckSum(const std::uint8_t* data, std::int32_t n, CheckSumData& r)
{
    if (!data || n < 64) return FPE_PROTOCOL;
    GetTax(data, r.ByTax);
    GetPay(data + 24, r.ByPay);
    std::uint32_t total = 0, payed = 0;
    for (auto v : r.ByTax.Sum) total += static_cast<std::uint32_t>(v);
    for (auto v : r.ByPay.Sum) payed += static_cast<std::uint32_t>(v);
    r.TotalSum = static_cast<std::int32_t>(total);
    r.PayedSum = static_cast<std::int32_t>(payed);
    return fpresult::kOk;
}

fpresult::Result DecodeArticleInfo(const std::uint8_t* data, std::int32_t n, ArticleInfoData& r)
{
    constexpr std::int32_t kFields = 4 + 4 + 1 + 5 + 4 + 5; // after the name
    if (!data || n <= 0) return FPE_PROTOCOL;
    const std::int32_t nameLength = data[0];
    if (n < 1 + nameLength + kFields) return FPE_PROTOCOL;
    ArticleInfoData a;
    a.HasName = nameLength > 0;
    a.Name.assign(reinterpret_cast<const char*>(data + 1), static_cast<std::size_t>(nameLength));
    const std::uint8_t* p = data + 1 + nameLength;
    a.Count = static_cast<std::int32_t>(Get24(p));
    a.CountFormat = p[3];
    a.Price = GetS32(p + 4);
    a.TaxType = p[8];
    a.TurnoverSum = Get40(p + 9);
    a.RefundCount = static_cast<std::int32_t>(Get24(p + 14));
    a.RefundCountFormat = p[17];
    a.RefundTurnoverSum = Get40(p + 18);
    r = a;
    return fpresult::kOk;
}

fpresult::Result DecodeTaxData(const std::uint8_t* data, std::int32_t n, TaxTableData& r)
{
    if (!data || n < 4 || data[0] > kMaxTaxRates || !IsBcd(data + 1, 3)) return FPE_PROTOCOL;
    TaxTableData t;
    t.Count = data[0];
    for (int i = 1; i <= 3; ++i) {
        if (i > 1) t.Date += '/';
        t.Date += static_cast<char>('0' + (data[i] >> 4));
        t.Date += static_cast<char>('0' + (data[i] & 0x0F));
    }
    const std::uint8_t* p = data + 4;
    std::int32_t left = n - 4;
    if (t.Count == 0) t.TaxRate[0] = 0;
    for (int i = 0; i < t.Count; ++i, p += 2, left -= 2) {
        if (left < 2) return FPE_PROTOCOL;
        t.TaxRate[i] = GetS16(p);
    }
    if (left < 1) return FPE_PROTOCOL;
    t.Flags = *p++;
    --left;
    if (t.Flags & kTaxFlagFees) {
        for (int i = 0; i < t.Count; ++i, p += 2, left -= 2) {
            if (left < 2) return FPE_PROTOCOL;
            t.FeeRate[i] = GetS16(p);
        }
        if (left == 2) t.FeeRate[5] = GetS16(p);
    }
    r = t;
    return fpresult::kOk;
}

} // namespace serialproto
