// The launch of the target program through the shell, which must never show
// anything: a service's desktop is invisible, and a prompt there waits for
// ever.
#include "launch.h"
#include "svclaunch.h"
#include "systemlibrary.h"

#include <shellapi.h>
#include <shlwapi.h>

typedef BOOL(WINAPI* ShellExecuteExAFunction)(SHELLEXECUTEINFOA*);

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
    HMODULE shell = loadSystemLibrary("\\shell32.dll");
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

void forgetShellForAnotherRun()
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
