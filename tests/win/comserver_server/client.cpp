// C++ client of the PELTRA44 server for the Wine tests, and helpers for its windows.
//   peltra44_client errnum        creates FiscalPrinter and prints "ErrorNumber=<n>"
//   peltra44_client hold FILE     holds the object until FILE exists (see Hold)
//   peltra44_client calls         late-bound calls through IDispatch; prints one line per
//                                 check ("ok ..." / "FAIL ..."), exit code 1 on a failure
//   peltra44_client dialog FILE   waits for the status dialog, prints its control texts
//                                 (UTF-8, "id=text") and saves a screenshot as FILE (BMP)
//   peltra44_client close-dialog  closes the status dialog as its close button does
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "peltra44_h.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s %s\n", ok ? "ok" : "FAIL", what);
    if (!ok) ++failures;
}

std::string Utf8(const wchar_t* text)
{
    if (!text) return std::string();
    char buf[1024];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof buf, nullptr, nullptr);
    return n > 0 ? std::string(buf) : std::string();
}

IDispatch* Create()
{
    IDispatch* disp = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_FiscalPrinter, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&disp));
    if (FAILED(hr)) std::printf("FAIL CoCreateInstance 0x%08lX\n", static_cast<unsigned long>(hr));
    return disp;
}

DISPID IdOf(IDispatch* disp, const wchar_t* name)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    return id;
}

// Invokes by name; args in call order (reversed into DISPPARAMS).
HRESULT Call(IDispatch* disp, const wchar_t* name, WORD flags, VARIANT* result, EXCEPINFO* ex,
             std::initializer_list<VARIANT> args = {})
{
    VARIANT rev[8];
    UINT n = 0;
    for (auto it = args.end(); it != args.begin();) rev[n++] = *--it;
    DISPPARAMS params{rev, nullptr, n, 0};
    UINT argErr = 0;
    return disp->Invoke(IdOf(disp, name), IID_NULL, 0, flags, &params, result, ex, &argErr);
}

VARIANT I4(LONG v)
{
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_I4;
    V_I4(&x) = v;
    return x;
}

VARIANT Missing()
{
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_ERROR;
    V_ERROR(&x) = DISP_E_PARAMNOTFOUND;
    return x;
}

int ErrNum()
{
    IDispatch* disp = Create();
    if (!disp) return 1;
    VARIANT r;
    VariantInit(&r);
    HRESULT hr = Call(disp, L"ErrorNumber", DISPATCH_PROPERTYGET, &r, nullptr);
    std::printf("ErrorNumber=%ld\n", SUCCEEDED(hr) ? static_cast<long>(V_I4(&r)) : 0L);
    disp->Release();
    return SUCCEEDED(hr) ? 0 : 1;
}

// Holds the object: leaves an error in its properties (TaxPayerInfo(4)), prints READY,
// waits for the file (at most 60 s), then prints ErrorNumber and DONE.
int Hold(const char* file)
{
    IDispatch* disp = Create();
    if (!disp) return 1;
    VARIANT r;
    VariantInit(&r);
    EXCEPINFO ex{};
    Call(disp, L"TaxPayerInfo", DISPATCH_PROPERTYGET, &r, &ex, {I4(4)});
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrHelpFile);
    std::printf("READY\n");
    std::fflush(stdout);
    for (int i = 0; i < 600 && GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES; ++i) {
        // Keep the apartment's messages flowing while waiting.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(100);
    }
    HRESULT hr = Call(disp, L"ErrorNumber", DISPATCH_PROPERTYGET, &r, nullptr);
    std::printf("ErrorNumber=%ld\n", SUCCEEDED(hr) ? static_cast<long>(V_I4(&r)) : 0L);
    disp->Release();
    std::printf("DONE\n");
    return SUCCEEDED(hr) ? 0 : 1;
}

