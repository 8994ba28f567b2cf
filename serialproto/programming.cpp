#include "serialproto/programming.h"

#include "serialproto/commands.h"
#include "serialproto/request_fields.h"

namespace serialproto {

using fpresult::Result;

namespace {

using fields::Invalid;
using fields::Put;
using fields::PutText;

Result Start(Request& out, Command code, std::int16_t password)
{
    out.assign(1, code);
    Put(out, static_cast<std::uint16_t>(password), 2);
    return fpresult::kOk;
}

Result Bare(Command code, Request& out)
{
    out.assign(1, code);
    return fpresult::kOk;
}

bool Digit(char c) { return c >= '0' && c <= '9'; }

// "xx?xx?xx" with `sep` at 2 and 5: three BCD bytes.
Result EncodeBcd3(Command code, const std::string& text, char sep, Request& out)
{
    if (text.size() != 8 || text[2] != sep || text[5] != sep) return Invalid(out);
    out.assign(1, code);
    for (int g = 0; g < 3; ++g) {
        const char hi = text[3 * g], lo = text[3 * g + 1];
        if (!Digit(hi) || !Digit(lo)) return Invalid(out);
        out.push_back(static_cast<std::uint8_t>((hi - '0') << 4 | (lo - '0')));
    }
    return fpresult::kOk;
}

bool FitsByte(std::int32_t v) { return v >= 0 && v <= 0xFF; }
bool FitsInt16(std::int32_t v) { return v >= -32768 && v <= 32767; }

// One header line: line byte (length and, with a text, the flags), then the text.
void PutHeaderLine(Request& out, const std::string& text, std::uint8_t flags)
{
    const std::size_t max = (flags & kDoubleWidth) ? 18 : 24;
    const std::string t = FieldText(text, max);
    std::uint8_t line = static_cast<std::uint8_t>(t.size());
    if (!t.empty()) line |= flags;
    out.push_back(line);
    PutText(out, t);
}

} // namespace

Result EncodeSetDate(const std::string& text, Request& out) { return EncodeBcd3(kCmdSetDate, text, '/', out); }
Result EncodeSetTime(const std::string& text, Request& out) { return EncodeBcd3(kCmdSetTime, text, ':', out); }

Result EncodeChangePassword(std::int32_t userId, std::int16_t oldPassword, std::int16_t newPassword,
                            const std::string& userName, Request& out)
{
    if (!FitsByte(userId)) return Invalid(out);
    const std::string name = FieldText(userName, 15);
    Start(out, kCmdChangePassword, oldPassword);
    out.push_back(static_cast<std::uint8_t>(userId));
    Put(out, static_cast<std::uint16_t>(newPassword), 2);
    out.push_back(static_cast<std::uint8_t>(name.size()));
    PutText(out, name);
    return fpresult::kOk;
}

Result EncodeLogin(std::int32_t userId, std::int16_t password, const std::string& userName, Request& out)
{
    if (!FitsByte(userId)) return Invalid(out);
    const std::string name = FieldText(userName, 15);
    Start(out, kCmdLogin, password);
    out.push_back(static_cast<std::uint8_t>(userId));
    out.push_back(name.empty() ? std::uint8_t{0xFF} : static_cast<std::uint8_t>(name.size()));
    PutText(out, name);
    return fpresult::kOk;
}

Result EncodeLogout(std::int32_t userId, std::int16_t password, Request& out)
{
    if (!FitsByte(userId)) return Invalid(out);
    Start(out, kCmdLogin, password);
    out.push_back(static_cast<std::uint8_t>(userId));
    out.push_back(0);
    return fpresult::kOk;
}

Result EncodeSetFiscalNumber(std::int16_t password, const std::string& fiscalNumber, Request& out)
{
    if (fiscalNumber.size() != 10) return Invalid(out);
    Start(out, kCmdSetFiscalNumber, password);
    PutText(out, FieldText(fiscalNumber, 10));
    return fpresult::kOk;
}

Result EncodeSetTaxPayerInfo(std::int16_t password, const std::string& taxNumber, const std::string& info1,
                             const std::string& info2, const std::string& info3, std::int32_t format, Request& out)
{
    if (taxNumber.size() != 12) return Invalid(out);
    const auto flags = [format](int shift) { return static_cast<std::uint8_t>(((format >> shift) & 3) << 6); };
    Start(out, kCmdSetTaxPayerInfo, password);
    PutHeaderLine(out, info1, flags(4));
    PutHeaderLine(out, info2, flags(2));
    PutHeaderLine(out, info3, flags(0));
    out.push_back(static_cast<std::uint8_t>(12 | ((format & 0x80) ? kDoubleHeight : 0)));
    PutText(out, FieldText(taxNumber, 12));
    return fpresult::kOk;
}

Result EncodeSetCheckCaption(std::int32_t rowId, const std::string& text, bool doubleWidth, bool doubleHeight,
                             Request& out)
{
    if (rowId < 0 || rowId > 7) return Invalid(out);
    const std::string t = FieldText(text, doubleWidth ? 20 : 36);
    std::uint8_t line = static_cast<std::uint8_t>(t.size());
    if (!t.empty()) line |= (doubleWidth ? kDoubleWidth : 0) | (doubleHeight ? kDoubleHeight : 0);
    out = {kCmdSetCheckCaption, static_cast<std::uint8_t>(rowId), line};
    PutText(out, t);
    return fpresult::kOk;
}

Result EncodeSetTaxData(std::int16_t password, const TaxTableData& table, Request& out)
{
    if (table.Count < 0 || table.Count > kMaxTaxRates) return Invalid(out);
    const std::uint8_t flags = static_cast<std::uint8_t>(table.Flags & 0xFF);
    const bool fees = (flags & kTaxFlagFees) != 0;
    for (std::int32_t i = 0; i < table.Count; ++i)
        if (!FitsInt16(table.TaxRate[i]) || (fees && !FitsInt16(table.FeeRate[i]))) return Invalid(out);
    if (fees && !FitsInt16(table.FeeRate[kMaxTaxRates])) return Invalid(out);

    Start(out, kCmdSetTaxData, password);
    out.push_back(static_cast<std::uint8_t>(table.Count));
    for (std::int32_t i = 0; i < table.Count; ++i) Put(out, static_cast<std::uint32_t>(table.TaxRate[i]), 2);
    out.push_back(flags);
    if (fees) {
        for (std::int32_t i = 0; i < table.Count; ++i) Put(out, static_cast<std::uint32_t>(table.FeeRate[i]), 2);
        Put(out, static_cast<std::uint32_t>(table.FeeRate[kMaxTaxRates]), 2);
    }
    return fpresult::kOk;
}

Result EncodeProgramArticle(std::int16_t password, const ProgrammedArticle& a, Request& out)
{
    std::uint32_t price = 0;
    // A count format outside its byte would be cut to another format.
    if (a.TaxType < kTaxGroupFirst || a.TaxType > kTaxGroupLast || a.CodeEx < 0 || a.CodeEx > 0xFFFF ||
        a.CountFormat < 0 || a.CountFormat > 0xFF || !ToSignMagnitude(a.Price, price))
        return Invalid(out);
    const std::string name = FieldText(a.Name, 75);
    Start(out, kCmdProgramArticle, password);
    out.push_back(static_cast<std::uint8_t>(a.CountFormat & 0x3F));
    Put(out, price, 4);
    out.push_back(static_cast<std::uint8_t>(a.TaxType));
    out.push_back(static_cast<std::uint8_t>(name.size()));
    PutText(out, name);
    Put(out, static_cast<std::uint32_t>(a.Code), 4);
    Put(out, static_cast<std::uint32_t>(a.CodeEx), 2);
    return fpresult::kOk;
}

Result EncodeChangeBitrate(std::int32_t bitrate, Request& out)
{
    std::uint8_t code = 0;
    switch (bitrate) {
    case 9600: code = 0; break;
    case 19200: code = 1; break;
    case 38400: code = 2; break;
    default: return Invalid(out);
    }
    out = {kCmdChangeBitrate, code};
    return fpresult::kOk;
}

Result EncodeSetPayTypeName(std::int16_t password, std::int32_t type, const std::string& text, Request& out)
{
    if (type < 0 || type > 9 || type == kPayCash) return Invalid(out);
    const std::string t = FieldText(text, 15);
    Start(out, kCmdSetPayTypeName, password);
    out.push_back(static_cast<std::uint8_t>(type));
    out.push_back(static_cast<std::uint8_t>(t.size()));
    PutText(out, t);
    return fpresult::kOk;
}

Result EncodePrintVersion(Request& out) { return Bare(kCmdPrintVersion, out); }
Result EncodeAlterOnlineMode(Request& out) { return Bare(kCmdAlterOnlineMode, out); }
Result EncodeAlterCutterMode(Request& out) { return Bare(kCmdAlterCutterMode, out); }
Result EncodePersonalize(std::int16_t password, Request& out) { return Start(out, kCmdPersonalize, password); }

} // namespace serialproto
