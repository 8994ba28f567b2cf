#include "message_box.h"
#include "keep_last_error.h"

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

std::string ToUtf8(const std::wstring& w)
{
    if (w.empty())
        return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr, nullptr);
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

std::wstring Widen(const char* s)
{
    if (!s || !*s)
        return {};
    int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    if (n <= 1)
        return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s, -1, &out[0], n);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

int ShowMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT style)
{
    KeepLastError keep;
    DWORD n = GetEnvironmentVariableW(kLogVariable, nullptr, 0);
    if (n <= 1)  // not set, or empty
        return MessageBoxW(owner, text ? text : L"", caption, style);
    std::wstring path(n, L'\0');
    DWORD got = GetEnvironmentVariableW(kLogVariable, &path[0], n);
    if (got == 0 || got >= n)
        return 0;
    path.resize(got);

    wchar_t styleText[16];
    wsprintfW(styleText, L"0x%X", style);
    std::string line = ToUtf8(Escaped(caption) + L"\t" + Escaped(text) + L"\t" + styleText + L"\n");
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
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
