#include "comserver/driver_string.h"
#include "comserver/code_page.h"
#include "comserver/keep_last_error.h"

#include <cstring>
#include <new>
#include <utility>

DriverString::~DriverString()
{
    KeepLastError keep;
    Reset();
}

DriverString::DriverString(const DriverString& other)
{
    KeepLastError keep;
    if (other.count_ > 0 && Allocate(other.count_)) std::memcpy(data_, other.data_, other.count_);
}

DriverString& DriverString::operator=(const DriverString& other)
{
    if (this != &other) {
        KeepLastError keep;
        Reset();
        if (other.count_ > 0 && Allocate(other.count_)) std::memcpy(data_, other.data_, other.count_);
    }
    return *this;
}

DriverString::DriverString(DriverString&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), count_(std::exchange(other.count_, 0)),
      wide_(std::exchange(other.wide_, nullptr))
{}

DriverString& DriverString::operator=(DriverString&& other) noexcept
{
    if (this != &other) {
        KeepLastError keep;
        Reset();
        data_ = std::exchange(other.data_, nullptr);
        count_ = std::exchange(other.count_, 0);
        wide_ = std::exchange(other.wide_, nullptr);
    }
    return *this;
}

void DriverString::DropWide()
{
    if (wide_) {
        SysFreeString(wide_);
        wide_ = nullptr;
    }
}

void DriverString::Reset()
{
    DropWide();
    delete[] data_;
    data_ = nullptr;
    count_ = 0;
}

// Replaces the text by count uninitialised bytes plus a terminating zero. On
// allocation failure the string stays empty.
bool DriverString::Allocate(std::size_t count)
{
    Reset();
    if (count == 0) return false;
    data_ = new (std::nothrow) char[count + 1];
    if (!data_) return false;
    data_[count] = '\0';
    count_ = count;
    return true;
}

std::size_t DriverString::Length() const { return data_ ? std::strlen(data_) : 0; }

void DriverString::Clear()
{
    KeepLastError keep;
    Reset();
}

void DriverString::Assign(const char* ansi)
{
    KeepLastError keep;
    if (ansi == data_ && ansi) return;
    std::size_t n = ansi ? std::strlen(ansi) : 0;
    if (n == 0) {
        Reset();
        return;
    }
    char* fresh = new (std::nothrow) char[n + 1];
    if (fresh) std::memcpy(fresh, ansi, n + 1);
    Reset();
    if (fresh) {
        data_ = fresh;
        count_ = n;
    }
}

// The text is converted into a new buffer before the old one and the cached wide copy
// go: `wide` may be that very copy (s.AssignWide(s.Wide())).
void DriverString::AssignWide(const wchar_t* wide, int length)
{
    KeepLastError keep;
    if (!wide) {
        Reset();
        return;
    }
    if (length < 0) length = static_cast<int>(wcslen(wide));
    int need = length > 0 ? WideToAnsi(wide, length, nullptr, 0) : 0;
    char* fresh = need > 0 ? new (std::nothrow) char[static_cast<std::size_t>(need) + 1] : nullptr;
    if (fresh) {
        WideToAnsi(wide, length, fresh, need);
        fresh[need] = '\0';
    }
    Reset();
    if (fresh) {
        data_ = fresh;
        count_ = static_cast<std::size_t>(need);
    }
}

void DriverString::AssignUtf8(const char* utf8)
{
    KeepLastError keep;
    Reset();
    if (!utf8 || !*utf8) return;
    int wn = Utf8ToWide(utf8, nullptr, 0);
    if (wn <= 1) return;
    wchar_t* wide = new (std::nothrow) wchar_t[wn];
    if (!wide) return;
    Utf8ToWide(utf8, wide, wn);
    AssignWide(wide, wn - 1);
    delete[] wide;
}

void DriverString::AssignBytes(const void* bytes, std::size_t count)
{
    KeepLastError keep;
    if (!bytes || count == 0) {
        Reset();
        return;
    }
    char* fresh = new (std::nothrow) char[count + 1];
    if (fresh) {
        std::memcpy(fresh, bytes, count);
        fresh[count] = '\0';
    }
    Reset();
    if (fresh) {
        data_ = fresh;
        count_ = count;
    }
}

void DriverString::Append(const char* ansi)
{
    KeepLastError keep;
    std::size_t n = ansi ? std::strlen(ansi) : 0;
    if (n == 0) return;
    std::size_t old = count_;
    char* fresh = new (std::nothrow) char[old + n + 1];
    if (!fresh) return;
    if (old) std::memcpy(fresh, data_, old);
    std::memcpy(fresh + old, ansi, n + 1);
    Reset();
    data_ = fresh;
    count_ = old + n;
}

BSTR DriverString::Wide()
{
    KeepLastError keep;
    if (wide_ || !data_) return wide_;
    int len = static_cast<int>(Length());
    if (len == 0) return nullptr;
    int need = AnsiToWide(data_, len, nullptr, 0);
    if (need <= 0) return nullptr;
    wide_ = SysAllocStringLen(nullptr, static_cast<UINT>(need));
    if (wide_) AnsiToWide(data_, len, wide_, need);
    return wide_;
}

BSTR DriverString::DetachWide()
{
    Wide();
    return std::exchange(wide_, nullptr);
}

void DriverString::FromOem()
{
    KeepLastError keep;
    if (!data_) return;
    DropWide();
    OemToAnsiInPlace(data_, count_);
}

void DriverString::ToOem()
{
    KeepLastError keep;
    if (!data_) return;
    DropWide();
    for (std::size_t i = 0; i < count_; ++i) {
        unsigned char c = static_cast<unsigned char>(data_[i]);
        if (c == 0xB2) data_[i] = 'I';
        else if (c == 0xB3) data_[i] = 'i';
    }
    AnsiToOemInPlace(data_, count_);
}

bool DriverString::FitsRegisterPage(const wchar_t* wide)
{
    KeepLastError keep;
    if (!wide || !*wide) return true;
    const int length = static_cast<int>(wcslen(wide));
    bool usedDefault = false;
    const int need = AnsiLengthWithoutBestFit(wide, length, usedDefault);
    if (need <= 0 || usedDefault) return false;
    for (int i = 0; i < length; ++i)
        if (wide[i] >= 0xD800 && wide[i] <= 0xDFFF) return false;
    DriverString ansi;
    ansi.AssignWide(wide, length);
    if (ansi.Length() != static_cast<std::size_t>(need)) return false;
    DriverString oem(ansi.Text());
    oem.ToOem();
    if (oem.Length() != ansi.Length()) return false;
    // The OEM conversion marks what it cannot place with "?".
    for (std::size_t i = 0; i < ansi.Length(); ++i)
        if (oem.Text()[i] == '?' && ansi.Text()[i] != '?') return false;
    return true;
}
