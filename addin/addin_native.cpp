#include "addin/addin_native.h"
#include "addin/driver_log.h"

#include <cstring>

namespace oltra {

WCHAR_T* CAddInNative::hostString(const std::u16string& text) const
{
    if (!memoryManager) return nullptr;
    const std::size_t bytes = (text.size() + 1) * sizeof(WCHAR_T);
    if (bytes > 0xFFFFFFFFu) return nullptr;
    void* memory = nullptr;
    if (!memoryManager->AllocMemory(&memory, static_cast<unsigned long>(bytes)) || !memory) return nullptr;
    std::memcpy(memory, text.c_str(), bytes);
    return static_cast<WCHAR_T*>(memory);
}

bool CAddInNative::putString(tVariant* v, const std::u16string& text) const
{
    if (!v) return false;
    WCHAR_T* copy = hostString(text);
    if (!copy) return false;
    v->ullVal = 0;
    v->pwstrVal = copy;
    v->wstrLen = static_cast<uint32_t>(text.size());
    v->vt = VTYPE_PWSTR;
    return true;
}

IMsgBox* CAddInNative::messageBox() const
{
    if (!connection) return nullptr;
    // The host hands Init its IAddInDefBaseEx.
    return msgBoxFromInterface(static_cast<IAddInDefBaseEx*>(connection)->GetInterface(eIMsgBox));
}

void CAddInNative::logEscaped(const char* where, const char* what) noexcept
{
    try {
        logError(std::string("Unexpected error in ") + where + ": " + (what ? what : ""));
    } catch (...) {}
}

} // namespace oltra
