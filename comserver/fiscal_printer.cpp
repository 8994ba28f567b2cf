// FiscalPrinter: interfaces, properties, connect/disconnect, method frame.
// (Compiled with the ANSI page 1251 as execution character set: the event texts.)
#include "fiscal_printer.h"

#include <cstdio>
#include <cwchar>

FiscalPrinter g_printer;

const char* ClassIdString()
{
    static char text[40];
    if (!text[0]) {
        wchar_t wide[40];
        if (StringFromGUID2(CLSID_FiscalPrinter, wide, 40) > 0)
            WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    }
    return text;
}

FiscalPrinter::~FiscalPrinter()
{
    // Only the strings go (their own destructors); COM pointers were released at stop.
    SysFreeString(Error.description);
    Error.description = nullptr;
}

// ---- IUnknown ---------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID_IFiscalPrinter))
        *ppv = static_cast<IFiscalPrinter*>(this);
    else if (IsEqualIID(riid, IID_ISupportErrorInfo))
        *ppv = static_cast<ISupportErrorInfo*>(this);
    else if (IsEqualIID(riid, IID_IProvideClassInfo))
        *ppv = static_cast<IProvideClassInfo*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) FiscalPrinter::AddRef()
{
    if (RefCount == 0) LockServer();
    return static_cast<ULONG>(++RefCount);
}

STDMETHODIMP_(ULONG) FiscalPrinter::Release()
{
    if (RefCount <= 0) return 0;  // a surplus Release must not unbalance the locks
    if (--RefCount == 0) UnlockServer();
    return static_cast<ULONG>(RefCount);
}

// ---- server locks and the connected state ---------------------------------------------

void FiscalPrinter::LockServer()
{
    if (ServerLockCount++ == 0) MarkConnected();
}

void FiscalPrinter::UnlockServer()
{
    if (ServerLockCount <= 0) return;  // LockServer(FALSE) without a lock to give back
    if (--ServerLockCount == 0) {
        MarkDisconnected();
        ShutdownCountdown = 100;
    }
}

void FiscalPrinter::MarkConnected()
{
    EcrState = static_cast<LONG>(0x80000000);
    EcrErrorNumber = 0;
    Error.number = 0;
    SysFreeString(Error.description);
    Error.description = nullptr;
    TotalSum = 0;
    ResetLink();
    WriteEvent(Log, "Объект подключён");
}

void FiscalPrinter::MarkDisconnected()
{
    SysFreeString(Error.description);
    Error.description = nullptr;
    CloseLink();
    WriteEvent(Log, "Объект отключён");
}

// ---- IDispatch --------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

STDMETHODIMP FiscalPrinter::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo)
{
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (!PrinterTypeInfo) return E_FAIL;
    PrinterTypeInfo->AddRef();
    *ppTInfo = PrinterTypeInfo;
    return S_OK;
}

STDMETHODIMP FiscalPrinter::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!PrinterTypeInfo) return E_FAIL;
    return PrinterTypeInfo->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP FiscalPrinter::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr)
{
    if (!PrinterTypeInfo) return E_FAIL;
    return PrinterTypeInfo->Invoke(static_cast<IFiscalPrinter*>(this), id, flags, params, result,
                                   excepInfo, argErr);
}

// ---- IProvideClassInfo / ISupportErrorInfo --------------------------------------------

STDMETHODIMP FiscalPrinter::GetClassInfo(ITypeInfo** ppTI)
{
    if (!ppTI) return E_POINTER;
    *ppTI = nullptr;
    if (!ServerTypeLib) return E_UNEXPECTED;
    return ServerTypeLib->GetTypeInfoOfGuid(CLSID_FiscalPrinter, ppTI);
}

STDMETHODIMP FiscalPrinter::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID_IFiscalPrinter) ? S_OK : S_FALSE;
}

// ---- properties -------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::get_Name(BSTR* pRet)
{
    if (!pRet) return E_POINTER;
    if (!ServerTypeLib) return RaiseNewError(Error, E_UNEXPECTED);
    BSTR name = nullptr;
    HRESULT hr = ServerTypeLib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
    if (FAILED(hr)) return RaiseNewError(Error, hr);
    *pRet = name;
    return S_OK;
}

STDMETHODIMP FiscalPrinter::get_Version(BSTR* pRet)
{
    if (!pRet) return E_POINTER;
    wchar_t text[32];
    std::swprintf(text, 32, L"%i.%02i.%04x.%04x", 1, 0, 0x2999, 0x2999);
    *pRet = SysAllocString(text);
    return *pRet ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP FiscalPrinter::get_EcrState(FPState* pRet)
{
    if (!pRet) return E_POINTER;
    *pRet = static_cast<FPState>(EcrState);
    return S_OK;
}

STDMETHODIMP FiscalPrinter::get_EcrErrorNumber(LONG* pRet)
{
    if (!pRet) return E_POINTER;
    *pRet = EcrErrorNumber;
    return S_OK;
}

STDMETHODIMP FiscalPrinter::get_ErrorDescription(BSTR* pRet)
{
    if (!pRet) return E_POINTER;
    *pRet = Error.description ? SysAllocStringLen(Error.description, SysStringLen(Error.description))
                              : SysAllocString(L"");
    return *pRet ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP FiscalPrinter::get_ErrorNumber(LONG* pRet)
{
    if (!pRet) return E_POINTER;
    *pRet = Error.number;
    return S_OK;
}

STDMETHODIMP FiscalPrinter::get_PrinterInfo(BSTR* pRet)
{
    if (!pRet) return E_POINTER;
    *pRet = PrinterInfo.DetachWide();
    return S_OK;
}

STDMETHODIMP FiscalPrinter::get_FiscalInfo(BSTR* pRet)
{
    if (!pRet) return E_POINTER;
    *pRet = FiscalInfo.DetachWide();
    return S_OK;
}

STDMETHODIMP FiscalPrinter::get_TaxPayerInfo(LONG Id, BSTR* pRet)
{
    if (!pRet) return E_POINTER;
    switch (Id) {
    case 1: *pRet = TaxPayerInfo1.DetachWide(); return S_OK;
    case 2: *pRet = TaxPayerInfo2.DetachWide(); return S_OK;
    case 3: *pRet = TaxPayerInfo3.DetachWide(); return S_OK;
    default: return RaiseNewError(Error, E_INVALIDARG);
    }
}

STDMETHODIMP FiscalPrinter::get_TotalSum(LONG* pRet)
{
    if (!pRet) return E_POINTER;
    *pRet = TotalSum;
    return S_OK;
}

// ---- method frame -----------------------------------------------------------------------

HRESULT FiscalPrinter::CallFailed(HRESULT result, const char* method)
{
    HRESULT hr = RaiseError(Error, result, method);
    LogLastError(Log);
    return hr;
}

// ---- members without support ------------------------------------------------------------

HRESULT FiscalPrinter::NotSupported()
{
    return RaiseNewError(Error, E_NOTIMPL);
}

STDMETHODIMP FiscalPrinter::SetLineSpacing(LONG) { return NotSupported(); }
STDMETHODIMP FiscalPrinter::GetPaperState(short*) { return NotSupported(); }
STDMETHODIMP FiscalPrinter::SetContrast(short) { return NotSupported(); }
STDMETHODIMP FiscalPrinter::GetZReport(LONG, IZReport**) { return NotSupported(); }
