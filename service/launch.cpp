// The launch of the target program through the shell, which must never show
// anything: a service's desktop is invisible, and a prompt there waits for
// ever.
#include "svclaunch.h"
#include "text.h"

#include <shellapi.h>
#include <shlwapi.h>

typedef BOOL(WINAPI* ShellExecuteExAFunction)(SHELLEXECUTEINFOA*);
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);

// The function name of module (NULL: none) as a Function, or NULL; through
// the generic function pointer type, which may be cast to any other.
template <typename Function> static Function findFunction(HMODULE module, const char* name)
{
    FARPROC address = module != NULL ? GetProcAddress(module, name) : NULL;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

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

// Loads shell32 by its full path in the system folder, never through the
// search path.
static HMODULE loadShell32()
{
    keepDllSearchOffPath();
    char systemFolder[MAX_PATH];
    char shellPath[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemFolder, MAX_PATH);
    bool found =
        length > 0 && length < MAX_PATH && joinText(shellPath, sizeof shellPath, systemFolder, "\\shell32.dll");
    return found ? LoadLibraryA(shellPath) : NULL;
}

// Set at the first launch of this process: ShellExecuteExA, and the mask bits
// that keep it from showing anything.
static ShellExecuteExAFunction shellExecuteEx;
static ULONG launchMask;

// Whether the shell may predate the zone check: NT 4.0's own shell32 has no
// DllGetVersion, and those of NT 4.0 with Internet Explorer 4 and later and
// of Windows 2000 report versions 4 and 5. A shell that reports nothing
// plausible is taken for a new one, which has the check.
static bool shellPredatesZoneChecks(HMODULE shell)
{
    DLLGETVERSIONPROC getVersion = findFunction<DLLGETVERSIONPROC>(shell, "DllGetVersion");
    if (getVersion == NULL) {
        return true;
    }
    DLLVERSIONINFO version = {};
    version.cbSize = sizeof version;
    return getVersion(&version) == S_OK && (version.dwMajorVersion == 4 || version.dwMajorVersion == 5);
}

// Loads shell32 at the first launch rather than with the executable: it
// brings a dozen DLLs along, and reaching RUNNING does not need them.
//
// No error box, ever. And no zone check: for a file that came from the
// Internet (a Zone.Identifier stream) the shell would otherwise ask whether
// to run it. The flag that turns the check off is kept from the shells of
// NT 4.0 and 2000, which do not know it: the zone check came with XP SP2, so
// they have none to turn off.
static bool loadShell()
{
    if (shellExecuteEx != NULL) {
        return true;
    }
    HMODULE shell = loadShell32();
    ShellExecuteExAFunction found = findFunction<ShellExecuteExAFunction>(shell, "ShellExecuteExA");
    if (found == NULL) {
        return false;
    }
    launchMask = SEE_MASK_FLAG_NO_UI;
    if (!shellPredatesZoneChecks(shell)) {
        launchMask |= SEE_MASK_NOZONECHECKS;
    }
    shellExecuteEx = found;
    return true;
}

void forgetShell()
{
    shellExecuteEx = NULL;
    launchMask = 0;
}

void launchTarget(const char* parameter)
{
    if (!loadShell()) {
        return;
    }
    SHELLEXECUTEINFOA launch = {};
    launch.cbSize = sizeof launch;
    launch.fMask = launchMask;
    launch.hwnd = NULL;
    launch.lpVerb = "open";
    launch.lpFile = programPath;
    launch.lpParameters = parameter;
    launch.lpDirectory = NULL;
    launch.nShow = SW_HIDE;
    shellExecuteEx(&launch);
}
