// The one routine through which the server shows message boxes.
//
// When the environment variable PELTRA44_MSGBOX_LOG names a file, no box is shown:
// the box is appended to that file as one UTF-8 line
//     caption TAB text TAB style-in-hex LF
// (line breaks inside the text written as the two characters "\n", tabs as "\t"), and
// the routine answers as if the first button had been pressed (IDOK for MB_OK boxes).
// This keeps unattended runs (tests) from waiting on a box nobody can close ("Unattended
// runs" in docs/peltra44.md).
#pragma once

#include <windows.h>

#include <string>

// Shows (or logs) a box; returns the button pressed, 0 if the box could not be shown.
int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style);
// The same for ANSI texts (system code page).
int ShowMessageBoxA(HWND owner, const char* text, const char* caption, UINT style);
