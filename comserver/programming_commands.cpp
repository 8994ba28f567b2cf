// FiscalPrinter: the programming and service members (clock, users, fiscal number and
// tax payer header, receipt header lines, pay type names, the article and tax tables,
// line speed, online and cutter modes, version printout, personalisation).
//
// Each follows the method frame (fiscal_printer.h): BeginCall, the entry event with
// the arguments (passwords never), the argument checks and the request (serialproto's
// encoders; a failed check is E_INVALIDARG and sends nothing), the exchange, then
// CallSucceeded or CallFailed. None of these commands answers with data.
#include "comserver/fiscal_printer.h"

#include <string>

#include "comserver/command_frame.h"
#include "serialproto/programming.h"

namespace {

using frame::Ansi;
using frame::Flag;
using frame::ForRegister;

// Setting the clock takes the register longer than other commands: the read time-out
// is 2000 ms for it, and 300 ms again afterwards whatever the outcome.
class ClockReadTimeout {
public:
    explicit ClockReadTimeout(serialproto::Link& link) : link_(link) { link_.ReadTimeout = kClockReadTimeout; }
    ~ClockReadTimeout() { link_.ReadTimeout = serialproto::Link::kDefaultReadTimeout; }
    ClockReadTimeout(const ClockReadTimeout&) = delete;
    ClockReadTimeout& operator=(const ClockReadTimeout&) = delete;

private:
    static constexpr std::uint32_t kClockReadTimeout = 2000;
    serialproto::Link& link_;
};

using ClockEncoder = fpresult::Result (*)(const std::string&, serialproto::Request&);

HRESULT SetClock(FiscalPrinter& fp, BSTR Value, ClockEncoder encode, const char* method)
{
    const DriverString text = Ansi(Value);
    WriteEvent(fp.Log, text.Text(), method);
    serialproto::Request req;
    const fpresult::Result encoded = encode(text.Text(), req);
    ClockReadTimeout slow(fp.Serial.Link);
    return frame::Simple(fp, encoded, req, method);
}

} // namespace

// ---- clock --------------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::SetDate(BSTR Value)
{
    BeginCall();
    return SetClock(*this, Value, serialproto::EncodeSetDate, "SetDate");
}

STDMETHODIMP FiscalPrinter::SetTime(BSTR Value)
{
    BeginCall();
    return SetClock(*this, Value, serialproto::EncodeSetTime, "SetTime");
}

// ---- users --------------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::ChangePassword(short UserId, short OldPassword, short NewPassword, BSTR UserName)
{
    BeginCall();
    const DriverString name = Ansi(UserName);
    WriteEventF(Log, "SetPassword", "'%s'", name.Text());
    serialproto::Request req;
    return frame::Simple(*this,
                         serialproto::EncodeChangePassword(UserId, OldPassword, NewPassword, ForRegister(name), req),
                         req, "SetPassword");
}

STDMETHODIMP FiscalPrinter::Login(short UserId, short Password, BSTR UserName)
{
    BeginCall();
    const DriverString name = Ansi(UserName);
    WriteEventF(Log, "Login", "'%s'", name.Text());
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodeLogin(UserId, Password, ForRegister(name), req), req, "Login");
}

STDMETHODIMP FiscalPrinter::Logout(short UserId, short Password)
{
    BeginCall();
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodeLogout(UserId, Password, req), req, "Logout");
}

// ---- fiscal number and headers ------------------------------------------------------------

STDMETHODIMP FiscalPrinter::SetFiscalNumber(short Password, BSTR FiscalNumber)
{
    BeginCall();
    const DriverString number = Ansi(FiscalNumber);
    WriteEventF(Log, "SetFiscalNumber", "'%s'", number.Text());
    if (!DriverString::FitsRegisterPage(FiscalNumber)) return CallFailed(E_INVALIDARG, "SetFiscalNumber");
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodeSetFiscalNumber(Password, ForRegister(number), req), req,
                         "SetFiscalNumber");
}

STDMETHODIMP FiscalPrinter::SetTaxPayerInfo(short Password, BSTR TaxNumber, BSTR Info1, BSTR Info2, BSTR Info3,
                                            short Format)
{
    BeginCall();
    const DriverString number = Ansi(TaxNumber), info1 = Ansi(Info1), info2 = Ansi(Info2), info3 = Ansi(Info3);
    WriteEventF(Log, "SetTaxPayerInfo", "0x%02X, '%s', '%s', '%s', '%s'", static_cast<unsigned>(Format) & 0xFFFFu,
                number.Text(), info1.Text(), info2.Text(), info3.Text());
    // The tax number must reach the register as given; the three info lines are free text.
    if (!DriverString::FitsRegisterPage(TaxNumber)) return CallFailed(E_INVALIDARG, "SetTaxPayerInfo");
    serialproto::Request req;
    return frame::Simple(*this,
                         serialproto::EncodeSetTaxPayerInfo(Password, ForRegister(number), ForRegister(info1),
                                                            ForRegister(info2), ForRegister(info3), Format, req),
                         req, "SetTaxPayerInfo");
}

STDMETHODIMP FiscalPrinter::SetCheckCaption(LONG RowId, BSTR Text, VARIANT_BOOL DoubleWidth, VARIANT_BOOL DoubleHeight)
{
    BeginCall();
    const DriverString text = Ansi(Text);
    WriteEventF(Log, "SetCheckCaption", "%li, %i, %i, '%s'", RowId, Flag(DoubleWidth), Flag(DoubleHeight), text.Text());
    serialproto::Request req;
    return frame::Simple(
        *this, serialproto::EncodeSetCheckCaption(RowId, ForRegister(text), DoubleWidth != 0, DoubleHeight != 0, req),
        req, "SetCheckCaption");
}

