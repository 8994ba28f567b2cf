#include "comserver/code_page.h"

#include <vector>

int WideToAnsi(const wchar_t* wide, int length, char* out, int capacity)
{
    return WideCharToMultiByte(CP_ACP, 0, wide, length, out, out ? capacity : 0, nullptr, nullptr);
}

std::string WideToAnsi(const wchar_t* wide)
{
    if (!wide || !*wide) return std::string();
    int n = WideToAnsi(wide, -1, nullptr, 0);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideToAnsi(wide, -1, &out[0], n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

int AnsiLengthWithoutBestFit(const wchar_t* wide, int length, bool& usedDefault)
{
    BOOL defaulted = FALSE;
    const int need = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0, nullptr, &defaulted);
    usedDefault = defaulted != FALSE;
    return need;
}

int AnsiToWide(const char* ansi, int length, wchar_t* out, int capacity)
{
    return MultiByteToWideChar(CP_ACP, 0, ansi, length, out, out ? capacity : 0);
}

std::wstring Widen(const char* ansi)
{
    if (!ansi || !*ansi) return {};
    int n = AnsiToWide(ansi, -1, nullptr, 0);
    if (n <= 1) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    AnsiToWide(ansi, -1, &out[0], n);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

int Utf8ToWide(const char* utf8, wchar_t* out, int capacity)
{
    return MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out, out ? capacity : 0);
}

std::string WideToUtf8(const std::wstring& w)
{
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr, nullptr);
    return out;
}

void OemToAnsiInPlace(char* text, std::size_t count) { OemToCharBuffA(text, text, static_cast<DWORD>(count)); }

void AnsiToOemInPlace(char* text, std::size_t count) { CharToOemBuffA(text, text, static_cast<DWORD>(count)); }

std::string OemPageToAnsi(const std::string& oem)
{
    if (oem.empty()) return oem;
    std::vector<char> out(oem.size());
    if (!OemToCharBuffA(oem.data(), out.data(), static_cast<DWORD>(oem.size()))) return oem;
    return std::string(out.data(), out.size());
}
