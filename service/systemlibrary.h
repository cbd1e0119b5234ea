// The system's own DLLs that svclaunch loads only when a mode needs them:
// shell32 for the launch, netapi32 for install's reading of Administrators.
#ifndef SVCLAUNCH_SYSTEMLIBRARY_H
#define SVCLAUNCH_SYSTEMLIBRARY_H

#include <windows.h>

// Loads name ("\\shell32.dll") by its full path in the system folder, never
// through the search path, and with the DLL search of what it loads in turn
// kept off PATH where kernel32 can; NULL when it cannot be loaded.
HMODULE loadSystemLibrary(const char* name);

// The function name of module (NULL: none) as a Function, or NULL; through
// the generic function pointer type, which may be cast to any other.
template <typename Function> Function findFunction(HMODULE module, const char* name)
{
    FARPROC address = module != NULL ? GetProcAddress(module, name) : NULL;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

#endif
