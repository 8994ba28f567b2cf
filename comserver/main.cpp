// PELTRA44 entry point: the single-instance hand-over, the switches, registration, COM
// start-up, the message loop and the stop. (Compiled with the ANSI page 1251 as
// execution character set: the event texts.)
#include <windows.h>
#include <ole2.h>

#include <new>

#include "class_factory.h"
#include "fiscal_printer.h"
#include "keep_last_error.h"
#include "registration.h"
#include "tray_window.h"

namespace {

// The switch character: the one right after the first '-' or '/', lower-cased; 0
// without a switch.
char SwitchOf(const char* commandLine)
{
    if (!commandLine) return 0;
    for (const char* p = commandLine; *p; ++p)
        if (*p == '-' || *p == '/') return static_cast<char>(p[1] | 0x20);
    return 0;
}

HRESULT Serve(HINSTANCE instance, FiscalPrinterFactory*& factory)
{
    FiscalPrinter& fp = g_printer;
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) return hr;
    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY,
                              nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr)) return hr;
    if (!fp.ServerTypeLib) {
        hr = LoadRegTypeLib(LIBID_PELTRA44, 1, 0, 0, &fp.ServerTypeLib);
        if (FAILED(hr)) {
            // Not found in the registry (for example not registered for this locale):
            // the library is part of the executable anyway.
            wchar_t path[MAX_PATH];
            if (MultiByteToWideChar(CP_ACP, 0, fp.Log.modulePath, -1, path, MAX_PATH) > 0)
                hr = LoadTypeLibEx(path, REGKIND_NONE, &fp.ServerTypeLib);
        }
        if (FAILED(hr)) return hr;
    }
    hr = fp.ServerTypeLib->GetTypeInfoOfGuid(IID_IFiscalPrinter, &fp.PrinterTypeInfo);
    if (FAILED(hr)) return hr;
    factory = new (std::nothrow) FiscalPrinterFactory;
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    hr = CoRegisterClassObject(CLSID_FiscalPrinter, factory, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                               REGCLS_MULTIPLEUSE, &fp.ClassRegistrationCookie);
    if (FAILED(hr)) return hr;
    hr = RunServerWindow(instance);
    return hr;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    FiscalPrinter& fp = g_printer;

    // A running server takes over: it shows its status dialog.
    if (HWND running = FindWindowA(kWindowClass, ClassIdString())) {
        PostMessageA(running, kTrayMessage, 0, WM_LBUTTONDOWN);
        return 0;
    }

    ClearEvents(fp.Log);
    ResetLastError(fp.Error);

    char modulePath[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    LoadSettings(fp.Log, modulePath);
    WriteEvent(fp.Log, "Запуск");

    switch (SwitchOf(commandLine)) {
    case 'r':
        RegisterServer();
        if (fp.ServerTypeLib) fp.ServerTypeLib->Release();
        return 0;
    case 'u':
        UnregisterServer();
        return 0;
    case 'e':
        fp.EmbeddedMode = 1;
        break;
    }
    if (!fp.EmbeddedMode) RegisterServer();

    FiscalPrinterFactory* factory = nullptr;
    HRESULT hr = Serve(instance, factory);
    if (fp.ClassRegistrationCookie) {
        KeepLastError keep;
        CoRevokeClassObject(fp.ClassRegistrationCookie);
        fp.ClassRegistrationCookie = 0;
    }

    if (FAILED(hr)) {
        RaiseError(fp.Error, hr);
        LogLastError(fp.Log);
        ShowLastError();
    }
    WriteEvent(fp.Log, "Остановка");
    CloseLog(fp.Log);

    if (factory) factory->Release();
    if (fp.PrinterTypeInfo) fp.PrinterTypeInfo->Release();
    if (fp.ServerTypeLib) fp.ServerTypeLib->Release();
    fp.PrinterTypeInfo = nullptr;
    fp.ServerTypeLib = nullptr;
    CoUninitialize();
    return FAILED(hr) ? 1 : 0;
}
