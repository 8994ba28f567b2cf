// FiscalPrinter: interfaces, properties, connect/disconnect, method frame.
// (Compiled with the ANSI page 1251 as execution character set: the event texts.)
#include "comserver/fiscal_printer.h"

#include <cstdio>
#include <cwchar>

// ---- IUnknown ---------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IFiscalPrinter))
        *ppv = static_cast<IFiscalPrinter*>(this);
    else if (IsEqualIID(riid, kIID_IDispatchEx)) *ppv = static_cast<IDispatchEx*>(this);
    else if (IsEqualIID(riid, IID_ISupportErrorInfo)) *ppv = static_cast<ISupportErrorInfo*>(this);
    else if (IsEqualIID(riid, IID_IProvideClassInfo)) *ppv = static_cast<IProvideClassInfo*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) FiscalPrinter::AddRef()
{
    if (refCount_ == 0) LockServer();
    return static_cast<ULONG>(++refCount_);
}

STDMETHODIMP_(ULONG) FiscalPrinter::Release()
{
    if (refCount_ <= 0) return 0; // a surplus Release must not unbalance the locks
    if (--refCount_ == 0) UnlockServer();
    return static_cast<ULONG>(refCount_);
}

// ---- server locks and the connected state ---------------------------------------------

void FiscalPrinter::LockServer()
{
    if (process_.Lock()) MarkConnected();
}

void FiscalPrinter::UnlockServer()
{
    if (process_.Unlock()) MarkDisconnected();
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
    ITypeInfo* info = process_.PrinterTypeInfo();
    if (!info) return E_FAIL;
    info->AddRef();
    *ppTInfo = info;
    return S_OK;
}

STDMETHODIMP FiscalPrinter::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    ITypeInfo* info = process_.PrinterTypeInfo();
    if (!info) return E_FAIL;
    return info->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP FiscalPrinter::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excepInfo, UINT* argErr)
{
    ITypeInfo* info = process_.PrinterTypeInfo();
    if (!info) return E_FAIL;
    return info->Invoke(static_cast<IFiscalPrinter*>(this), id, flags, params, result, excepInfo, argErr);
}

// ---- IProvideClassInfo / ISupportErrorInfo --------------------------------------------

STDMETHODIMP FiscalPrinter::GetClassInfo(ITypeInfo** ppTI)
{
    if (!ppTI) return E_POINTER;
    *ppTI = nullptr;
    ITypeLib* lib = process_.TypeLib();
    if (!lib) return E_UNEXPECTED;
    return lib->GetTypeInfoOfGuid(CLSID_FiscalPrinter, ppTI);
}

STDMETHODIMP FiscalPrinter::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID_IFiscalPrinter) ? S_OK : S_FALSE;
}

// ---- properties -------------------------------------------------------------------------

STDMETHODIMP FiscalPrinter::get_Name(BSTR* pRet)
{
    if (!pRet) return E_POINTER;
    ITypeLib* lib = process_.TypeLib();
    if (!lib) return RaiseNewError(Error, E_UNEXPECTED);
    BSTR name = nullptr;
    HRESULT hr = lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
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

HRESULT FiscalPrinter::NotSupported() { return RaiseNewError(Error, E_NOTIMPL); }

STDMETHODIMP FiscalPrinter::SetLineSpacing(LONG) { return NotSupported(); }
STDMETHODIMP FiscalPrinter::GetPaperState(short*) { return NotSupported(); }
STDMETHODIMP FiscalPrinter::SetContrast(short) { return NotSupported(); }
STDMETHODIMP FiscalPrinter::GetZReport(LONG, IZReport**) { return NotSupported(); }
