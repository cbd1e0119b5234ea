// Loading the system's own DLLs (see systemlibrary.h).
#include "systemlibrary.h"
#include "text.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);

// Keeps a loaded DLL, and whatever it loads in turn, from searching the
// folders that PATH names: the SCM gives every service the machine's PATH,
// and a folder there that others can write would hand them LocalSystem.
// What is searched is then svclaunch.exe's own folder (judged at install)
// and the system folder. Where kernel32 cannot (before Windows 8, or
// Windows 7 without its update; NT 4.0), the search stays as it was.
static void keepDllSearchOffPath()
{
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories =
        findFunction<SetDefaultDllDirectoriesFunction>(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefaultDllDirectories != NULL) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    }
}

HMODULE loadSystemLibrary(const char* name)
{
    keepDllSearchOffPath();
    char systemFolder[MAX_PATH];
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemFolder, MAX_PATH);
    bool found = length > 0 && length < MAX_PATH && joinText(path, sizeof path, systemFolder, name);
    return found ? LoadLibraryA(path) : NULL;
}
