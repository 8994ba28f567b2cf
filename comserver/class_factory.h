// FiscalPrinterFactory: the class object of FiscalPrinter. It never creates an object:
// every CreateInstance hands out the one static FiscalPrinter it was given.
#pragma once

#include <windows.h>
#include <ole2.h>

class FiscalPrinter;

class FiscalPrinterFactory final : public IClassFactory {
public:
    explicit FiscalPrinterFactory(FiscalPrinter& printer) : printer_(printer) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override; // frees the factory at 0
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    FiscalPrinter& printer_;
    LONG refCount_ = 0;
};
