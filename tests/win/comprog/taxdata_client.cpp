// A C++ client that hands PELTRA44's SetTaxData its own ITaxData object (not one the
// server made), early-bound, across the process boundary.
//   taxdata_client PORT   connects, then prints "Case=HEX|ErrorNumber|ErrorDescription" for:
//     Table         Count 2, rates 2000 and 700, Flags 0x22, fees 150 and 0, FeeRateE 100
//     NoFees        the same with Flags 0x02 and a fee of 70000 (not sent, not checked)
//     WideRate      TaxRateB 70000: does not fit the 16 bits it is sent in
//     Count6        Count 6
//     FailingRead   FeeRateE fails with 0x80041234
//     NoRecord      no record at all
//   and "Released=N": references the server still holds on the records afterwards;
//   then numbers and codes with characters the register's code page lacks:
//     FiscalCjk, FiscalEmoji  SetFiscalNumber with ten CJK characters, five emoji
//     TaxCjk                  SetTaxPayerInfo with the tax number "12345678901" and a CJK one
//     BarcodeCjk, QrCjk       PrintBarcode and PrintQR with CJK characters
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

#include "peltra44_h.h"

namespace {

// A tax table record of the client's own.
class Table : public ITaxData {
public:
    LONG count = 2, rates[5] = {2000, 700, 0, 0, 0}, fees[5] = {150, 0, 0, 0, 0}, feeE = 100;
    SHORT flags = 0x22;
    int failing = -1; // index of the getter that fails (0 Count, 1-5 rates, 6-10 fees, 11 E, 12 Flags)
    LONG refs = 1;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ITaxData) {
            *ppv = static_cast<ITaxData*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP get_Name(BSTR* p) override
    {
        *p = SysAllocString(L"TaxData");
        return S_OK;
    }
    STDMETHODIMP get_Parent(IFiscalPrinter** p) override
    {
        *p = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP get_Date(BSTR* p) override
    {
        *p = SysAllocString(L"");
        return S_OK;
    }
#define GETTER(name, index, value)                                      \
    STDMETHODIMP get_##name(LONG* p) override                           \
    {                                                                   \
        if (failing == index) return static_cast<HRESULT>(0x80041234L); \
        *p = value;                                                     \
        return S_OK;                                                    \
    }                                                                   \
    STDMETHODIMP put_##name(LONG) override { return E_NOTIMPL; }
    GETTER(Count, 0, count)
    GETTER(TaxRateA, 1, rates[0])
    GETTER(TaxRateB, 2, rates[1])
    GETTER(TaxRateV, 3, rates[2])
    GETTER(TaxRateG, 4, rates[3])
    GETTER(TaxRateD, 5, rates[4])
    GETTER(FeeRateA, 6, fees[0])
    GETTER(FeeRateB, 7, fees[1])
    GETTER(FeeRateV, 8, fees[2])
    GETTER(FeeRateG, 9, fees[3])
    GETTER(FeeRateD, 10, fees[4])
    GETTER(FeeRateE, 11, feeE)
#undef GETTER
    STDMETHODIMP get_Flags(SHORT* p) override
    {
        if (failing == 12) return static_cast<HRESULT>(0x80041234L);
        *p = flags;
        return S_OK;
    }
    STDMETHODIMP put_Flags(SHORT) override { return E_NOTIMPL; }
};

std::string Utf8(const wchar_t* text)
{
    if (!text) return std::string();
    char buf[1024];
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof buf, nullptr, nullptr);
    return n > 0 ? std::string(buf) : std::string();
}

// The result, then the server's error record (ErrorNumber, ErrorDescription): error
// objects do not cross the process boundary with an early-bound call here.
void Show(IFiscalPrinter* fp, const char* name, HRESULT hr)
{
    LONG number = 0;
    BSTR description = nullptr;
    fp->get_ErrorNumber(&number);
    fp->get_ErrorDescription(&description);
    std::printf("%s=%lX|%lX|%s\n", name, static_cast<unsigned long>(hr), static_cast<unsigned long>(number),
                Utf8(description).c_str());
    SysFreeString(description);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    CoInitialize(nullptr);
    IFiscalPrinter* fp = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FiscalPrinter, nullptr, CLSCTX_LOCAL_SERVER, IID_IFiscalPrinter,
                                  reinterpret_cast<void**>(&fp));
    if (FAILED(hr)) {
        std::printf("CoCreateInstance=%lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    wchar_t port[64];
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, port, 64);
    BSTR name = SysAllocString(port);
    Show(fp, "Connect", fp->Connect(name, 19200));
    SysFreeString(name);

    Table table;
    Show(fp, "Table", fp->SetTaxData(0, &table));
    Table noFees;
    noFees.flags = 0x02;
    noFees.fees[0] = 70000;
    Show(fp, "NoFees", fp->SetTaxData(0, &noFees));
    Table wide;
    wide.rates[1] = 70000;
    Show(fp, "WideRate", fp->SetTaxData(0, &wide));
    Table six;
    six.count = 6;
    Show(fp, "Count6", fp->SetTaxData(0, &six));
    Table failing;
    failing.failing = 11;
    Show(fp, "FailingRead", fp->SetTaxData(0, &failing));
    Show(fp, "NoRecord", fp->SetTaxData(0, nullptr));
    fp->Release();
    CoUninitialize();
    std::printf("Released=%ld\n",
                (table.refs - 1) + (noFees.refs - 1) + (wide.refs - 1) + (six.refs - 1) + (failing.refs - 1));
    // Numbers and codes the register cannot print: refused, nothing sent.
    const auto text = [&](const char* label, const wchar_t* value, HRESULT (*call)(IFiscalPrinter*, BSTR)) {
        BSTR b = SysAllocString(value);
        Show(fp, label, call(fp, b));
        SysFreeString(b);
    };
    CoInitialize(nullptr);
    hr = CoCreateInstance(CLSID_FiscalPrinter, nullptr, CLSCTX_LOCAL_SERVER, IID_IFiscalPrinter,
                          reinterpret_cast<void**>(&fp));
    if (FAILED(hr)) return 1;
    name = SysAllocString(port);
    Show(fp, "Connect2", fp->Connect(name, 19200));
    SysFreeString(name);
    text("FiscalCjk", L"\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587",
         [](IFiscalPrinter* p, BSTR b) { return p->SetFiscalNumber(0, b); });
    text("FiscalEmoji", L"\xD83D\xDE00\xD83D\xDE00\xD83D\xDE00\xD83D\xDE00\xD83D\xDE00",
         [](IFiscalPrinter* p, BSTR b) { return p->SetFiscalNumber(0, b); });
    text("TaxCjk", L"12345678901\x4E2D", [](IFiscalPrinter* p, BSTR b) {
        BSTR info = SysAllocString(L"Info");
        const HRESULT r = p->SetTaxPayerInfo(0, b, info, info, info, 0x10);
        SysFreeString(info);
        return r;
    });
    text("BarcodeCjk", L"\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587\x4E2D",
         [](IFiscalPrinter* p, BSTR b) { return p->PrintBarcode(b); });
    text("QrCjk", L"\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587\x4E2D\x6587",
         [](IFiscalPrinter* p, BSTR b) { return p->PrintQR(b); });
    fp->Release();
    CoUninitialize();
    std::printf("DONE\n");
    return 0;
}
