// FiscalPrinter: the report and query members. The printed reports (X, Z, article,
// periodic by date or by number) send their request and use at most the Z report's
// number; the readers decode the answer with serialproto's fills and hand out a record
// (records/), or a number, or the bytes of a memory read.
//
// Each follows the method frame (fiscal_printer.h, command_frame.h).
#include "comserver/fiscal_printer.h"

#include <cstring>

#include "comserver/command_frame.h"
#include "comserver/records/article_info.h"
#include "comserver/records/check_sum.h"
#include "comserver/records/tax_data.h"
#include "comserver/records/x_report.h"
#include "serialproto/reports.h"

// ---- printed reports ----------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::PrintXReport(short Password)
{
    BeginCall();
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodePrintXReport(Password, req), req, "PrintXReport");
}

// The result is the report's number from the answer.
STDMETHODIMP FiscalPrinter::PrintZReport(short Password, LONG* pRet)
{
    BeginCall();
    serialproto::Request req;
    const HRESULT hr = frame::Exchange(*this, serialproto::EncodePrintZReport(Password, req), req, "PrintZReport");
    if (FAILED(hr)) return hr;
    const LONG number = serialproto::DecodeZReportResult(Serial.Link.LastAnswer().Data(),
                                                         Serial.Link.LastAnswer().Size());
    CallSucceeded("PrintZReport");
    if (pRet) *pRet = number;
    return S_OK;
}

STDMETHODIMP FiscalPrinter::PrintArtReport(short Password, LONG FromCode, LONG ToCode, LONG FromCodeEx, LONG ToCodeEx)
{
    BeginCall();
    WriteEventF(Log, "PrintArtReport", "%li, %li, %li, %li", FromCode, ToCode, FromCodeEx, ToCodeEx);
    serialproto::Request req;
    return frame::Simple(*this,
                         serialproto::EncodePrintArtReport(Password, FromCode, ToCode, FromCodeEx, ToCodeEx, req), req,
                         "PrintArtReport");
}

STDMETHODIMP FiscalPrinter::PrintReportByDate(short Password, BSTR DateFrom, BSTR DateTo, VARIANT_BOOL ShortForm)
{
    BeginCall();
    const DriverString from = frame::Ansi(DateFrom), to = frame::Ansi(DateTo);
    WriteEventF(Log, "PrintReportByDate", "%s - %s, %i", from.Text(), to.Text(), frame::Flag(ShortForm));
    serialproto::Request req;
    return frame::Simple(*this,
                         serialproto::EncodePrintReportByDate(Password, from.Text(), to.Text(), ShortForm != 0, req),
                         req, "PrintReportByDate");
}

// The short form is logged but not sent: the register has one report by number.
STDMETHODIMP FiscalPrinter::PrintReportById(short Password, LONG IdFrom, LONG IdTo, VARIANT_BOOL ShortForm)
{
    BeginCall();
    WriteEventF(Log, "PrintReportById", "%li, %li, %i", IdFrom, IdTo, frame::Flag(ShortForm));
    serialproto::Request req;
    return frame::Simple(*this, serialproto::EncodePrintReportById(Password, IdFrom, IdTo, req), req,
                         "PrintReportById");
}

// ---- records -------------------------------------------------------------------------------

records::Context FiscalPrinter::RecordContext()
{
    records::Context c;
    c.printer = this;
    c.typeLib = process_.TypeLib();
    c.error = &Error;
    return c;
}

// The end of a record reader: the fill's or the creation's failure, or "Ok" and the
// record handed to the caller.
template <class I>
static HRESULT HandOver(FiscalPrinter& fp, HRESULT hr, I* record, I** pRet, const char* method)
{
    if (FAILED(hr)) return fp.CallFailed(hr, method);
    fp.CallSucceeded(method);
    *pRet = record;
    return S_OK;
}

// A reader whose whole answer is one record: send, decode (a malformed answer is the
// protocol error), create.
template <class I, class Data>
static HRESULT ReadRecord(FiscalPrinter& fp, fpresult::Result (*encode)(serialproto::Request&),
                          fpresult::Result (*decode)(const std::uint8_t*, std::int32_t, Data&),
                          HRESULT (*create)(const records::Context&, const Data&, I**), I** pRet, const char* method)
{
    serialproto::Request req;
    HRESULT hr = frame::Exchange(fp, encode(req), req, method);
    if (FAILED(hr)) return hr;
    Data data;
    I* record = nullptr;
    hr = decode(fp.Serial.Link.LastAnswer().Data(), fp.Serial.Link.LastAnswer().Size(), data);
    if (SUCCEEDED(hr)) hr = create(fp.RecordContext(), data, &record);
    return HandOver(fp, hr, record, pRet, method);
}

STDMETHODIMP FiscalPrinter::GetXReport(IXReport** pRet)
{
    if (!pRet) return E_POINTER;
    BeginCall();
    return ReadRecord(*this, serialproto::EncodeGetXReport, serialproto::DecodeXReport, records::CreateXReport, pRet,
                      "GetXReport");
}

STDMETHODIMP FiscalPrinter::GetCheckSum(ICheckSum** pRet)
{
    if (!pRet) return E_POINTER;
    BeginCall();
    return ReadRecord(*this, serialproto::EncodeGetCheckSum, serialproto::DecodeCheckSum, records::CreateCheckSum, pRet,
                      "GetCheckSum");
}

