#include "serialproto/commands.h"

#include "serialproto/link.h"

namespace serialproto {

using fpresult::Result;

std::vector<std::uint8_t> EncodeGetState() { return {kCmdGetState}; }
std::vector<std::uint8_t> EncodeGetDate() { return {kCmdGetDate}; }
std::vector<std::uint8_t> EncodeGetTime() { return {kCmdGetTime}; }

std::string BcdGroups(const std::uint8_t* p, std::size_t n, char sep)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        if (i) s += sep;
        s += digits[p[i] >> 4];
        s += digits[p[i] & 0x0F];
    }
    return s;
}

bool IsBcd(const std::uint8_t* p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if ((p[i] >> 4) > 9 || (p[i] & 0x0F) > 9) return false;
    return true;
}

static Result DecodeBcd3(const std::uint8_t* data, std::int32_t n, char sep, std::string& text)
{
    if (n != 3 || data == nullptr || !IsBcd(data, 3)) return FPE_PROTOCOL;
    text = BcdGroups(data, 3, sep);
    return fpresult::kOk;
}

Result DecodeDate(const std::uint8_t* data, std::int32_t n, std::string& text)
{
    return DecodeBcd3(data, n, '/', text);
}

Result DecodeTime(const std::uint8_t* data, std::int32_t n, std::string& text)
{
    return DecodeBcd3(data, n, ':', text);
}

// Fixed-width text field: up to its first zero byte.
static std::string FieldText(const std::uint8_t* p, std::size_t n)
{
    std::size_t len = 0;
    while (len < n && p[len] != 0) ++len;
    return std::string(reinterpret_cast<const char*>(p), len);
}

Result DecodeGetState(const std::uint8_t* data, std::int32_t n, RegisterState& state,
                      const TextConversion& fromRegister)
{
    constexpr std::int32_t kFixed = 36;
    if (data == nullptr || n < kFixed) return FPE_PROTOCOL;
    auto convert = [&](const std::string& s) { return fromRegister ? fromRegister(s) : s; };

    state.Value = static_cast<std::uint16_t>(fields::Get16(data));
    state.PrinterInfo = FieldText(data + 2, 19);
    state.FiscalInfo = FieldText(data + 26, 10) + ' ' + BcdGroups(data + 21, 3, '/') + ' ' +
                       BcdGroups(data + 24, 2, ':');
    for (auto& t : state.TaxPayerInfo) t.clear();

    std::int32_t pos = kFixed;
    for (int k = 0; k < 4 && pos < n; ++k) {
        const std::int32_t len = k < 3 ? (data[pos] & 0x3F) : data[pos];
        if (len > n - pos - 1) return FPE_PROTOCOL;
        const std::string text = convert(
            std::string(reinterpret_cast<const char*>(data + pos + 1), static_cast<std::size_t>(len)));
        pos += 1 + len;
        if (k < 3) state.TaxPayerInfo[k] = text;
        else state.FiscalInfo += ' ' + text;
    }
    if (pos < n)
        state.PrinterInfo += " ver " +
                             std::string(reinterpret_cast<const char*>(data + pos), static_cast<std::size_t>(n - pos));
    return fpresult::kOk;
}

static Result Send(Link& link, const std::vector<std::uint8_t>& req)
{
    return link.SendCommand(req.data(), req.size());
}

Result QueryState(Link& link, RegisterState& state, const TextConversion& fromRegister)
{
    const Result r = Send(link, EncodeGetState());
    if (r != fpresult::kOk) return r;
    return DecodeGetState(link.LastAnswer().Data(), link.LastAnswer().Size(), state, fromRegister);
}

Result QueryDate(Link& link, std::string& text)
{
    const Result r = Send(link, EncodeGetDate());
    return r != fpresult::kOk ? r : DecodeDate(link.LastAnswer().Data(), link.LastAnswer().Size(), text);
}

Result QueryTime(Link& link, std::string& text)
{
    const Result r = Send(link, EncodeGetTime());
    return r != fpresult::kOk ? r : DecodeTime(link.LastAnswer().Data(), link.LastAnswer().Size(), text);
}

Result CheckRegister(Link& link, RegisterState& state, const TextConversion& fromRegister)
{
    link.SetSequence(0);
    QueryState(link, state, fromRegister);
    return QueryState(link, state, fromRegister);
}

} // namespace serialproto
