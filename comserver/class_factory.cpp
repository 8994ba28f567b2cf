#include "comserver/class_factory.h"

#include "comserver/fiscal_printer.h"

STDMETHODIMP FiscalPrinterFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FiscalPrinterFactory::AddRef() { return static_cast<ULONG>(++refCount_); }

STDMETHODIMP_(ULONG) FiscalPrinterFactory::Release()
{
    LONG count = --refCount_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP FiscalPrinterFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, IID_IFiscalPrinter))
        return E_NOINTERFACE;
    printer_.AddRef(); // the first reference takes the server lock (connects)
    *ppv = static_cast<IFiscalPrinter*>(&printer_);
    return S_OK;
}

STDMETHODIMP FiscalPrinterFactory::LockServer(BOOL lock)
{
    if (lock) printer_.LockServer();
    else printer_.UnlockServer();
    return S_OK;
}
