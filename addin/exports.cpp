// The four entry points the host looks up in the library.
#include "addin/native_api.h"
#include "addin/oltranative.h"

#include <cstdint>
#if defined(_WIN32)
#include <Poco/Net/Net.h>
#endif

namespace {
// Kept for the life of the library: every call returns the same pointer.
const WCHAR_T kClassNames[] = u"Oltranative";

#if defined(_WIN32)
// Windows sockets must be started before the first socket, and with POCO linked in
// statically nothing else starts them. Once per process, before the first component
// (never from DllMain, where starting them is not allowed).
void startNetwork()
{
    static const bool started = [] {
        try {
            Poco::Net::initializeNetwork();
            return true;
        } catch (...) {
            return false;  // every request then fails with POCO's own error
        }
    }();
    (void)started;
}
#else
void startNetwork() {}
#endif
}

const WCHAR_T* GetClassNames()
{
    return kClassNames;
}

long GetClassObject(const WCHAR_T*, IComponentBase** component)
{
    if (!component || *component) return 0;
    startNetwork();
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

AppCapabilities SetPlatformCapabilities(const AppCapabilities)
{
    return eAppCapabilities1;
}
