// The four entry points the host looks up in the library.
#include "addin/native_api.h"
#include "addin/oltranative.h"

#include <cstdint>

namespace {
// Kept for the life of the library: every call returns the same pointer.
const WCHAR_T kClassNames[] = u"Oltranative";
} // namespace

const WCHAR_T* GetClassNames() { return kClassNames; }

long GetClassObject(const WCHAR_T*, IComponentBase** component)
{
    if (!component || *component) return 0;
    IComponentBase* object = nullptr;
    try {
        object = new oltra::Oltranative;
    } catch (...) {
        return 0;
    }
    *component = object;
    const long address = static_cast<long>(reinterpret_cast<intptr_t>(object));
    return address != 0 ? address : 1;
}

long DestroyObject(IComponentBase** component)
{
    if (!component || !*component) return -1;
    delete *component;
    *component = nullptr;
    return 0;
}

AppCapabilities SetPlatformCapabilities(const AppCapabilities) { return eAppCapabilities1; }
