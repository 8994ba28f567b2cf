#include "comserver/tray_window.h"

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "comserver/code_page.h"
#include "peltra44_h.h"
#include "comserver/server_process.h"

namespace {

constexpr UINT kTimerId = 0;
constexpr UINT kTrayIconId = 1;
constexpr WORD kIconResource = 101;
constexpr WORD kDialogResource = 102;
constexpr int kCheckLog = 1000, kCheckTopMost = 1011, kFirstEventLine = 1001, kStatusLine = 1012;

// What the running window and its dialog work with. RunServerWindow owns it for the
// life of the message loop; the server window holds it in GWLP_USERDATA, the dialog in
// DWLP_USER.
struct TrayWindow {
    HINSTANCE instance;
    ServerProcess& process;
    RegisterStatusSource status;
};

TrayWindow* TrayOf(HWND window, int slot) { return reinterpret_cast<TrayWindow*>(GetWindowLongPtrA(window, slot)); }

UINT TickMilliseconds()
{
    const char* text = std::getenv("PELTRA44_TICK_MS");
    if (text && *text) {
        char* end = nullptr;
        long v = std::strtol(text, &end, 10);
        if (end && *end == '\0' && v >= 1 && v <= 60000) return static_cast<UINT>(v);
    }
    return 1000;
}

INT_PTR CALLBACK StatusDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    TrayWindow* tray = TrayOf(dialog, DWLP_USER);
    if (!tray) return 0; // the messages before WM_INITDIALOG
    ServerProcess& process = tray->process;
    WorkLog& log = process.Log();
    switch (message) {
    case WM_INITDIALOG: {
        process.StatusDialogOpened(dialog);
        RECT desktop{}, own{};
        GetWindowRect(GetDesktopWindow(), &desktop);
        GetWindowRect(dialog, &own);
        const int width = own.right - own.left, height = own.bottom - own.top;
        MoveWindow(dialog, (desktop.right - width) / 2, (desktop.bottom - height) / 2, width, height, FALSE);
        SendMessageA(dialog, kRefreshEvents, 0, 0);
        SendMessageA(dialog, kRefreshStatus, 0, 0);
        CheckDlgButton(dialog, kCheckLog, log.logEnabled ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(dialog, kCheckTopMost, BST_UNCHECKED);
        ShowWindow(dialog, SW_SHOW);
        SendMessageA(dialog, WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(LoadIconA(tray->instance, MAKEINTRESOURCEA(kIconResource))));
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL: // "Закрыть", the close box and Esc
            DestroyWindow(dialog);
            break;
        case kCheckLog: SetLogging(log, IsDlgButtonChecked(dialog, kCheckLog) == BST_CHECKED); break;
        case kCheckTopMost:
            SetWindowPos(dialog,
                         IsDlgButtonChecked(dialog, kCheckTopMost) == BST_CHECKED ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0,
                         0, 0, SWP_NOMOVE | SWP_NOSIZE);
            break;
        }
        break;
    case kRefreshEvents:
        for (int i = 0; i < kEventSlots; ++i) SetDlgItemTextA(dialog, kFirstEventLine + i, RecentEvent(log, i));
        break;
    case kRefreshStatus: {
        char text[16];
        std::snprintf(text, sizeof text, "0x%04lX", static_cast<unsigned long>(tray->status ? tray->status() : 0));
        SetDlgItemTextA(dialog, kStatusLine, text);
        break;
    }
    case WM_DESTROY:
        process.StatusDialogClosed(dialog);
        if (!process.Embedded()) process.StartIdleCountdown(1);
        break;
    }
    return 0;
}

void ShowStatusDialog(TrayWindow& tray)
{
    if (HWND dialog = tray.process.StatusDialog()) {
        SetForegroundWindow(dialog);
        return;
    }
    CreateDialogParamA(tray.instance, MAKEINTRESOURCEA(kDialogResource), nullptr, StatusDialogProc,
                       reinterpret_cast<LPARAM>(&tray));
}

LRESULT CALLBACK ServerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    TrayWindow* tray = TrayOf(window, GWLP_USERDATA);
    if (!tray) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
    case WM_CREATE: SetTimer(window, kTimerId, TickMilliseconds(), nullptr); break;
    case WM_TIMER:
        // Idle shutdown: nothing while the dialog is open or a client holds the server.
        if (tray->process.IdleTick()) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, kTimerId);
        PostQuitMessage(0);
        return 0;
    case kTrayMessage:
        switch (lParam) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP: ShowStatusDialog(*tray); break;
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

NOTIFYICONDATAA TrayIcon(HWND window)
{
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V2_SIZE;
    data.hWnd = window;
    data.uID = kTrayIconId;
    return data;
}

} // namespace

HRESULT RunServerWindow(HINSTANCE instance, ServerProcess& process, RegisterStatusSource status)
{
    TrayWindow tray{instance, process, std::move(status)};

    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ServerWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconResource));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExA(&wc)) return FPE_FILE_SYSTEM; // the last error holds the cause

    HWND window = CreateWindowExA(0, kWindowClass, ClassIdString(), WS_POPUP | WS_BORDER, 0, 0, 100, 100, nullptr,
                                  nullptr, instance, &tray);
    process.SetServerWindow(window);
    if (!window) return FPE_FILE_SYSTEM;

    // Tip: the class description from the type library.
    ITypeInfo* classInfo = nullptr;
    BSTR doc = nullptr;
    ITypeLib* lib = process.TypeLib();
    HRESULT hr = lib ? lib->GetTypeInfoOfGuid(CLSID_FiscalPrinter, &classInfo) : E_UNEXPECTED;
    if (SUCCEEDED(hr)) hr = classInfo->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr);
    if (classInfo) classInfo->Release();
    if (FAILED(hr)) {
        DestroyWindow(window);
        process.SetServerWindow(nullptr);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
        return hr;
    }
    NOTIFYICONDATAA icon = TrayIcon(window);
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = kTrayMessage;
    icon.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconResource));
    char tip[256] = {};
    if (doc && *doc) WideToAnsi(doc, -1, tip, sizeof tip - 1);
    if (tip[0]) {
        lstrcpynA(icon.szTip, tip, 61); // at most 60 characters
    } else {
        lstrcpynA(icon.szTip, kWindowClass, sizeof icon.szTip);
    }
    SysFreeString(doc);
    Shell_NotifyIconA(NIM_ADD, &icon);

    process.StartIdleCountdown(10);
    if (!process.Embedded()) PostMessageA(window, kTrayMessage, 0, WM_LBUTTONDOWN);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        HWND dialog = process.StatusDialog();
        if (dialog && IsDialogMessageA(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    NOTIFYICONDATAA remove = TrayIcon(window);
    Shell_NotifyIconA(NIM_DELETE, &remove);
    if (HWND dialog = process.StatusDialog()) DestroyWindow(dialog);
    if (IsWindow(window)) DestroyWindow(window);
    process.StatusDialogClosed(process.StatusDialog()); // its WM_DESTROY did this already
    process.SetServerWindow(nullptr);
    return S_OK;
}
