// Registration and unregistration. (Compiled with the ANSI page 1251 as execution
// character set: the texts of the message boxes.)
#include "comserver/registration.h"

#include <string>

#include "comserver/code_page.h"
#include "comserver/message_box.h"
#include "peltra44_h.h"
#include "comserver/server_process.h"

namespace {

// A failing registry call: its code becomes the thread's last error and FPE_FILE_SYSTEM
// is raised with source "VAdazi", then shown.
HRESULT RegistryFailure(LastError& error, LONG code)
{
    SetLastError(static_cast<DWORD>(code));
    HRESULT hr = RaiseNewError(error, FPE_FILE_SYSTEM);
    ShowLastError();
    return hr;
}

// Creates (or opens) HKCR\path, sets one REG_SZ value (name null: the default value)
// and closes the key.
LONG WriteValue(const std::string& path, const char* name, const std::string& data, REGSAM access = KEY_WRITE)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                              &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>(data.size() + 1));
    LONG closeRc = RegCloseKey(key);
    return rc != ERROR_SUCCESS ? rc : closeRc;
}

} // namespace

HRESULT RegisterServer(ServerProcess& process)
{
    LastError& error = process.Error();
    const char* executable = process.ModulePath();
    ResetLastError(error);

    wchar_t modulePath[MAX_PATH];
    if (AnsiToWide(executable, -1, modulePath, MAX_PATH) <= 0)
        return RegistryFailure(error, static_cast<LONG>(GetLastError()));

    HRESULT hr = process.LoadTypeLibraryFrom(modulePath);
    ITypeLib* typeLib = process.TypeLib();
    if (SUCCEEDED(hr)) hr = RegisterTypeLib(typeLib, modulePath, nullptr);

    BSTR libName = nullptr, className = nullptr, classDoc = nullptr;
    ITypeInfo* classInfo = nullptr;
    if (SUCCEEDED(hr)) hr = typeLib->GetDocumentation(-1, &libName, nullptr, nullptr, nullptr);
    if (SUCCEEDED(hr)) hr = typeLib->GetTypeInfoOfGuid(CLSID_FiscalPrinter, &classInfo);
    if (SUCCEEDED(hr)) hr = classInfo->GetDocumentation(MEMBERID_NIL, &className, &classDoc, nullptr, nullptr);
    if (classInfo) classInfo->Release();
    const std::string lib = WideToAnsi(libName), cls = WideToAnsi(className), description = WideToAnsi(classDoc);
    SysFreeString(libName);
    SysFreeString(className);
    SysFreeString(classDoc);
    if (FAILED(hr)) {
        hr = RaiseNewError(error, hr);
        ShowLastError();
        return hr;
    }

    const std::string clsid = ClassIdString();
    const std::string versionIndependent = lib + "." + cls;
    const std::string progId = versionIndependent + ".1";
    const std::string clsidKey = "CLSID\\" + clsid;
    const std::string appIdKey = "AppId\\" + clsid;
    struct Row {
        std::string key;
        const char* name;
        std::string data;
        REGSAM access;
    };
    const Row rows[] = {
        {progId, nullptr, description, KEY_WRITE},
        {progId + "\\CLSID", nullptr, clsid, KEY_WRITE},
        {versionIndependent, nullptr, description, KEY_WRITE},
        {versionIndependent + "\\CLSID", nullptr, clsid, KEY_WRITE},
        {versionIndependent + "\\CurVer", nullptr, progId, KEY_WRITE},
        {clsidKey, nullptr, description, KEY_WRITE},
        {clsidKey, "AppId", clsid, KEY_WRITE},
        {clsidKey + "\\LocalServer32", nullptr, executable, KEY_WRITE},
        {appIdKey, nullptr, description, KEY_READ | KEY_WRITE},
        {appIdKey, "RunAs", "Interactive User", KEY_READ | KEY_WRITE},
    };
    for (const Row& row : rows) {
        LONG rc = WriteValue(row.key, row.name, row.data, row.access);
        if (rc != ERROR_SUCCESS) return RegistryFailure(error, rc);
    }

    const std::string text = description + " успешно зарегистрирован.";
    ShowMessageBoxA(nullptr, text.c_str(), kDefaultErrorSource, MB_OK | MB_ICONINFORMATION);
    return S_OK;
}

HRESULT RegisterAtStart(ServerProcess& process)
{
    HRESULT hr = RegisterServer(process);
    ResetLastError(process.Error());
    return hr;
}

HRESULT UnregisterServer(ServerProcess& process)
{
    LastError& error = process.Error();
    const char* clsid = ClassIdString();
    LONG rc = ERROR_SUCCESS;

    HKEY classes = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ | KEY_WRITE, &classes) == ERROR_SUCCESS) {
        HKEY cls = nullptr;
        if (RegOpenKeyExA(classes, clsid, 0, KEY_READ | KEY_WRITE, &cls) == ERROR_SUCCESS) {
            HKEY server = nullptr;
            if (RegOpenKeyExA(cls, "LocalServer32", 0, KEY_READ, &server) == ERROR_SUCCESS) {
                rc = RegCloseKey(server);
                if (rc == ERROR_SUCCESS) rc = RegDeleteKeyA(cls, "LocalServer32");
            }
            LONG closeRc = RegCloseKey(cls);
            if (rc == ERROR_SUCCESS) rc = closeRc;
            if (rc == ERROR_SUCCESS) rc = RegDeleteKeyA(classes, clsid);
        }
        LONG closeRc = RegCloseKey(classes);
        if (rc == ERROR_SUCCESS) rc = closeRc;
    }
    if (rc != ERROR_SUCCESS) return RegistryFailure(error, rc);

    HKEY appIds = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "AppId", 0, KEY_READ | KEY_WRITE, &appIds) == ERROR_SUCCESS) {
        HKEY app = nullptr;
        if (RegOpenKeyExA(appIds, clsid, 0, KEY_READ, &app) == ERROR_SUCCESS) {
            rc = RegCloseKey(app);
            if (rc == ERROR_SUCCESS) rc = RegDeleteKeyA(appIds, clsid);
        }
        LONG closeRc = RegCloseKey(appIds);
        if (rc == ERROR_SUCCESS) rc = closeRc;
    }
    if (rc != ERROR_SUCCESS) return RegistryFailure(error, rc);

    ShowMessageBoxA(nullptr, "Регистрация отменена.", kDefaultErrorSource, MB_OK | MB_ICONINFORMATION);
    return S_OK;
}
