// FiscalPrinter: the members that talk to the register.
//
// Each follows the method frame (fiscal_printer.h): BeginCall, the entry event with
// the arguments, the argument checks and the request (serialproto's encoders; a failed
// check is E_INVALIDARG and sends nothing), the exchange over the serial link
// (serial_link.h), then CallSucceeded or CallFailed. Here: the connection, status, date
// and time, display, safe, receipt and printing members; the reports and queries are in
// report_commands.cpp, the programming and service members in programming_commands.cpp
// and SetLogo in logo_commands.cpp.
#include "comserver/fiscal_printer.h"

#include <cstdio>
#include <string>

#include "comserver/code_page.h"
#include "comserver/command_frame.h"
#include "serialproto/commands.h"
#include "serialproto/receipt.h"

namespace {

using frame::Ansi;
using frame::Exchange;
using frame::Flag;
using frame::ForRegister;
using frame::Simple;

constexpr std::size_t kMaxPortName = 100; // characters of a port name

using Query = fpresult::Result (*)(serialproto::Link&, std::string&);

} // namespace

// ---- link state -------------------------------------------------------------------------

void FiscalPrinter::ResetLink() { Serial.Reset(); }
void FiscalPrinter::CloseLink() { Serial.ClosePort(); }

void FiscalPrinter::ReleaseIdlePort()
{
    if (!Serial.Link.Connected()) return;
    CloseLink();
    ResetLastError(Error);
    WriteEventF(Log, "Disconnect", "Порт закрыт: нет вызовов %li с", ServerProcess::kPortIdleTicks);
}

void FiscalPrinter::AnswerReceived()
{
    EcrState = static_cast<LONG>(Serial.Link.EcrState());
    EcrErrorNumber = Serial.Link.EcrErrorNumber();
    process_.StatusChanged();
}

HRESULT FiscalPrinter::LinkFailed(HRESULT result, const char* method)
{
    SetResultNumber(result, Serial.Link.ErrorValue());
    return CallFailed(result, method);
}

// The system's error after a failed open does not say which port: the description names
// it and what to check after the system's text.
HRESULT FiscalPrinter::PortNotOpened(const char* port)
{
    SetResultNumber(FPE_SYSTEM, Serial.Link.ErrorValue());
    char text[kDescriptionSize];
    const int n = DescribeError(FPE_SYSTEM, text, sizeof text);
    if (n > 0 && n < kDescriptionSize - 1)
        std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n),
                      " Порт \"%s\" не открыт: проверьте имя порта и что его не заняла другая программа.", port);
    const HRESULT hr = RaiseNewError(Error, FPE_SYSTEM, "Connect", text);
    LogLastError(Log);
    return hr;
}

HRESULT FiscalPrinter::IncompleteAnswer(const char* method)
{
    char text[kDescriptionSize];
    if (LoadText(textid::kIncompleteAnswer, text, sizeof text) == 0) return CallFailed(FPE_PROTOCOL, method);
    const HRESULT hr = RaiseNewError(Error, FPE_PROTOCOL, method, text);
    LogLastError(Log);
    return hr;
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
            hr = PortNotOpened(name.Text());
            CloseLink();
            return hr;
        }
        Serial.Link.Attach(&Serial.Port);
        hr = QueryRegisterState(nullptr, true);
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
    if (pRet) *pRet = wide;
    else SysFreeString(wide);
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

// ---- display, drawer and safe -------------------------------------------------------------

STDMETHODIMP FiscalPrinter::LineFeed()
{
    BeginCall();
    serialproto::Request req;
    return Simple(*this, serialproto::EncodeLineFeed(req), req, "LineFeed");
}

STDMETHODIMP FiscalPrinter::DisplayString(LONG Row, BSTR String)
{
    BeginCall();
    const DriverString text = Ansi(String);
    WriteEventF(Log, "DisplayString", "%li, '%s'", Row, text.Text());
    serialproto::Request req;
    return Simple(*this, serialproto::EncodeDisplayString(Row, ForRegister(text), req), req, "DisplayString");
}

