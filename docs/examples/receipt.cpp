// A sale receipt on the serial register through PELTRA44, early-bound through the
// IFiscalPrinter interface. The header and GUIDs (peltra44_h.h, peltra44_i.c) are made
// from the type library's IDL by the build, which places them beside PELTRA44.exe.
// Build: i686-w64-mingw32-g++ -static -O2 -isystem build/win/comserver -o receipt.exe
//   docs/examples/receipt.cpp build/win/comserver/peltra44_i.c -lole32 -loleaut32 -luuid
// Usage: receipt.exe COM5     (prints its lines in UTF-8)
#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <string>

#include "peltra44_h.h"

namespace {

std::string Utf8(const wchar_t* text)
{
    if (!text || !*text) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    return out;
}

// Every member returns an HRESULT; on a failure the object keeps the driver's own
// number and text in ErrorNumber and ErrorDescription (the thread's error object has
// the same text, with the method's name as its source).
void ShowError(IFiscalPrinter* fp, const char* what)
{
    LONG number = 0;
    BSTR text = nullptr;
    fp->get_ErrorNumber(&number);
    fp->get_ErrorDescription(&text);
    std::printf("%s: 0x%08lX %s\n", what, static_cast<unsigned long>(number), Utf8(text).c_str());
    SysFreeString(text);
}

bool Check(IFiscalPrinter* fp, HRESULT hr, const char* what)
{
    if (SUCCEEDED(hr)) return true;
    ShowError(fp, what);
    return false;
}

// One call with BSTR arguments: the caller owns them and frees them after the call.
struct Text {
    BSTR value;
    explicit Text(const wchar_t* s) : value(SysAllocString(s)) {}
    ~Text() { SysFreeString(value); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
};

int Run(IFiscalPrinter* fp, const wchar_t* port)
{
    LONG sum = 0, total = 0, change = 0;
    if (!Check(fp, fp->Connect(Text(port).value, 19200), "Connect")) return 1;
    BSTR info = nullptr;
    if (SUCCEEDED(fp->get_PrinterInfo(&info))) std::printf("Register: %s\n", Utf8(info).c_str());
    SysFreeString(info);

    // Code, count (thousandths), price (kopiykas), tax group, name, count format, extended code
    if (!Check(fp, fp->SaleArticle(3003, 1000, 4200, fpttA, Text(L"Чай зелений").value, 3, 0, &sum), "SaleArticle"))
        return 1;
    if (!Check(fp, fp->SaleArticle(4004, 3000, 1250, fpttB, Text(L"Булочка").value, 3, 0, &sum), "SaleArticle"))
        return 1;
    fp->get_TotalSum(&total);
    std::printf("Receipt total: %ld\n", static_cast<long>(total));
    if (!Check(fp, fp->PayCheck(fpptCash, 10000, Text(L"Готівка").value, &change), "PayCheck")) return 1;
    std::printf("Change: %ld\n", static_cast<long>(change));

    // A failure on purpose: no receipt is open now, so the register refuses a payment.
    if (FAILED(fp->PayCheck(fpptCash, 100, Text(L"").value, &change))) ShowError(fp, "PayCheck without a receipt");
    return Check(fp, fp->Disconnect(), "Disconnect") ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    wchar_t port[32];
    if (argc < 2 || !MultiByteToWideChar(CP_ACP, 0, argv[1], -1, port, 32)) {
        std::printf("usage: receipt COMn\n");
        return 2;
    }
    if (FAILED(CoInitialize(nullptr))) return 1;
    IFiscalPrinter* fp = nullptr;
    // The ProgID names the class; COM starts PELTRA44.exe -Embedding if it is not running.
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"PELTRA44.FiscalPrinter", &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IFiscalPrinter, reinterpret_cast<void**>(&fp));
    int rc = 1;
    if (FAILED(hr)) {
        std::printf("creating PELTRA44.FiscalPrinter failed: 0x%08lX\n", static_cast<unsigned long>(hr));
    } else {
        rc = Run(fp, port);
        fp->Release();
    }
    CoUninitialize();
    if (rc == 0) std::printf("DONE\n");
    return rc;
}
