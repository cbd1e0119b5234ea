// shell32, loaded only when it is needed and only from the system folder.
#include "svclaunch.h"
#include "text.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);

// Keeps shell32, and whatever it loads in turn, from searching the folders
// that PATH names for DLLs: the SCM gives every service the machine's PATH,
// and a folder there that others can write would hand them LocalSystem. What
// is searched is then svclaunch.exe's own folder (judged at install) and the
// system folder. Where kernel32 cannot (before Windows 8, or Windows 7
// without its update; NT 4.0), the search stays as it was.
static void keepDllSearchOffPath()
{
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories =
        findFunction<SetDefaultDllDirectoriesFunction>(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (setDefaultDllDirectories != NULL) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    }
}

HMODULE loadShell32()
{
    keepDllSearchOffPath();
    char systemFolder[MAX_PATH];
    char shellPath[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemFolder, MAX_PATH);
    bool found =
        length > 0 && length < MAX_PATH && joinText(shellPath, sizeof shellPath, systemFolder, "\\shell32.dll");
    return found ? LoadLibraryA(shellPath) : NULL;
}