STDMETHODIMP FiscalPrinter::OpenSafe()
{
    BeginCall();
    serialproto::Request req;
    return Simple(*this, serialproto::EncodeOpenSafe(req), req, "OpenSafe");
}

STDMETHODIMP FiscalPrinter::ChangeSafeSum(LONG Sum, LONG* pRet)
{
    BeginCall();
    WriteEventF(Log, "ChangeSafeSum", "%li", Sum);
    serialproto::Request req;
    const HRESULT hr = Exchange(*this, serialproto::EncodeChangeSafeSum(Sum, req), req, "ChangeSafeSum");
    if (FAILED(hr)) return hr;
    std::int32_t safe = 0;
    if (FAILED(serialproto::DecodeSafeSum(Serial.Link.LastAnswer().Data(), Serial.Link.LastAnswer().Size(), safe)))
        return IncompleteAnswer("ChangeSafeSum");
    if (pRet) *pRet = safe;
    CallSucceeded("ChangeSafeSum");
    return S_OK;
}

// ---- receipt ------------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::CommentCheck(BSTR Text, VARIANT_BOOL Refund)
{
    BeginCall();
    const DriverString text = Ansi(Text);
    WriteEventF(Log, "CommentCheck", Refund ? "'%s', refund" : "'%s'", text.Text());
    serialproto::Request req;
    return Simple(*this, serialproto::EncodeCommentCheck(ForRegister(text), Refund != 0, req), req, "CommentCheck");
}

// SaleArticle and RefundArticle: the result is the line's sum, TotalSum the receipt's.
static HRESULT Article(FiscalPrinter& fp, bool refund, LONG Code, LONG Count, LONG Price, FPTaxType TaxType, BSTR Name,
                       short CountFormat, LONG CodeEx, LONG* pRet)
{
    const char* method = refund ? "RefundArticle" : "SaleArticle";
    const DriverString name = Ansi(Name);
    WriteEventF(fp.Log, method, "%li, %li, %02X, %02X, %li, '%s'", Code, Count, static_cast<unsigned>(TaxType),
                static_cast<unsigned>(CountFormat) & 0xFFFFu, CodeEx, name.Text());
    serialproto::Article a;
    a.Code = Code;
    a.Count = Count;
    a.Price = Price;
    a.TaxType = static_cast<std::int32_t>(TaxType);
    a.Name = ForRegister(name);
    a.CountFormat = CountFormat;
    a.CodeEx = CodeEx;
    serialproto::Request req;
    const HRESULT hr = Exchange(fp, serialproto::EncodeArticle(a, refund, req), req, method);
    if (FAILED(hr)) return hr;
    const auto answer = serialproto::DecodeArticleAnswer(fp.Serial.Link.LastAnswer().Data(),
                                                         fp.Serial.Link.LastAnswer().Size());
    if (!answer.Complete) return fp.IncompleteAnswer(method);
    fp.TotalSum = answer.TotalSum;
    if (pRet) *pRet = answer.Result;
    fp.CallSucceeded(method);
    return S_OK;
}

STDMETHODIMP FiscalPrinter::SaleArticle(LONG Code, LONG Count, LONG Price, FPTaxType TaxType, BSTR Name,
                                        short CountFormat, LONG CodeEx, LONG* pRet)
{
    BeginCall();
    return Article(*this, false, Code, Count, Price, TaxType, Name, CountFormat, CodeEx, pRet);
}

STDMETHODIMP FiscalPrinter::RefundArticle(LONG Code, LONG Count, LONG Price, FPTaxType TaxType, BSTR Name,
                                          short CountFormat, LONG CodeEx, LONG* pRet)
{
    BeginCall();
    return Article(*this, true, Code, Count, Price, TaxType, Name, CountFormat, CodeEx, pRet);
}

