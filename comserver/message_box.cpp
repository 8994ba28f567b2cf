#include "comserver/message_box.h"
#include "comserver/code_page.h"
#include "comserver/keep_last_error.h"

#include <string>

namespace {

constexpr wchar_t kLogVariable[] = L"PELTRA44_MSGBOX_LOG";

std::wstring Escaped(const wchar_t* s)
{
    std::wstring out;
    for (; s && *s; ++s) {
        switch (*s) {
        case L'\r': break;
        case L'\n': out += L"\\n"; break;
        case L'\t': out += L"\\t"; break;
        default: out += *s;
        }
    }
    return out;
}

// The button a user would most likely press: the first of the box.
int FirstButton(UINT style)
{
    switch (style & MB_TYPEMASK) {
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDYES;
    case MB_RETRYCANCEL: return IDRETRY;
    case MB_CANCELTRYCONTINUE: return IDCANCEL;
    default: return IDOK;
    }
}

} // namespace

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style)
{
    KeepLastError keep;
    DWORD n = GetEnvironmentVariableW(kLogVariable, nullptr, 0);
    if (n <= 1) // not set, or empty
        return MessageBoxW(owner, text ? text : L"", caption, style);
    std::wstring path(n, L'\0');
    DWORD got = GetEnvironmentVariableW(kLogVariable, &path[0], n);
    if (got == 0 || got >= n) return 0;
    path.resize(got);

    wchar_t styleText[16];
    wsprintfW(styleText, L"0x%X", style);
    std::string line = WideToUtf8(Escaped(caption) + L"\t" + Escaped(text) + L"\t" + styleText + L"\n");
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return FirstButton(style);
}

int ShowMessageBoxA(HWND owner, const char* text, const char* caption, UINT style)
{
    std::wstring t = Widen(text), c = Widen(caption);
    return ShowMessageBox(owner, t.c_str(), caption ? c.c_str() : nullptr, style);
}
