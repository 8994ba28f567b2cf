// FiscalPrinter: the members that talk to the register.
//
// Each follows the method frame (fiscal_printer.h): BeginCall, the entry event with
// the arguments, the exchange, then CallSucceeded or CallFailed. Connect, Disconnect,
// GetState, GetDate and GetTime run over the serial link (serial_link.h); the other
// members record their entry event and then fail with E_NOTIMPL ("Не поддерживается.")
// through the frame, so clients, the error properties and the work log already see
// the final shape of a failed call.
#include "fiscal_printer.h"

#include <string>

#include "commands.h"
#include "tray_window.h"

namespace {

// A client's text as ANSI for the entry event (the text as given).
DriverString Ansi(BSTR text)
{
    DriverString s;
    s.AssignWide(text);
    return s;
}

int Flag(VARIANT_BOOL v) { return v ? 1 : 0; }

constexpr std::size_t kMaxPortName = 100;  // characters of a port name

using Query = fpresult::Result (*)(serialproto::Link&, std::string&);

} // namespace

// ---- link state -------------------------------------------------------------------------

void FiscalPrinter::ResetLink() { Serial.Reset(); }
void FiscalPrinter::CloseLink() { Serial.ClosePort(); }

void FiscalPrinter::AnswerReceived()
{
    EcrState = static_cast<LONG>(Serial.Link.EcrState);
    EcrErrorNumber = Serial.Link.EcrErrorNumber;
    if (StatusDialog) SendMessageA(StatusDialog, kRefreshStatus, 0, 0);
}

HRESULT FiscalPrinter::LinkFailed(HRESULT result, const char* method)
{
    SetResultNumber(result, Serial.Link.ErrorValue);
    return CallFailed(result, method);
}

HRESULT FiscalPrinter::QueryRegisterState(LONG* value, bool check)
{
    serialproto::RegisterState state;
    state.PrinterInfo = PrinterInfo.Text();
    state.FiscalInfo = FiscalInfo.Text();
    state.TaxPayerInfo[0] = TaxPayerInfo1.Text();
    state.TaxPayerInfo[1] = TaxPayerInfo2.Text();
    state.TaxPayerInfo[2] = TaxPayerInfo3.Text();
    const HRESULT hr = check ? serialproto::CheckRegister(Serial.Link, state, OemPageToAnsi)
                             : serialproto::QueryState(Serial.Link, state, OemPageToAnsi);
    // A failed decode may have filled some fields; they stay, like the rest.
    PrinterInfo.AssignBytes(state.PrinterInfo.data(), state.PrinterInfo.size());
    FiscalInfo.AssignBytes(state.FiscalInfo.data(), state.FiscalInfo.size());
    TaxPayerInfo1.AssignBytes(state.TaxPayerInfo[0].data(), state.TaxPayerInfo[0].size());
    TaxPayerInfo2.AssignBytes(state.TaxPayerInfo[1].data(), state.TaxPayerInfo[1].size());
    TaxPayerInfo3.AssignBytes(state.TaxPayerInfo[2].data(), state.TaxPayerInfo[2].size());
    if (hr == S_OK && value) *value = state.Value;
    return hr;
}

// ---- connection -------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::Connect(BSTR Port, LONG Speed)
{
    BeginCall();
    DriverString name = Ansi(Port);
    HRESULT hr = E_INVALIDARG;
    if (name.Length() <= kMaxPortName) {
        WriteEventF(Log, "Connect", "%s %libps", name.Text(), Speed);
        Serial.Link.OnAnswer = [this] { AnswerReceived(); };
        if (!Serial.OpenPort(name.Text(), static_cast<std::uint32_t>(Speed))) {
            hr = FPE_SYSTEM;
        } else {
            Serial.Link.Attach(&Serial.Port);
            hr = QueryRegisterState(nullptr, true);
        }
    }
    if (FAILED(hr)) {
        hr = LinkFailed(hr, "Connect");
        CloseLink();
        return hr;
    }
    CallSucceeded("Connect");
    return S_OK;
}

STDMETHODIMP FiscalPrinter::Disconnect()
{
    BeginCall();
    CloseLink();
    CallSucceeded("Disconnect");
    return S_OK;
}

// ---- status, date and time ----------------------------------------------------------------

STDMETHODIMP FiscalPrinter::GetState(LONG* pRet)
{
    BeginCall();
    LONG value = 0;
    const HRESULT hr = QueryRegisterState(&value);
    // Without a result pointer this is the bare status query: no event, no error raised.
    if (!pRet) return hr;
    if (FAILED(hr)) return LinkFailed(hr, "GetState");
    *pRet = value;
    CallSucceeded("GetState");
    return S_OK;
}