// ReportId not 0: the template for SetTaxData, made without the register (also while
// disconnected).
STDMETHODIMP FiscalPrinter::GetTaxData(LONG ReportId, ITaxData** pRet)
{
    if (!pRet) return E_POINTER;
    BeginCall();
    serialproto::TaxTableData data;
    ITaxData* record = nullptr;
    HRESULT hr = S_OK;
    if (ReportId == 0) {
        serialproto::Request req;
        hr = frame::Exchange(*this, serialproto::EncodeGetTaxData(req), req, "GetTaxData");
        if (FAILED(hr)) return hr;
        hr = serialproto::DecodeTaxData(Serial.Link.LastAnswer().Data(), Serial.Link.LastAnswer().Size(), data);
    }
    if (SUCCEEDED(hr)) hr = records::CreateTaxData(RecordContext(), data, &record);
    return HandOver(*this, hr, record, pRet, "GetTaxData");
}

STDMETHODIMP FiscalPrinter::GetArticleInfo(LONG Code, LONG CodeEx, IArticleInfo** pRet)
{
    if (!pRet) return E_POINTER;
    BeginCall();
    WriteEventF(Log, "GetArticleInfo", "%li, %li", Code, CodeEx);
    serialproto::Request req;
    HRESULT hr = frame::Exchange(*this, serialproto::EncodeGetArticleInfo(Code, CodeEx, req), req, "GetArticleInfo");
    if (FAILED(hr)) return hr;
    serialproto::ArticleInfoData data;
    hr = serialproto::DecodeArticleInfo(Serial.Link.LastAnswer().Data(), Serial.Link.LastAnswer().Size(), data);
    IArticleInfo* record = nullptr;
    if (SUCCEEDED(hr)) hr = records::CreateArticleInfo(RecordContext(), Code, CodeEx, data, &record);
    return HandOver(*this, hr, record, pRet, "GetArticleInfo");
}

// ---- queries -------------------------------------------------------------------------------

// Only an answer of exactly 5 bytes gives a sum; any other is a protocol error and
// leaves 0.
STDMETHODIMP FiscalPrinter::GetSafeSum(double* pRet)
{
    if (!pRet) return E_POINTER;
    BeginCall();
    *pRet = 0.0;
    serialproto::Request req;
    const HRESULT hr = frame::Exchange(*this, serialproto::EncodeGetSafeSum(req), req, "GetSafeSum");
    if (FAILED(hr)) return hr;
    if (FAILED(serialproto::DecodeGetSafeSum(Serial.Link.LastAnswer().Data(), Serial.Link.LastAnswer().Size(), *pRet)))
        return CallFailed(FPE_PROTOCOL, "GetSafeSum");
    CallSucceeded("GetSafeSum");
    return S_OK;
}

// An answer too short or not starting with 0 is the modem error.
STDMETHODIMP FiscalPrinter::GetTimeToBlock(short Password, int* pRet)
{
    BeginCall();
    if (!pRet) return CallFailed(E_INVALIDARG, "GetTimeToBlock");
    serialproto::Request req;
    HRESULT hr = frame::Exchange(*this, serialproto::EncodeGetTimeToBlock(Password, req), req, "GetTimeToBlock");
    if (FAILED(hr)) return hr;
    std::int32_t seconds = 0;
    hr = serialproto::DecodeTimeToBlock(Serial.Link.LastAnswer().Data(), Serial.Link.LastAnswer().Size(), seconds);
    if (FAILED(hr)) return CallFailed(hr, "GetTimeToBlock");
    CallSucceeded("GetTimeToBlock");
    *pRet = seconds;
    return S_OK;
}

// The bytes read, as a byte array whose first element has index 1.
STDMETHODIMP FiscalPrinter::ReadMemory(short BlockAddr, short Page, short Count, SAFEARRAY** pRet)
{
    BeginCall();
    WriteEventF(Log, "ReadMemory", "%i, %i, %i", BlockAddr, Page, Count);
    if (!pRet) return CallFailed(E_POINTER, "ReadMemory");
    serialproto::Request req;
    const HRESULT hr = frame::Exchange(*this, serialproto::EncodeReadMemory(BlockAddr, Page, Count, req), req,
                                       "ReadMemory");
    if (FAILED(hr)) return hr;
    const LONG n = Serial.Link.LastAnswer().Size();
    if (n <= 0) return CallFailed(E_FAIL, "ReadMemory");
    if (FAILED(serialproto::CheckMemoryAnswer(Count, n))) return CallFailed(FPE_PROTOCOL, "ReadMemory");
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 1, static_cast<ULONG>(n));
    if (!bytes) return CallFailed(E_OUTOFMEMORY, "ReadMemory");
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(bytes, &data))) {
        SafeArrayDestroy(bytes);
        return CallFailed(E_OUTOFMEMORY, "ReadMemory");
    }
    std::memcpy(data, Serial.Link.LastAnswer().Data(), static_cast<std::size_t>(n));
    SafeArrayUnaccessData(bytes);
    CallSucceeded("ReadMemory");
    *pRet = bytes;
    return S_OK;
}