STDMETHODIMP FiscalPrinter::GiveDiscount(LONG Value, VARIANT_BOOL OnTotal, VARIANT_BOOL SumMode, BSTR Text,
                                         short PercentFormat, LONG* pRet)
{
    BeginCall();
    const DriverString text = Ansi(Text);
    WriteEventF(Log, "GiveDiscount", "%li, %i, %i, %i, '%s'", Value, Flag(OnTotal), Flag(SumMode), PercentFormat,
                text.Text());
    serialproto::Request req;
    const HRESULT hr = Exchange(
        *this,
        serialproto::EncodeGiveDiscount(Value, OnTotal != 0, SumMode != 0, ForRegister(text), PercentFormat, req), req,
        "GiveDiscount");
    if (FAILED(hr)) return hr;
    const auto answer = serialproto::DecodeDiscountAnswer(Serial.Link.LastAnswer().Data(),
                                                          Serial.Link.LastAnswer().Size());
    if (!answer.Complete) return IncompleteAnswer("GiveDiscount");
    TotalSum = answer.TotalSum;
    if (pRet) *pRet = answer.Result;
    CallSucceeded("GiveDiscount");
    return S_OK;
}

STDMETHODIMP FiscalPrinter::PayCheck(FPPayType Type, LONG Sum, BSTR Text, LONG* pRet)
{
    BeginCall();
    const DriverString text = Ansi(Text);
    WriteEventF(Log, "PayCheck", "%02X, %li, '%s'", static_cast<unsigned>(Type), Sum, text.Text());
    serialproto::Request req;
    const HRESULT hr = Exchange(
        *this, serialproto::EncodePayCheck(static_cast<std::int32_t>(Type), Sum, ForRegister(text), req), req,
        "PayCheck");
    if (FAILED(hr)) return hr;
    const auto answer = serialproto::DecodePayAnswer(Serial.Link.LastAnswer().Data(), Serial.Link.LastAnswer().Size());
    if (!answer.Complete) return IncompleteAnswer("PayCheck");
    TotalSum = answer.TotalSum;
    if (pRet) *pRet = answer.Result;
    CallSucceeded("PayCheck");
    return S_OK;
}

STDMETHODIMP FiscalPrinter::CancelCheck()
{
    BeginCall();
    serialproto::Request req;
    return Simple(*this, serialproto::EncodeCancelCheck(req), req, "CancelCheck");
}

// ---- printing -----------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::PrintCopy(LONG RecordId)
{
    BeginCall();
    WriteEventF(Log, "PrintCopy", "%li", RecordId);
    serialproto::Request req;
    return Simple(*this, serialproto::EncodePrintCopy(RecordId, req), req, "PrintCopy");
}

// The members that print one text: entry event with the text as given, then the request.
using TextEncoder = fpresult::Result (*)(const std::string&, serialproto::Request&);

// Barcodes and QR data (`exact`) must reach the register as given: a character the
// register's code page lacks is E_INVALIDARG, not a "?" in the code. Comments keep the
// substitution.
static HRESULT PrintText(FiscalPrinter& fp, BSTR Text, TextEncoder encode, const char* method, bool exact)
{
    const DriverString text = Ansi(Text);
    WriteEventF(fp.Log, method, "'%s'", text.Text());
    if (exact && !DriverString::FitsRegisterPage(Text)) return fp.CallFailed(E_INVALIDARG, method);
    serialproto::Request req;
    return Simple(fp, encode(ForRegister(text), req), req, method);
}

STDMETHODIMP FiscalPrinter::SetCheckBarcode(BSTR Text)
{
    BeginCall();
    return PrintText(*this, Text, serialproto::EncodeSetCheckBarcode, "SetCheckBarcode", true);
}

STDMETHODIMP FiscalPrinter::PrintBarcode(BSTR Text)
{
    BeginCall();
    return PrintText(*this, Text, serialproto::EncodePrintBarcode, "PrintBarcode", true);
}

STDMETHODIMP FiscalPrinter::PrintQR(BSTR Text)
{
    BeginCall();
    return PrintText(*this, Text, serialproto::EncodePrintQR, "PrintQR", true);
}

STDMETHODIMP FiscalPrinter::PrintComment(BSTR Text)
{
    BeginCall();
    return PrintText(*this, Text, serialproto::EncodePrintComment, "PrintComment", false);
}

STDMETHODIMP FiscalPrinter::PrintCommentBarcode(BSTR Text)
{
    BeginCall();
    return PrintText(*this, Text, serialproto::EncodePrintCommentBarcode, "PrintCommentBarcode", true);
}
