// The hidden server window (class "VAdazi", titled with the CLSID string), its tray
// icon, the status dialog (resource 102) and the message loop of the server.
//
// Private messages: WM_USER to the server window = tray notification (lParam = mouse
// message; also posted by a second start of the program); WM_USER to the dialog =
// redraw the event lines; WM_USER + 1 to the dialog = redraw the status line.
//
// The window's timer drives the idle shutdown. Its period is one second; for unattended
// runs the environment variable PELTRA44_TICK_MS may set another (1 to 60000 ms; see
// "Unattended runs" in docs/peltra44.md).
#pragma once

#include <windows.h>

#include <functional>

class ServerProcess;

constexpr char kWindowClass[] = "VAdazi";
constexpr UINT kTrayMessage = WM_USER;
constexpr UINT kRefreshEvents = WM_USER;
constexpr UINT kRefreshStatus = WM_USER + 1;

// The register's status word (FPState bits) shown on the dialog's status line.
using RegisterStatusSource = std::function<LONG()>;

// Registers the class, creates the window, adds the icon, opens the dialog unless the
// server was started by COM, runs the message loop until the window is destroyed,
// then removes the icon and destroys what is left. The windows, the idle countdown and
// the log switch are the process's. Returns S_OK after a normal end, or the failure of
// the class, window or type-library step.
HRESULT RunServerWindow(HINSTANCE instance, ServerProcess& process, RegisterStatusSource status);
