// The few Win32 functions and runtime pieces the MSVC-layout host needs. The host is
// built by clang in MSVC mode without any C or C++ runtime (no CRT, no STL), so this file
// declares the kernel32 imports itself and supplies what the compiler expects from a
// runtime: memset/memcpy, _fltused, _purecall and operator new/delete over the process heap.
#pragma once

#include <stddef.h>
#include <stdint.h>

extern "C" {
typedef void* HANDLE;
typedef uint32_t DWORD;
typedef int BOOL;

__declspec(dllimport) HANDLE __stdcall LoadLibraryW(const wchar_t* name);
__declspec(dllimport) void* __stdcall GetProcAddress(HANDLE module, const char* name);
__declspec(dllimport) BOOL __stdcall FreeLibrary(HANDLE module);
__declspec(dllimport) HANDLE __stdcall GetProcessHeap();
__declspec(dllimport) void* __stdcall HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
__declspec(dllimport) void* __stdcall HeapReAlloc(HANDLE heap, DWORD flags, void* p, size_t bytes);
__declspec(dllimport) BOOL __stdcall HeapFree(HANDLE heap, DWORD flags, void* p);
__declspec(dllimport) HANDLE __stdcall GetStdHandle(DWORD which);
__declspec(dllimport) BOOL
    __stdcall WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, void* overlapped);
__declspec(dllimport) BOOL __stdcall ReadFile(HANDLE file, void* data, DWORD size, DWORD* read, void* overlapped);
__declspec(dllimport) HANDLE __stdcall CreateFileW(const wchar_t* name, DWORD access, DWORD share, void* security,
                                                   DWORD disposition, DWORD flags, HANDLE templateFile);
__declspec(dllimport) BOOL __stdcall CloseHandle(HANDLE h);
__declspec(dllimport) BOOL __stdcall DeleteFileW(const wchar_t* name);
__declspec(dllimport) DWORD __stdcall GetTempPathW(DWORD size, wchar_t* buffer);
__declspec(dllimport) DWORD __stdcall GetLongPathNameW(const wchar_t* shortPath, wchar_t* longPath, DWORD size);
__declspec(dllimport) const wchar_t* __stdcall GetCommandLineW();
__declspec(dllimport) DWORD __stdcall GetLastError();
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned code);
}

constexpr DWORD kStdOutput = static_cast<DWORD>(-11);
constexpr DWORD kGenericRead = 0x80000000u;
constexpr DWORD kShareReadWrite = 3;
constexpr DWORD kOpenExisting = 3;
#define INVALID_HANDLE reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1))