// GetDate and GetTime: the text is both the result and the success event.
static HRESULT QueryText(FiscalPrinter& fp, Query query, const char* method, BSTR* pRet)
{
    std::string text;
    const HRESULT hr = query(fp.Serial.Link, text);
    if (FAILED(hr)) return fp.LinkFailed(hr, method);
    DriverString value(text.c_str());
    BSTR wide = value.DetachWide();
    if (!wide) return fp.CallFailed(E_OUTOFMEMORY, method);
    fp.CallSucceeded(method, value.Text());
    if (pRet)
        *pRet = wide;
    else
        SysFreeString(wide);
    return S_OK;
}

STDMETHODIMP FiscalPrinter::GetDate(BSTR* pRet)
{
    BeginCall();
    return QueryText(*this, serialproto::QueryDate, "GetDate", pRet);
}

STDMETHODIMP FiscalPrinter::GetTime(BSTR* pRet)
{
    BeginCall();
    return QueryText(*this, serialproto::QueryTime, "GetTime", pRet);
}

// ---- members ----------------------------------------------------------------------------

#define PENDING(method)                           \
    do {                                          \
        return CallFailed(E_NOTIMPL, method);     \
    } while (0)

STDMETHODIMP FiscalPrinter::SetDate(BSTR) { BeginCall(); PENDING("SetDate"); }
STDMETHODIMP FiscalPrinter::SetTime(BSTR) { BeginCall(); PENDING("SetTime"); }
STDMETHODIMP FiscalPrinter::LineFeed() { BeginCall(); PENDING("LineFeed"); }
STDMETHODIMP FiscalPrinter::PrintVersion() { BeginCall(); PENDING("PrintVersion"); }

STDMETHODIMP FiscalPrinter::DisplayString(LONG Row, BSTR String)
{
    BeginCall();
    WriteEventF(Log, "DisplayString", "%li, '%s'", Row, Ansi(String).Text());
    PENDING("DisplayString");
}

STDMETHODIMP FiscalPrinter::ChangeSafeSum(LONG Sum, LONG*)
{
    BeginCall();
    WriteEventF(Log, "ChangeSafeSum", "%li", Sum);
    PENDING("ChangeSafeSum");
}

STDMETHODIMP FiscalPrinter::CommentCheck(BSTR Text, VARIANT_BOOL Refund)
{
    BeginCall();
    WriteEventF(Log, "CommentCheck", Refund ? "'%s', refund" : "'%s'", Ansi(Text).Text());
    PENDING("CommentCheck");
}

STDMETHODIMP FiscalPrinter::CancelCheck() { BeginCall(); PENDING("CancelCheck"); }

STDMETHODIMP FiscalPrinter::PayCheck(FPPayType Type, LONG Sum, BSTR Text, LONG*)
{
    BeginCall();
    WriteEventF(Log, "PayCheck", "%02X, %li, '%s'", static_cast<unsigned>(Type), Sum, Ansi(Text).Text());
    PENDING("PayCheck");
}

STDMETHODIMP FiscalPrinter::SaleArticle(LONG Code, LONG Count, LONG, FPTaxType TaxType, BSTR Name,
                                        short CountFormat, LONG CodeEx, LONG*)
{
    BeginCall();
    WriteEventF(Log, "SaleArticle", "%li, %li, %02X, %02X, %li, '%s'", Code, Count,
                static_cast<unsigned>(TaxType), static_cast<unsigned>(CountFormat) & 0xFFFFu, CodeEx,
                Ansi(Name).Text());
    PENDING("SaleArticle");
}

STDMETHODIMP FiscalPrinter::RefundArticle(LONG Code, LONG Count, LONG, FPTaxType TaxType, BSTR Name,
                                          short CountFormat, LONG CodeEx, LONG*)
{
    BeginCall();
    WriteEventF(Log, "RefundArticle", "%li, %li, %02X, %02X, %li, '%s'", Code, Count,
                static_cast<unsigned>(TaxType), static_cast<unsigned>(CountFormat) & 0xFFFFu, CodeEx,
                Ansi(Name).Text());
    PENDING("RefundArticle");
}

STDMETHODIMP FiscalPrinter::PrintCopy(LONG RecordId)
{
    BeginCall();
    WriteEventF(Log, "PrintCopy", "%li", RecordId);
    PENDING("PrintCopy");
}

STDMETHODIMP FiscalPrinter::SetCheckCaption(LONG, BSTR, VARIANT_BOOL, VARIANT_BOOL)
{
    BeginCall();
    PENDING("SetCheckCaption");
}

STDMETHODIMP FiscalPrinter::GiveDiscount(LONG Value, VARIANT_BOOL OnTotal, VARIANT_BOOL SumMode, BSTR Text,
                                         short PercentFormat, LONG*)
{
    BeginCall();
    WriteEventF(Log, "GiveDiscount", "%li, %i, %i, %i, '%s'", Value, Flag(OnTotal), Flag(SumMode),
                PercentFormat, Ansi(Text).Text());
    PENDING("GiveDiscount");
}