STDMETHODIMP FiscalPrinter::SetPayTypeName(short Password, FPPayType Type, BSTR Text)
{
    BeginCall();
    const DriverString text = Ansi(Text);
    WriteEventF(Log, "SetPayTypeName", "%02X, '%s'", static_cast<unsigned>(Type), text.Text());
    serialproto::Request req;
    return frame::Simple(
        *this, serialproto::EncodeSetPayTypeName(Password, static_cast<std::int32_t>(Type), ForRegister(text), req),
        req, "SetPayTypeName");
}

// ---- tax table ----------------------------------------------------------------------------

namespace {

// Reads the tax table from any ITaxData: Count first (0 to 5), then every getter in the
// interface's order. The first failing read ends it with its result.
HRESULT ReadTaxTable(ITaxData* record, serialproto::TaxTableData& table)
{
    LONG value = 0;
    HRESULT hr = record->get_Count(&value);
    if (FAILED(hr)) return hr;
    if (value < 0 || value > serialproto::kMaxTaxRates) return E_INVALIDARG;
    table.Count = value;
    HRESULT(STDMETHODCALLTYPE ITaxData::*const rates[])
    (LONG*) = {&ITaxData::get_TaxRateA, &ITaxData::get_TaxRateB, &ITaxData::get_TaxRateV, &ITaxData::get_TaxRateG,
               &ITaxData::get_TaxRateD, &ITaxData::get_FeeRateA, &ITaxData::get_FeeRateB, &ITaxData::get_FeeRateV,
               &ITaxData::get_FeeRateG, &ITaxData::get_FeeRateD, &ITaxData::get_FeeRateE};
    LONG read[11] = {};
    for (int i = 0; i < 11; ++i) {
        hr = (record->*rates[i])(&read[i]);
        if (FAILED(hr)) return hr;
    }
    SHORT flags = 0;
    hr = record->get_Flags(&flags);
    if (FAILED(hr)) return hr;
    for (int i = 0; i < serialproto::kMaxTaxRates; ++i) table.TaxRate[i] = read[i];
    for (int i = 0; i <= serialproto::kMaxTaxRates; ++i) table.FeeRate[i] = read[5 + i];
    table.Flags = static_cast<std::uint16_t>(flags);
    return S_OK;
}

} // namespace

// Writes the table in the layout GetTaxData reads. Every value sent must fit its 16
// bits: a rate of 70000 would otherwise reach the register as 4464.
STDMETHODIMP FiscalPrinter::SetTaxData(short Password, ITaxData* TaxData)
{
    BeginCall();
    if (!TaxData) return CallFailed(E_INVALIDARG, "SetTaxData");
    ITaxData* record = nullptr;
    HRESULT hr = TaxData->QueryInterface(IID_ITaxData, reinterpret_cast<void**>(&record));
    if (FAILED(hr)) return CallFailed(hr, "SetTaxData");
    if (!record) return CallFailed(E_UNEXPECTED, "SetTaxData");
    serialproto::TaxTableData table;
    hr = ReadTaxTable(record, table);
    record->Release();
    if (FAILED(hr)) return CallFailed(hr, "SetTaxData");
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodeSetTaxData(Password, table, req), req, "SetTaxData");
}

// ---- article table ------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::ProgramArticle(short Password, LONG Code, LONG Price, FPTaxType TaxType, BSTR Name,
                                           short CountFormat, LONG CodeEx)
{
    BeginCall();
    const DriverString name = Ansi(Name);
    WriteEventF(Log, "ProgramArticle", "%li, %02X, %02X, %li, '%s'", Code, static_cast<unsigned>(TaxType),
                static_cast<unsigned>(CountFormat) & 0xFFFFu, CodeEx, name.Text());
    serialproto::ProgrammedArticle a;
    a.Code = Code;
    a.Price = Price;
    a.TaxType = static_cast<std::int32_t>(TaxType);
    a.Name = ForRegister(name);
    a.CountFormat = CountFormat;
    a.CodeEx = CodeEx;
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodeProgramArticle(Password, a, req), req, "ProgramArticle");
}

// ---- service ------------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::PrintVersion()
{
    BeginCall();
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodePrintVersion(req), req, "PrintVersion");
}

STDMETHODIMP FiscalPrinter::AlterOnlineMode()
{
    BeginCall();
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodeAlterOnlineMode(req), req, "AlterOnlineMode");
}

STDMETHODIMP FiscalPrinter::AlterCutterMode()
{
    BeginCall();
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodeAlterCutterMode(req), req, "AlterCutterMode");
}

// Only the register changes its speed: the port keeps its own, and the client connects
// again at the new speed to go on.
STDMETHODIMP FiscalPrinter::ChangeBitrate(LONG Bitrate)
{
    BeginCall();
    WriteEventF(Log, "ChangeBitrate", "%li", Bitrate);
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodeChangeBitrate(Bitrate, req), req, "ChangeBitrate");
}

STDMETHODIMP FiscalPrinter::Personalize(short Password)
{
    BeginCall();
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodePersonalize(Password, req), req, "Personalize");
}