int Calls()
{
    IDispatch* disp = Create();
    if (!disp) return 1;
    VARIANT r;
    EXCEPINFO ex{};
    VariantInit(&r);
    HRESULT hr;

    // Arguments passed as "missing" get the recorded defaults as well.
    hr = Call(disp, L"PayCheck", DISPATCH_METHOD, &r, &ex, {Missing(), Missing(), Missing()});
    Check(hr == DISP_E_EXCEPTION && ex.scode == static_cast<HRESULT>(0xA0042002) && ex.bstrSource &&
              std::wcscmp(ex.bstrSource, L"PayCheck") == 0,
          "PayCheck with missing arguments reaches its body");
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrHelpFile);
    ex = EXCEPINFO{};

    // The object's other tables through the proxy.
    IProvideClassInfo* pci = nullptr;
    ITypeInfo* cls = nullptr;
    BSTR doc = nullptr;
    hr = disp->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&pci));
    if (SUCCEEDED(hr)) hr = pci->GetClassInfo(&cls);
    if (SUCCEEDED(hr)) hr = cls->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr);
    Check(SUCCEEDED(hr) && doc && std::wcscmp(doc, L"Фискальный принтер PELTRA44") == 0,
          "IProvideClassInfo gives the FiscalPrinter coclass");
    SysFreeString(doc);
    if (cls) cls->Release();
    if (pci) pci->Release();
    ISupportErrorInfo* sei = nullptr;
    hr = disp->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&sei));
    Check(SUCCEEDED(hr) && sei->InterfaceSupportsErrorInfo(IID_IFiscalPrinter) == S_OK &&
              sei->InterfaceSupportsErrorInfo(IID_IDispatch) == S_FALSE,
          "ISupportErrorInfo");
    if (sei) sei->Release();

    // Early binding through the interface table of the proxy.
    IFiscalPrinter* printer = nullptr;
    hr = disp->QueryInterface(IID_IFiscalPrinter, reinterpret_cast<void**>(&printer));
    BSTR name = nullptr;
    if (SUCCEEDED(hr)) hr = printer->get_Name(&name);
    if (FAILED(hr)) std::printf("early-bound: 0x%08lX\n", static_cast<unsigned long>(hr));
    Check(SUCCEEDED(hr) && name && std::wcscmp(name, L"PELTRA44") == 0, "early-bound Name");
    SysFreeString(name);
    IZReport* report = nullptr;
    Check(printer && printer->GetZReport(1, &report) == E_NOTIMPL && !report, "early-bound GetZReport E_NOTIMPL");
    if (printer) printer->Release();

    disp->Release();
    return failures ? 1 : 0;
}

HWND WaitForDialog(int seconds)
{
    for (int i = 0; i < seconds * 10; ++i) {
        if (HWND dialog = FindWindowA("#32770", "VAdazi")) return dialog;
        Sleep(100);
    }
    return nullptr;
}

bool SaveScreenshot(HWND window, const char* path)
{
    RECT rc{};
    GetWindowRect(window, &rc);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
    SelectObject(mem, old);
    const DWORD stride = ((w * 3 + 3) & ~3), size = stride * h;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + size;
    bool ok = false;
    if (FILE* f = std::fopen(path, "wb")) {
        ok = std::fwrite(&fh, sizeof fh, 1, f) == 1 && std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, size, 1, f) == 1;
        std::fclose(f);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

int Dialog(const char* shot)
{
    HWND dialog = WaitForDialog(15);
    if (!dialog) {
        std::printf("FAIL no status dialog\n");
        return 1;
    }
    Sleep(300); // let it paint
    const int ids[] = {2, 1000, 1011, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1012};
    for (int id : ids) {
        wchar_t text[300] = {};
        GetDlgItemTextW(dialog, id, text, 300);
        std::printf("%d=%s\n", id, Utf8(text).c_str());
    }
    std::printf("1000checked=%u\n", IsDlgButtonChecked(dialog, 1000));
    std::printf("visible=%d\n", IsWindowVisible(dialog) ? 1 : 0);
    if (shot && *shot) std::printf("screenshot=%d\n", SaveScreenshot(dialog, shot) ? 1 : 0);
    return 0;
}

int CloseDialog()
{
    HWND dialog = WaitForDialog(5);
    if (!dialog) return 1;
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "dialog") return Dialog(argc > 2 ? argv[2] : nullptr);
    if (mode == "close-dialog") return CloseDialog();
    CoInitialize(nullptr);
    int rc = 2;
    if (mode == "errnum") rc = ErrNum();
    if (mode == "calls") rc = Calls();
    if (mode == "hold" && argc > 2) rc = Hold(argv[2]);
    CoUninitialize();
    return rc;
}