STDMETHODIMP FiscalPrinter::PrintArtReport(short, LONG, LONG, LONG, LONG) { BeginCall(); PENDING("PrintArtReport"); }
STDMETHODIMP FiscalPrinter::PrintXReport(short) { BeginCall(); PENDING("PrintXReport"); }
STDMETHODIMP FiscalPrinter::PrintZReport(short, LONG*) { BeginCall(); PENDING("PrintZReport"); }

STDMETHODIMP FiscalPrinter::SetCheckBarcode(BSTR Text)
{
    BeginCall();
    WriteEventF(Log, "SetCheckBarcode", "'%s'", Ansi(Text).Text());
    PENDING("SetCheckBarcode");
}

STDMETHODIMP FiscalPrinter::PrintBarcode(BSTR Text)
{
    BeginCall();
    WriteEventF(Log, "PrintBarcode", "'%s'", Ansi(Text).Text());
    PENDING("PrintBarcode");
}

STDMETHODIMP FiscalPrinter::AlterOnlineMode() { BeginCall(); PENDING("AlterOnlineMode"); }
STDMETHODIMP FiscalPrinter::AlterCutterMode() { BeginCall(); PENDING("AlterCutterMode"); }
STDMETHODIMP FiscalPrinter::ChangeBitrate(LONG) { BeginCall(); PENDING("ChangeBitrate"); }
STDMETHODIMP FiscalPrinter::OpenSafe() { BeginCall(); PENDING("OpenSafe"); }
STDMETHODIMP FiscalPrinter::GetSafeSum(double*) { BeginCall(); PENDING("GetSafeSum"); }

STDMETHODIMP FiscalPrinter::PrintComment(BSTR Text)
{
    BeginCall();
    WriteEventF(Log, "PrintComment", "'%s'", Ansi(Text).Text());
    PENDING("PrintComment");
}

STDMETHODIMP FiscalPrinter::ChangePassword(short, short, short, BSTR) { BeginCall(); PENDING("SetPassword"); }
STDMETHODIMP FiscalPrinter::Login(short, short, BSTR) { BeginCall(); PENDING("Login"); }
STDMETHODIMP FiscalPrinter::Logout(short, short) { BeginCall(); PENDING("Logout"); }
STDMETHODIMP FiscalPrinter::ReadMemory(short, short, short, SAFEARRAY**) { BeginCall(); PENDING("ReadMemory"); }
STDMETHODIMP FiscalPrinter::GetArticleInfo(LONG, LONG, IArticleInfo**) { BeginCall(); PENDING("GetArticleInfo"); }
STDMETHODIMP FiscalPrinter::GetXReport(IXReport**) { BeginCall(); PENDING("GetXReport"); }
STDMETHODIMP FiscalPrinter::GetCheckSum(ICheckSum**) { BeginCall(); PENDING("GetCheckSum"); }
STDMETHODIMP FiscalPrinter::GetTaxData(LONG, ITaxData**) { BeginCall(); PENDING("GetTaxData"); }
STDMETHODIMP FiscalPrinter::SetTaxData(short, ITaxData*) { BeginCall(); PENDING("SetTaxData"); }
STDMETHODIMP FiscalPrinter::Personalize(short) { BeginCall(); PENDING("Personalize"); }
STDMETHODIMP FiscalPrinter::SetFiscalNumber(short, BSTR) { BeginCall(); PENDING("SetFiscalNumber"); }
STDMETHODIMP FiscalPrinter::SetTaxPayerInfo(short, BSTR, BSTR, BSTR, BSTR, short) { BeginCall(); PENDING("SetTaxPayerInfo"); }
STDMETHODIMP FiscalPrinter::ProgramArticle(short, LONG, LONG, FPTaxType, BSTR, short, LONG) { BeginCall(); PENDING("ProgramArticle"); }
STDMETHODIMP FiscalPrinter::PrintReportByDate(short, BSTR, BSTR, VARIANT_BOOL) { BeginCall(); PENDING("PrintReportByDate"); }
STDMETHODIMP FiscalPrinter::PrintReportById(short, LONG, LONG, VARIANT_BOOL) { BeginCall(); PENDING("PrintReportById"); }
STDMETHODIMP FiscalPrinter::SetLogo(short, BSTR, LONG, LONG) { BeginCall(); PENDING("SetLogo"); }
STDMETHODIMP FiscalPrinter::SetPayTypeName(short, FPPayType, BSTR) { BeginCall(); PENDING("SetPayTypeName"); }

STDMETHODIMP FiscalPrinter::PrintQR(BSTR Text)
{
    BeginCall();
    WriteEventF(Log, "PrintQR", "'%s'", Ansi(Text).Text());
    PENDING("PrintQR");
}

STDMETHODIMP FiscalPrinter::GetTimeToBlock(short, int*) { BeginCall(); PENDING("GetTimeToBlock"); }

STDMETHODIMP FiscalPrinter::PrintCommentBarcode(BSTR Text)
{
    BeginCall();
    WriteEventF(Log, "PrintCommentBarcode", "'%s'", Ansi(Text).Text());
    PENDING("PrintCommentBarcode");
}
