// Result codes, their texts and the error record of the server.
//
// Every failure is a COM result: the standard ones of fpresult:: and the driver's own
// FPE_* (serialproto/result_codes.h). A failure is reported three ways at once: the
// returned result, the thread's error object (source and description) and the
// object's LastError record (properties ErrorNumber and ErrorDescription).
//
// Texts come from the program's string resources (Russian). FPE_SYSTEM,
// FPE_FILE_SYSTEM and FPE_ECR carry their number in the thread's system last-error
// value: the failing step calls SetLastError before raising them, and everything in
// between keeps that value.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "serialproto/result_codes.h"

// Size of the description buffers of the server (characters, terminator included).
constexpr int kDescriptionSize = 256;

// Source of errors raised without one.
constexpr char kDefaultErrorSource[] = "VAdazi";

// String resource ids.
namespace textid {
constexpr UINT kError = 1;           // "Ошибка"
constexpr UINT kFileSystemError = 2; // "Ошибка файловой системы"
constexpr UINT kNetworkError = 3;
constexpr UINT kNeedsWindows2000 = 4;
constexpr UINT kRegistryError = 5;
constexpr UINT kServiceError = 6;
constexpr UINT kUnknownError = 16;      // "Неизвестная ошибка."
constexpr UINT kIncompleteAnswer = 340; // a money command's answer without its sums
// SetLogo's file checks; the path follows the text.
constexpr UINT kLogoNotFound = 341;
constexpr UINT kLogoDirectory = 342;
constexpr UINT kLogoUnreadable = 343;
constexpr UINT kLogoEmpty = 344;
constexpr UINT kLogoTruncated = 345;
constexpr UINT kLogoNotPicture = 346;
constexpr UINT kEcrError = 100; // "Ошибка ЭККР"; 100 + code: the register's error texts
} // namespace textid

// The error record of the automation object.
struct LastError {
    HRESULT number = 0;         // ErrorNumber: result of the last error raised, 0 if none
    BSTR description = nullptr; // ErrorDescription: its text, or none
};

// Module whose string resources hold the texts; null (the default) is the executable.
void SetTextModule(HMODULE module);

// Loads string resource id into buffer (ANSI page); returns its length, 0 if missing.
int LoadText(UINT id, char* buffer, int size);

// Composes the description of result into buffer (size characters, zero included);
// returns its length. Never fails: missing texts fall back on English words, a missing
// system message shortens the text, long parts are cut.
int DescribeError(HRESULT result, char* buffer, int size);

// Composes the description of the register's error code: "Ошибка ЭККР", " <code>: ",
// then the code's text (or "Неизвестная ошибка."). Returns its length.
int DescribeRegisterError(int code, char* buffer, int size);

// Frees the description, sets the number to 0 and drops any error object pending on
// the thread.
void ResetLastError(LastError& last);

// Raises a new error: makes an error object the thread's error information and stores
// the result and description in last. A non-failure result becomes E_FAIL. With no
// (or an empty) description the text of DescribeError is used; with no source,
// "VAdazi". Returns the result the caller must return. If no error object can be made,
// returns result unchanged and touches nothing.
HRESULT RaiseNewError(LastError& last, HRESULT result, const char* source = nullptr, const char* description = nullptr);

// Raises result unless an inner step already raised an error: an error object pending
// on the thread stays as it is (and last keeps what that step stored). A non-failure
// result becomes E_FAIL. Returns the result the caller must return.
HRESULT RaiseError(LastError& last, HRESULT result, const char* source = nullptr);

// Shows the thread's error information in a box (caption "VAdazi", error icon):
// "source: description", or the description alone without a source; "Unknown error."
// without a description. The error object stays pending.
void ShowLastError();
