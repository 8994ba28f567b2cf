// DriverString: the text type of the server.
//
// The text is kept in the system ANSI code page (a zero-terminated buffer, or none for
// the empty string). A wide copy (BSTR) for automation clients is made on demand and
// cached until the text changes. Two in-place conversions serve the register, whose
// texts are in the OEM code page.
//
// Every operation keeps the thread's system last-error value unchanged.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <cstddef>

class DriverString {
public:
    DriverString() = default;
    explicit DriverString(const char* ansi) { Assign(ansi); }
    ~DriverString();
    DriverString(const DriverString& other);
    DriverString& operator=(const DriverString& other);
    DriverString(DriverString&& other) noexcept;
    DriverString& operator=(DriverString&& other) noexcept;

    // Copies zero-terminated ANSI text; null or "" gives the empty string.
    void Assign(const char* ansi);
    // Converts wide text to the ANSI page. length < 0: zero-terminated (a BSTR may be
    // passed as it is; a null BSTR is the empty string).
    void AssignWide(const wchar_t* wide, int length = -1);
    // Converts UTF-8 text to the ANSI page (for texts written in the sources).
    void AssignUtf8(const char* utf8);
    // Copies count raw bytes and adds a terminating zero (count 0: empty).
    void AssignBytes(const void* bytes, std::size_t count);
    // Appends ANSI text.
    void Append(const char* ansi);
    void Clear();

    // The text; "" for the empty string, never null.
    const char* Text() const { return data_ ? data_ : ""; }
    // Length of the text up to its first zero byte.
    std::size_t Length() const;
    bool Empty() const { return Length() == 0; }

    // The cached wide copy, made on demand; owned by the string (null when empty or
    // when memory ran out).
    BSTR Wide();
    // Hands the wide copy to the caller, who owns it from then on; the string forgets
    // it and keeps its ANSI text. Null BSTR for the empty string.
    BSTR DetachWide();

    // Text read from the register: OEM page to ANSI page, in place.
    void FromOem();
    // Text for the register: Cyrillic І/і (0xB2/0xB3 in the ANSI page) become Latin
    // I/i, since the register's OEM page has no such letters; then ANSI page to OEM
    // page, in place.
    void ToOem();

    // Whether every character of `wide` reaches the register's code page unchanged by
    // the path the register members take (wide to ANSI page, then ToOem): no character
    // that either page lacks, no surrogate pair, no "best fit" look-alike. A null text
    // fits. Free texts may lose such characters as "?"; numbers and codes must not.
    static bool FitsRegisterPage(const wchar_t* wide);

private:
    void DropWide();
    void Reset();
    bool Allocate(std::size_t count);

    char* data_ = nullptr;  // count_ bytes plus a zero, or null
    std::size_t count_ = 0; // bytes stored (raw assignments may hold zeros)
    BSTR wide_ = nullptr;
};
