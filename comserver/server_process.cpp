#include "comserver/server_process.h"

#include "comserver/code_page.h"
#include "comserver/keep_last_error.h"
#include "peltra44_h.h"
#include "comserver/tray_window.h"

#include <cstring>

const char* ClassIdString()
{
    static char text[40];
    if (!text[0]) {
        wchar_t wide[40];
        if (StringFromGUID2(CLSID_FiscalPrinter, wide, 40) > 0) WideToAnsi(wide, -1, text, sizeof text);
    }
    return text;
}

const char* ServerProcess::ModulePath()
{
    if (!modulePathKnown_) {
        modulePathKnown_ = true;
        const DWORD n = GetModuleFileNameA(nullptr, modulePath_, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) modulePath_[0] = '\0';
    }
    return modulePath_;
}

bool ServerProcess::SetModulePath(const char* path)
{
    const std::size_t n = path ? std::strlen(path) : 0;
    if (n >= MAX_PATH) return false;
    if (n) std::memcpy(modulePath_, path, n);
    modulePath_[n] = '\0';
    modulePathKnown_ = true;
    return true;
}

ServerProcess::~ServerProcess()
{
    SysFreeString(error_.description);
    error_.description = nullptr;
}

// ---- server locks and the idle countdown ------------------------------------------------

bool ServerProcess::Lock() { return lockCount_++ == 0; }

bool ServerProcess::Unlock()
{
    if (lockCount_ <= 0) return false; // LockServer(FALSE) without a lock to give back
    if (--lockCount_ != 0) return false;
    idleCountdown_ = kIdleTicksAfterLastLock;
    return true;
}

bool ServerProcess::IdleTick()
{
    if (portIdleTicks_ < kPortIdleTicks && ++portIdleTicks_ == kPortIdleTicks && portIdleHandler_)
        portIdleHandler_(portIdleContext_);
    if (statusDialog_ || lockCount_ > 0) return false;
    if (idleCountdown_ > 0) {
        --idleCountdown_;
        return false;
    }
    return true;
}

// ---- windows ----------------------------------------------------------------------------

void ServerProcess::StatusDialogOpened(HWND dialog)
{
    statusDialog_ = dialog;
    log_.notifyWindow = dialog;
}

void ServerProcess::StatusDialogClosed(HWND dialog)
{
    if (dialog != statusDialog_) return;
    statusDialog_ = nullptr;
    log_.notifyWindow = nullptr;
}

void ServerProcess::StatusChanged() const
{
    if (statusDialog_) SendMessageA(statusDialog_, kRefreshStatus, 0, 0);
}

// ---- type library -----------------------------------------------------------------------

HRESULT ServerProcess::LoadTypeLibrary()
{
    if (typeLib_) return S_OK;
    HRESULT hr = LoadRegTypeLib(LIBID_PELTRA44, 1, 0, 0, &typeLib_);
    if (FAILED(hr)) {
        wchar_t path[MAX_PATH];
        if (AnsiToWide(log_.modulePath, -1, path, MAX_PATH) > 0) hr = LoadTypeLibEx(path, REGKIND_NONE, &typeLib_);
    }
    return hr;
}

HRESULT ServerProcess::LoadTypeLibraryFrom(const wchar_t* file)
{
    if (typeLib_) return S_OK;
    return LoadTypeLibEx(file, REGKIND_NONE, &typeLib_);
}

HRESULT ServerProcess::LoadPrinterTypeInfo()
{
    if (!typeLib_) return E_UNEXPECTED;
    return typeLib_->GetTypeInfoOfGuid(IID_IFiscalPrinter, &printerTypeInfo_);
}

void ServerProcess::ReleaseTypeLibrary()
{
    if (printerTypeInfo_) printerTypeInfo_->Release();
    if (typeLib_) typeLib_->Release();
    printerTypeInfo_ = nullptr;
    typeLib_ = nullptr;
}

// ---- class object -----------------------------------------------------------------------

HRESULT ServerProcess::RegisterClassObject(IUnknown* factory)
{
    return CoRegisterClassObject(CLSID_FiscalPrinter, factory, CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                 REGCLS_MULTIPLEUSE, &classCookie_);
}

void ServerProcess::RevokeClassObject()
{
    if (!classCookie_) return;
    KeepLastError keep;
    CoRevokeClassObject(classCookie_);
    classCookie_ = 0;
}
