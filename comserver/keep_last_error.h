// Keeps the thread's system last-error value across a scope.
//
// The error routines read the last-error value to describe FPE_SYSTEM, FPE_FILE_SYSTEM
// and FPE_ECR results, so everything that may run between the failing call and the
// description (strings, logging) puts the value back as it found it.
#pragma once

#include <windows.h>

class KeepLastError {
public:
    KeepLastError() : saved_(GetLastError()) {}
    ~KeepLastError() { SetLastError(saved_); }
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;

    DWORD Saved() const { return saved_; }
    // Puts the saved value back now (before a call that reads it).
    void Restore() const { SetLastError(saved_); }

private:
    DWORD saved_;
};
