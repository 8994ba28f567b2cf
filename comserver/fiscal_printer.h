// FiscalPrinter: the one automation object of the server.
//
// The object is static (main.cpp): every client that creates the class receives it,
// and it is never freed. The state of the process (server locks, windows, type
// library, work log, error record) is the ServerProcess it is given (server_process.h).
// Its four interface tables are IFiscalPrinter (dual, with IUnknown and IDispatch at its
// head), IDispatchEx (for script clients, script_dispatch.h), IProvideClassInfo and
// ISupportErrorInfo; the IUnknown entries of all four end in the same
// QueryInterface/AddRef/Release, and both IDispatch heads in the same IDispatch members.
//
// IDispatch goes through the type information of IFiscalPrinter, so late- and
// early-bound clients end in the same interface-table member.
//
// Member bodies:
//   fiscal_printer.cpp           IUnknown, IDispatch, IProvideClassInfo,
//                                ISupportErrorInfo, properties, connect/disconnect,
//                                the method frame, the four members without support
//   fiscal_printer_commands.cpp  the members that talk to the register
//   report_commands.cpp          the report and query members (records/ for the records)
//   programming_commands.cpp     the programming and service members
//   logo_commands.cpp            SetLogo
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include "comserver/driver_string.h"
#include "comserver/errors.h"
#include "peltra44_h.h"
#include "comserver/records/record.h"
#include "comserver/script_dispatch.h"
#include "comserver/serial_link.h"
#include "comserver/server_process.h"
#include "comserver/work_log.h"

