#include "serialproto/receipt.h"

#include "serialproto/commands.h"
#include "serialproto/answer_fields.h"
#include "serialproto/request_fields.h"

namespace serialproto {

using fpresult::Result;

namespace {

using fields::Get32;
using fields::GetS32;
using fields::Invalid;
using fields::Put;
using fields::PutText;

std::uint32_t Magnitude(std::int32_t v)
{
    return v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
}

Result Bare(std::uint8_t code, Request& out)
{
    out.assign(1, code);
    return fpresult::kOk;
}

} // namespace

std::string FieldText(const std::string& text, std::size_t max)
{
    std::string s = text.substr(0, max);
    for (auto& c : s)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return s;
}

bool ToSignMagnitude(std::int32_t value, std::uint32_t& field)
{
    const std::uint32_t m = Magnitude(value);
    if (m > 0x7FFFFFFFu) return false;
    field = value < 0 ? (m | 0x80000000u) : m;
    return true;
}

std::int32_t FromSignMagnitude(std::uint32_t field)
{
    const auto m = static_cast<std::int32_t>(field & 0x7FFFFFFFu);
    return (field & 0x80000000u) ? -m : m;
}

Result EncodeLineFeed(Request& out) { return Bare(kCmdLineFeed, out); }
Result EncodeCancelCheck(Request& out) { return Bare(kCmdCancelCheck, out); }
Result EncodeOpenSafe(Request& out) { return Bare(kCmdOpenSafe, out); }

Result EncodeDisplayString(std::int32_t row, const std::string& text, Request& out)
{
    if (row != 0 && row != 1) return Invalid(out);
    const std::string t = FieldText(text, 20);
    out = {kCmdDisplayString, static_cast<std::uint8_t>(row), static_cast<std::uint8_t>(t.size())};
    PutText(out, t);
    return fpresult::kOk;
}

Result EncodeChangeSafeSum(std::int32_t sum, Request& out)
{
    if (sum == 0) return Invalid(out);
    out.assign(1, sum > 0 ? kCmdDeposit : kCmdWithdrawal);
    Put(out, Magnitude(sum), 4);
    return fpresult::kOk;
}

Result EncodeCommentCheck(const std::string& text, bool refund, Request& out)
{
    const std::string t = FieldText(text, 27);
    out = {kCmdCommentCheck, static_cast<std::uint8_t>(t.size() | (refund ? 0x80 : 0))};
    PutText(out, t);
    return fpresult::kOk;
}

Result EncodeArticle(const Article& a, bool refund, Request& out)
{
    std::uint32_t price = 0;
    if (a.Count == 0 || Magnitude(a.Count) >= (1u << 24) || a.TaxType < kTaxGroupFirst || a.TaxType > kTaxGroupLast ||
        a.CodeEx < 0 || a.CodeEx > 0xFFFF || a.CountFormat < 0 || a.CountFormat > 0xFF ||
        !ToSignMagnitude(a.Price, price))
        return Invalid(out);
    std::uint8_t format = static_cast<std::uint8_t>(a.CountFormat);
    if (format & 0x80) {
        std::int32_t unit = 1;
        for (int i = 0; i < (format & 7); ++i) unit *= 10;
        if (a.Count != unit) format &= 0x7F;
    }
    const std::string name = FieldText(a.Name, 75);
    out.assign(1, refund ? kCmdRefundArticle : kCmdSaleArticle);
    Put(out, static_cast<std::uint32_t>(a.Count), 3);
    out.push_back(format);
    Put(out, price, 4);
    out.push_back(static_cast<std::uint8_t>(a.TaxType));
    out.push_back(name.empty() ? 0xFF : static_cast<std::uint8_t>(name.size()));
    PutText(out, name);
    Put(out, static_cast<std::uint32_t>(a.Code), 4);
    Put(out, static_cast<std::uint32_t>(a.CodeEx), 2);
    return fpresult::kOk;
}

Result EncodeGiveDiscount(std::int32_t value, bool onTotal, bool sumMode, const std::string& text,
                          std::int32_t percentFormat, Request& out)
{
    const std::uint32_t m = Magnitude(value);
    if (value == 0 || m > 0x7FFFFFFFu) return Invalid(out);
    std::uint32_t field = m;
    if (!sumMode) {
        if (m > 0xFFFFFFu || percentFormat < 0 || percentFormat > 0x7F) return Invalid(out);
        field |= static_cast<std::uint32_t>(percentFormat) << 24;
    }
    if (value > 0) field |= 0x80000000u;
    const std::string t = FieldText(text, 25);
    out = {kCmdGiveDiscount, static_cast<std::uint8_t>((onTotal ? 2 : 0) + (sumMode ? 1 : 0))};
    Put(out, field, 4);
    out.push_back(static_cast<std::uint8_t>(t.size()));
    PutText(out, t);
    return fpresult::kOk;
}

Result EncodePayCheck(std::int32_t type, std::int32_t sum, const std::string& text, Request& out)
{
    if ((type < kPayCard || type > 9) && type != kPayNonFiscal) return Invalid(out);
    const std::string t = FieldText(text, 27);
    out = {kCmdPayCheck, static_cast<std::uint8_t>(type)};
    Put(out, static_cast<std::uint32_t>(sum), 4);
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>(t.size()));
    PutText(out, t);
    return fpresult::kOk;
}

