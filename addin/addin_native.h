// Plumbing shared by every component of this library: the host's connection and memory
// manager, strings handed to the host, the host's message box, and the guard that keeps
// exceptions from crossing into the host.
#pragma once

#include "addin/native_api.h"

#include <exception>
#include <string>

namespace oltra {

class CAddInNative : public IComponentBase {
public:
    ~CAddInNative() override = default;

protected:
    // A copy of text with its terminator in memory from the host's AllocMemory; null
    // without a memory manager or when the host refuses the memory.
    WCHAR_T* hostString(const std::u16string& text) const;

    // Places a copy of text in v as VTYPE_PWSTR (length without the terminator). False,
    // leaving v as it was, when no host memory is to be had.
    bool putString(tVariant* v, const std::u16string& text) const;

    // The host's message box, or null.
    IMsgBox* messageBox() const;

    // Runs body; an exception that escapes it is logged and `fallback` returned instead.
    template <typename T, typename F>
    static T guarded(const char* where, T fallback, F&& body) noexcept
    {
        try {
            return body();
        } catch (const std::exception& e) {
            logEscaped(where, e.what());
        } catch (...) {
            logEscaped(where, "unknown exception");
        }
        return fallback;
    }

    static void logEscaped(const char* where, const char* what) noexcept;

    IAddInDefBase* connection = nullptr; // the host's IAddInDefBaseEx, set by Init
    IMemoryManager* memoryManager = nullptr;
};

} // namespace oltra
