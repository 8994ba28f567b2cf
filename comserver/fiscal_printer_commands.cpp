// FiscalPrinter: the members that talk to the register.
//
// Each follows the method frame (fiscal_printer.h): BeginCall, the entry event with
// the arguments, the exchange, then CallSucceeded or CallFailed. The exchanges are not
// part of this build yet: every member records its entry event and then fails with
// E_NOTIMPL ("Не поддерживается.") through the frame, so clients, the error
// properties and the work log already see the final shape of a failed call.
#include "fiscal_printer.h"

namespace {

// A client's text as ANSI for the entry event (the text as given).
DriverString Ansi(BSTR text)
{
    DriverString s;
    s.AssignWide(text);
    return s;
}

int Flag(VARIANT_BOOL v) { return v ? 1 : 0; }

} // namespace

// ---- link state -------------------------------------------------------------------------

void FiscalPrinter::ResetLink() {}
void FiscalPrinter::CloseLink() {}

// ---- members ----------------------------------------------------------------------------

#define PENDING(method)                           \
    do {                                          \
        return CallFailed(E_NOTIMPL, method);     \
    } while (0)

STDMETHODIMP FiscalPrinter::Connect(BSTR, LONG) { BeginCall(); PENDING("Connect"); }
STDMETHODIMP FiscalPrinter::Disconnect() { BeginCall(); PENDING("Disconnect"); }
STDMETHODIMP FiscalPrinter::GetState(LONG*) { BeginCall(); PENDING("GetState"); }
STDMETHODIMP FiscalPrinter::GetDate(BSTR*) { BeginCall(); PENDING("GetDate"); }
STDMETHODIMP FiscalPrinter::SetDate(BSTR) { BeginCall(); PENDING("SetDate"); }
STDMETHODIMP FiscalPrinter::GetTime(BSTR*) { BeginCall(); PENDING("GetTime"); }
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
