// PELTRA44 entry point: the single-instance hand-over, the switches, registration, COM
// start-up, the message loop and the stop. (Compiled with the ANSI page 1251 as
// execution character set: the event texts.)
#include <windows.h>
#include <ole2.h>

#include <new>

#include "comserver/class_factory.h"
#include "comserver/fiscal_printer.h"
#include "comserver/registration.h"
#include "comserver/server_process.h"
#include "comserver/settings.h"
#include "comserver/tray_window.h"

namespace {

// The process's state and its one automation object, never freed.
ServerProcess g_process;
FiscalPrinter g_printer{g_process};

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
    ServerProcess& process = g_process;
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) return hr;
    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
                              EOAC_NONE, nullptr);
    if (FAILED(hr)) return hr;
    hr = process.LoadTypeLibrary();
    if (FAILED(hr)) return hr;
    hr = process.LoadPrinterTypeInfo();
    if (FAILED(hr)) return hr;
    factory = new (std::nothrow) FiscalPrinterFactory(g_printer);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    hr = process.RegisterClassObject(factory);
    if (FAILED(hr)) return hr;
    hr = RunServerWindow(instance, process, [] { return g_printer.EcrState; });
    return hr;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    ServerProcess& process = g_process;
    WorkLog& log = process.Log();

    // A running server takes over: it shows its status dialog.
    if (HWND running = FindWindowA(kWindowClass, ClassIdString())) {
        PostMessageA(running, kTrayMessage, 0, WM_LBUTTONDOWN);
        return 0;
    }

    ClearEvents(log);
    ResetLastError(process.Error());

    const char* modulePath = process.ModulePath();
    if (!*modulePath) return 1;
    LoadSettings(log, modulePath);
    WriteEvent(log, "Запуск");

    switch (SwitchOf(commandLine)) {
    case 'r':
        RegisterServer(process);
        process.ReleaseTypeLibrary();
        return 0;
    case 'u': UnregisterServer(process); return 0;
    case 'e': process.SetEmbedded(); break;
    }
    if (!process.Embedded()) RegisterAtStart(process);

    FiscalPrinterFactory* factory = nullptr;
    HRESULT hr = Serve(instance, factory);
    process.RevokeClassObject();

    if (FAILED(hr)) {
        RaiseError(process.Error(), hr);
        LogLastError(log);
        ShowLastError();
    }
    WriteEvent(log, "Остановка");
    CloseLog(log);

    if (factory) factory->Release();
    process.ReleaseTypeLibrary();
    CoUninitialize();
    return FAILED(hr) ? 1 : 0;
}