Result EncodePrintCopy(std::int32_t recordId, Request& out)
{
    out.assign(1, kCmdPrintCopy);
    Put(out, static_cast<std::uint32_t>(recordId), 4);
    return fpresult::kOk;
}

Result EncodeSetCheckBarcode(const std::string& text, Request& out)
{
    if (text.size() < 2 || text.size() > 16) return Invalid(out);
    const std::string t = FieldText(text, 16);
    out = {kCmdSetCheckBarcode, static_cast<std::uint8_t>(t.size())};
    PutText(out, t);
    return fpresult::kOk;
}

Result EncodePrintBarcode(const std::string& text, Request& out)
{
    if (!text.empty() && text.size() != 13) return Invalid(out);
    out.assign(1, kCmdPrintBarcode);
    if (text.empty()) out.push_back(0);
    else PutText(out, FieldText(text, 13));
    return fpresult::kOk;
}

Result EncodePrintQR(const std::string& text, Request& out)
{
    if (text.size() < 8 || text.size() > 274) return Invalid(out);
    const std::string t = FieldText(text, 274);
    out.assign(1, kCmdPrintQR);
    Put(out, static_cast<std::uint32_t>(t.size()), 2);
    PutText(out, t);
    return fpresult::kOk;
}

Result EncodePrintComment(const std::string& text, Request& out)
{
    const std::string t = FieldText(text, 37);
    out = {kCmdPrintComment, t.empty() ? std::uint8_t{0xFF} : static_cast<std::uint8_t>(t.size())};
    PutText(out, t);
    return fpresult::kOk;
}

Result EncodePrintCommentBarcode(const std::string& text, Request& out)
{
    if (text.empty()) {
        out = {kCmdPrintComment, 0xFF};
        return fpresult::kOk;
    }
    const std::string t = FieldText(text, 37);
    out = {kCmdPrintComment, 0xFE, static_cast<std::uint8_t>(t.size())};
    PutText(out, t);
    return fpresult::kOk;
}

AmountAnswer DecodeArticleAnswer(const std::uint8_t* data, std::int32_t n)
{
    AmountAnswer a;
    a.Complete = data && n >= kAmountAnswerLength;
    if (data && n >= 4) a.Result = GetS32(data);
    if (data && n >= 8) a.TotalSum = GetS32(data + 4);
    return a;
}

AmountAnswer DecodePayAnswer(const std::uint8_t* data, std::int32_t n)
{
    AmountAnswer a;
    a.Complete = data && n >= kAmountAnswerLength;
    if (data && n >= 4) a.TotalSum = FromSignMagnitude(Get32(data));
    if (data && n >= 8) a.Result = GetS32(data + 4);
    return a;
}

AmountAnswer DecodeDiscountAnswer(const std::uint8_t* data, std::int32_t n)
{
    AmountAnswer a;
    a.Complete = data && n >= kAmountAnswerLength;
    if (data && n >= 4) a.Result = FromSignMagnitude(Get32(data));
    if (data && n >= 8) a.TotalSum = GetS32(data + 4);
    return a;
}

std::int32_t DecodeSafeSum(const std::uint8_t* data, std::int32_t n) { return data && n >= 4 ? GetS32(data) : 0; }

Result DecodeSafeSum(const std::uint8_t* data, std::int32_t n, std::int32_t& sum)
{
    if (!data || n < 4) return FPE_PROTOCOL;
    sum = GetS32(data);
    return fpresult::kOk;
}

} // namespace serialproto