class FiscalPrinter : public IFiscalPrinter,
                      public ScriptDispatch<FiscalPrinter>,
                      public IProvideClassInfo,
                      public ISupportErrorInfo {
public:
    explicit FiscalPrinter(ServerProcess& process) : Log(process.Log()), Error(process.Error()), process_(process)
    {
        process.SetPortIdleHandler([](void* self) { static_cast<FiscalPrinter*>(self)->ReleaseIdlePort(); }, this);
    }
    // No call for ServerProcess::kPortIdleTicks ticks: an open port is closed (a client
    // that died without letting go leaves it to nobody), the error record cleared, and
    // the work log says so. The next command reports "not connected" until Connect.
    void ReleaseIdlePort();
    FiscalPrinter(const FiscalPrinter&) = delete;
    FiscalPrinter& operator=(const FiscalPrinter&) = delete;

    // ---- IUnknown -------------------------------------------------------------------
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // ---- IDispatch ------------------------------------------------------------------
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT* argErr) override;

    // ---- IProvideClassInfo / ISupportErrorInfo --------------------------------------
    STDMETHODIMP GetClassInfo(ITypeInfo** ppTI) override;
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // ---- IFiscalPrinter: properties -------------------------------------------------
    STDMETHODIMP get_Name(BSTR* pRet) override;
    STDMETHODIMP get_Version(BSTR* pRet) override;
    STDMETHODIMP get_EcrState(FPState* pRet) override;
    STDMETHODIMP get_EcrErrorNumber(LONG* pRet) override;
    STDMETHODIMP get_ErrorDescription(BSTR* pRet) override;
    STDMETHODIMP get_ErrorNumber(LONG* pRet) override;
    STDMETHODIMP get_PrinterInfo(BSTR* pRet) override;
    STDMETHODIMP get_FiscalInfo(BSTR* pRet) override;
    STDMETHODIMP get_TaxPayerInfo(LONG Id, BSTR* pRet) override;
    STDMETHODIMP get_TotalSum(LONG* pRet) override;

    // ---- IFiscalPrinter: register members (fiscal_printer_commands.cpp) ------------
    STDMETHODIMP Connect(BSTR Port, LONG Speed) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP GetState(LONG* pRet) override;
    STDMETHODIMP GetDate(BSTR* pRet) override;
    STDMETHODIMP SetDate(BSTR Value) override;
    STDMETHODIMP GetTime(BSTR* pRet) override;
    STDMETHODIMP SetTime(BSTR Value) override;
    STDMETHODIMP LineFeed() override;
    STDMETHODIMP PrintVersion() override;
    STDMETHODIMP DisplayString(LONG Row, BSTR String) override;
    STDMETHODIMP ChangeSafeSum(LONG Sum, LONG* pRet) override;
    STDMETHODIMP CommentCheck(BSTR Text, VARIANT_BOOL Refund) override;
    STDMETHODIMP CancelCheck() override;
    STDMETHODIMP PayCheck(FPPayType Type, LONG Sum, BSTR Text, LONG* pRet) override;
    STDMETHODIMP SaleArticle(LONG Code, LONG Count, LONG Price, FPTaxType TaxType, BSTR Name, short CountFormat,
                             LONG CodeEx, LONG* pRet) override;
    STDMETHODIMP RefundArticle(LONG Code, LONG Count, LONG Price, FPTaxType TaxType, BSTR Name, short CountFormat,
                               LONG CodeEx, LONG* pRet) override;
    STDMETHODIMP PrintCopy(LONG RecordId) override;
    STDMETHODIMP SetCheckCaption(LONG RowId, BSTR Text, VARIANT_BOOL DoubleWidth, VARIANT_BOOL DoubleHeight) override;
    STDMETHODIMP GiveDiscount(LONG Value, VARIANT_BOOL OnTotal, VARIANT_BOOL SumMode, BSTR Text, short PercentFormat,
                              LONG* pRet) override;
    STDMETHODIMP PrintArtReport(short Password, LONG FromCode, LONG ToCode, LONG FromCodeEx, LONG ToCodeEx) override;
    STDMETHODIMP PrintXReport(short Password) override;
    STDMETHODIMP PrintZReport(short Password, LONG* pRet) override;
    STDMETHODIMP SetCheckBarcode(BSTR Text) override;
    STDMETHODIMP PrintBarcode(BSTR Text) override;
    STDMETHODIMP AlterOnlineMode() override;
    STDMETHODIMP AlterCutterMode() override;
    STDMETHODIMP ChangeBitrate(LONG Bitrate) override;
    STDMETHODIMP OpenSafe() override;
    STDMETHODIMP GetSafeSum(double* pRet) override;
    STDMETHODIMP PrintComment(BSTR Text) override;
    STDMETHODIMP ChangePassword(short UserId, short OldPassword, short NewPassword, BSTR UserName) override;
    STDMETHODIMP Login(short UserId, short Password, BSTR UserName) override;
    STDMETHODIMP Logout(short UserId, short Password) override;
    STDMETHODIMP ReadMemory(short BlockAddr, short Page, short Count, SAFEARRAY** pRet) override;
    STDMETHODIMP GetArticleInfo(LONG Code, LONG CodeEx, IArticleInfo** pRet) override;
    STDMETHODIMP GetXReport(IXReport** pRet) override;
    STDMETHODIMP GetCheckSum(ICheckSum** pRet) override;
    STDMETHODIMP GetTaxData(LONG ReportId, ITaxData** pRet) override;
    STDMETHODIMP SetTaxData(short Password, ITaxData* TaxData) override;
    STDMETHODIMP Personalize(short Password) override;
    STDMETHODIMP SetFiscalNumber(short Password, BSTR FiscalNumber) override;
    STDMETHODIMP SetTaxPayerInfo(short Password, BSTR TaxNumber, BSTR Info1, BSTR Info2, BSTR Info3,
                                 short Format) override;
    STDMETHODIMP ProgramArticle(short Password, LONG Code, LONG Price, FPTaxType TaxType, BSTR Name, short CountFormat,
                                LONG CodeEx) override;
    STDMETHODIMP PrintReportByDate(short Password, BSTR DateFrom, BSTR DateTo, VARIANT_BOOL ShortForm) override;
    STDMETHODIMP PrintReportById(short Password, LONG IdFrom, LONG IdTo, VARIANT_BOOL ShortForm) override;
    STDMETHODIMP SetLogo(short Password, BSTR FileName, LONG Width, LONG Height) override;
    STDMETHODIMP SetPayTypeName(short Password, FPPayType Type, BSTR Text) override;
    STDMETHODIMP PrintQR(BSTR Text) override;
    STDMETHODIMP GetTimeToBlock(short Password, int* pRet) override;
    STDMETHODIMP PrintCommentBarcode(BSTR Text) override;

    // ---- IFiscalPrinter: members without support (fiscal_printer.cpp) -------------
    STDMETHODIMP SetLineSpacing(LONG Value) override;
    STDMETHODIMP GetPaperState(short* pRet) override;
    STDMETHODIMP SetContrast(short Value) override;
    STDMETHODIMP GetZReport(LONG ReportId, IZReport** pRet) override;

    // ---- server locks (class factory, LockServer, first and last reference) -------
    // The 0-to-1 step marks the object connected; the 1-to-0 step marks it
    // disconnected (and the process starts its idle countdown).
    void LockServer();
    void UnlockServer();
    LONG ReferenceCount() const { return refCount_; }

    // ---- the process's work log and error record ----------------------------------
    WorkLog& Log;
    LastError& Error; // ErrorNumber, ErrorDescription

    // ---- method frame ---------------------------------------------------------------
    // 1. BeginCall; 2. entry event (WriteEventF(Log, "Method", ...)) where the method
    // has arguments worth logging; 3. the exchange; 4. CallSucceeded, or
    // 5. return CallFailed(result, "Method").
    void BeginCall()
    {
        process_.CallStarted();
        ResetLastError(Error);
    }
    void CallSucceeded(const char* method, const char* text = "Ok") { WriteEvent(Log, text, method); }
    // RaiseError with the method as source (an inner error stays as raised), then the
    // error goes to the work log. Returns the result the member must return.
    HRESULT CallFailed(HRESULT result, const char* method);

    // ---- state ----------------------------------------------------------------------
    LONG EcrState = static_cast<LONG>(0x80000000); // FPState bits; fpNotDefined until an answer
    LONG EcrErrorNumber = 0;
    DriverString PrinterInfo, FiscalInfo;
    DriverString TaxPayerInfo1, TaxPayerInfo2, TaxPayerInfo3;
    LONG TotalSum = 0;

    // ---- serial link (fiscal_printer_commands.cpp, serial_link.cpp) ---------------
    // The port, the link layer (the sequence, the last answer, ReadTimeout and its own
    // copy of the register status) and its log lines, which go to Log. Every
    // accepted answer copies the status to EcrState/EcrErrorNumber and refreshes the
    // status dialog (AnswerReceived).
    SerialLink Serial{&Log};
    void AnswerReceived();
    // The status query of GetState and Connect: sends it and fills PrinterInfo,
    // FiscalInfo and TaxPayerInfo1-3 (the fields decoded before a failure stay set).
    // value: answer bytes 0 to 1. check: the register check of Connect instead (two
    // queries from sequence 0, the second one decides).
    HRESULT QueryRegisterState(LONG* value, bool check = false);
    // CallFailed, with the number of FPE_SYSTEM/FPE_ECR put in the last-error value.
    HRESULT LinkFailed(HRESULT result, const char* method);
    // A receipt or safe command that the register accepted but whose answer lacks its
    // sums: the protocol error, described so that the cashier checks the receipt before
    // repeating the command.
    HRESULT IncompleteAnswer(const char* method);
    HRESULT PortNotOpened(const char* port);
    // SetLogo's failures about its file: the cause's text and the path.
    HRESULT FileFailed(HRESULT result, UINT text, DWORD systemError, const char* path);

    // What a record object takes when it is filled (report_commands.cpp): this object
    // as its parent, the process's type library and the error record.
    records::Context RecordContext();
    // ---- end of serial link --------------------------------------------------------

private:
    ServerProcess& process_;
    LONG refCount_ = 0;

    void MarkConnected();
    void MarkDisconnected();
    // Link part of the transitions (fiscal_printer_commands.cpp): reset the link state
    // on connect, close the serial port on disconnect.
    void ResetLink();
    void CloseLink();
    HRESULT NotSupported();
};
