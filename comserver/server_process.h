// ServerProcess: the state of the PELTRA44 process, apart from the automation object.
//
// One per process (main.cpp), handed to the object, the registration and the tray
// window. It holds:
//   - the work log and the error record (ErrorNumber/ErrorDescription of the object,
//     also used by the start-up, registration and stop);
//   - the server lock count and the idle countdown that ends the program;
//   - the server window and the status dialog;
//   - the type library and the type information of IFiscalPrinter;
//   - the class-object registration cookie and the embedded mode (switch e).
#pragma once

#include <windows.h>
#include <ole2.h>

#include "comserver/errors.h"
#include "comserver/work_log.h"

class ServerProcess {
public:
    ServerProcess() = default;
    // Only the error description goes; COM pointers are released at stop.
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    WorkLog& Log() { return log_; }
    LastError& Error() { return error_; }

    // The executable's path (ANSI): GetModuleFileName's answer, asked the first time;
    // empty when it does not fit MAX_PATH. SetModulePath puts another first (tests);
    // false, and nothing changed, when it does not fit.
    const char* ModulePath();
    bool SetModulePath(const char* path);

    // ---- server locks and the idle countdown ----------------------------------------
    // Lock: true on the 0-to-1 step. Unlock: true on the 1-to-0 step, which also starts
    // the idle countdown (kIdleTicksAfterLastLock); a surplus unlock changes nothing.
    static constexpr LONG kIdleTicksAfterLastLock = 100;
    bool Lock();
    bool Unlock();
    LONG LockCount() const { return lockCount_; }
    void StartIdleCountdown(LONG ticks) { idleCountdown_ = ticks; }
    LONG IdleCountdown() const { return idleCountdown_; }
    // One tick of the server window's timer: nothing while the dialog is open or a
    // client holds the server; otherwise counts down and returns true once the count
    // has run out (the server stops).
    bool IdleTick();

    // ---- the port of a server no client calls ---------------------------------------
    // Every tick counts, whatever holds the server: a client killed without letting go
    // holds it for ever. After kPortIdleTicks ticks without a call the handler runs once
    // (the object closes its port); the next call starts the count again.
    static constexpr LONG kPortIdleTicks = 300;
    void CallStarted() { portIdleTicks_ = 0; }
    LONG PortIdleTicks() const { return portIdleTicks_; }
    void SetPortIdleHandler(void (*handler)(void*), void* context)
    {
        portIdleHandler_ = handler;
        portIdleContext_ = context;
    }

    // ---- windows --------------------------------------------------------------------
    HWND ServerWindow() const { return serverWindow_; }
    void SetServerWindow(HWND window) { serverWindow_ = window; }
    HWND StatusDialog() const { return statusDialog_; }
    // The dialog also gets the work log's change notices while it is open.
    void StatusDialogOpened(HWND dialog);
    void StatusDialogClosed(HWND dialog);
    // The register's status changed: the open dialog redraws its status line.
    void StatusChanged() const;

    // ---- embedded mode (started by COM with switch e: no dialog, no registration) ---
    bool Embedded() const { return embedded_; }
    void SetEmbedded() { embedded_ = true; }

    // ---- type library ---------------------------------------------------------------
    // Loads the library unless loaded: the registered one, else the executable's own
    // (the work log's module path: it may not be registered for this locale).
    HRESULT LoadTypeLibrary();
    // Loads the library from file unless loaded.
    HRESULT LoadTypeLibraryFrom(const wchar_t* file);
    // The type information of IFiscalPrinter from the loaded library.
    HRESULT LoadPrinterTypeInfo();
    ITypeLib* TypeLib() const { return typeLib_; }
    ITypeInfo* PrinterTypeInfo() const { return printerTypeInfo_; }
    void ReleaseTypeLibrary();

    // ---- class object ---------------------------------------------------------------
    HRESULT RegisterClassObject(IUnknown* factory);
    // Revokes it if registered; the thread's last-error value is kept.
    void RevokeClassObject();

private:
    WorkLog log_;
    LastError error_;
    char modulePath_[MAX_PATH] = {};
    bool modulePathKnown_ = false;
    LONG lockCount_ = 0;
    LONG idleCountdown_ = 0;
    LONG portIdleTicks_ = 0;
    void (*portIdleHandler_)(void*) = nullptr;
    void* portIdleContext_ = nullptr;
    HWND serverWindow_ = nullptr;
    HWND statusDialog_ = nullptr;
    bool embedded_ = false;
    ITypeLib* typeLib_ = nullptr;
    ITypeInfo* printerTypeInfo_ = nullptr;
    DWORD classCookie_ = 0;
};

// The CLSID of FiscalPrinter in registry form ("{00EB5842-...}"), ANSI.
const char* ClassIdString();
