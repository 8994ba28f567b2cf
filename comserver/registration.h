// Registration of the server under HKEY_CLASSES_ROOT (switch r, and every start without
// switch e) and unregistration (switch u). Both show their outcome in a message box.
#pragma once

#include <windows.h>

class ServerProcess;

// Loads the type library from the executable (the work log's module path) if not
// loaded yet, registers it and writes the ProgID, CLSID and AppId keys. Returns S_OK
// or the failure (already raised into the process's error record, shown and left
// pending as the thread's error).
HRESULT RegisterServer(ServerProcess& process);

// Removes CLSID\{clsid} (with LocalServer32) and AppId\{clsid}; leaves the ProgIDs and
// the type library registered.
HRESULT UnregisterServer(ServerProcess& process);
