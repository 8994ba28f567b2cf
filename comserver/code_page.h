// The server's code-page conversions, all in one place: UTF-16 (COM), the ANSI page
// (1251: the server's own texts and the work log), the register's OEM page (866) and
// UTF-8 (the message-box log and texts given as UTF-8).
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// UTF-16 to ANSI; `length` < 0 converts up to and with the terminator. With `out` null,
// the bytes needed; else the bytes written (at most `capacity`). 0 on failure.
int WideToAnsi(const wchar_t* wide, int length, char* out, int capacity);
// The same for a terminated text, as a string; empty for a null text or on failure.
std::string WideToAnsi(const wchar_t* wide);
// The ANSI bytes of `wide` (length characters) when each character has a byte of its
// own in the page; 0 (or usedDefault set) when not.
int AnsiLengthWithoutBestFit(const wchar_t* wide, int length, bool& usedDefault);

// ANSI to UTF-16, as WideToAnsi the other way.
int AnsiToWide(const char* ansi, int length, wchar_t* out, int capacity);
// ANSI text as UTF-16; empty for a null or empty text.
std::wstring Widen(const char* ansi);

// UTF-8 (terminated) to UTF-16, terminator included, as AnsiToWide.
int Utf8ToWide(const char* utf8, wchar_t* out, int capacity);
std::string WideToUtf8(const std::wstring& wide);

// The register's OEM page to and from the ANSI page, in place (`count` bytes).
void OemToAnsiInPlace(char* text, std::size_t count);
void AnsiToOemInPlace(char* text, std::size_t count);
// Register text (OEM page) to the ANSI page; the text as given if the page has no table.
std::string OemPageToAnsi(const std::string& oem);
