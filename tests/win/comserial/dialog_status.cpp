// Prints the status line of PELTRA44's status dialog ("status=0x2000"), waiting up to
// ten seconds for the dialog to appear with its status line filled in. Exit code 1 when it does not.
#include <windows.h>

#include <cstdio>

int main()
{
    constexpr int kStatusLine = 1012;
    for (int i = 0; i < 100; ++i) {
        HWND dialog = FindWindowA("#32770", "VAdazi");
        if (dialog) {
            // The dialog may be found before it has filled in its controls.
            char text[64] = {};
            if (GetDlgItemTextA(dialog, kStatusLine, text, sizeof text) > 0) {
                std::printf("status=%s\n", text);
                return 0;
            }
        }
        Sleep(100);
    }
    std::printf("no status dialog\n");
    return 1;
}
