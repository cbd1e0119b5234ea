// The test side of the Win32 stand-in: what the product asked of the
// platform, and the answers the platform will give it, by wing: the SCM
// (scm.cpp), files and locks (files.cpp), security (security.cpp) and the
// process (process.cpp).
#ifndef SVCLAUNCH_STUB_WORLD_H
#define SVCLAUNCH_STUB_WORLD_H

#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace stub {

// --- the SCM: the dispatcher, status reports, the service database, events and the clock ---

struct CreateCall {
    std::string name;
    std::string displayName;
    DWORD access;
    DWORD serviceType;
    DWORD startType;
    DWORD errorControl;
    std::string binaryPath;
    bool hasLoadOrderGroup;
    bool hasTagId;
    bool hasDependencies;
    bool hasAccount;
    bool hasPassword;
};

struct Registration {
    std::string displayName;
    std::string binaryPath;
    DWORD state;
};

struct ScmWorld {
    bool startedByScm = true;
    std::vector<std::string> startParameters;
    std::function<void()> scmDriver;              // runs on the dispatcher's thread
    bool connectionBreaks = false;                // the dispatcher returns after the driver, the service still running
    bool serviceStartsLate = false;               // serviceMain is entered only after the dispatcher has returned
    std::map<std::string, Registration> services; // keyed by lower-case name

    // Records.
    std::string dispatchedName;
    bool tableEndsWithNullEntry = false;
    std::string handlerName;
    std::vector<DWORD> managerAccess;
    std::vector<std::string> openedServiceNames;
    std::vector<DWORD> serviceAccess;
    std::vector<CreateCall> creates;
    std::vector<std::string> closedHandles; // "manager" or "service:NAME", in closing order
    int reportsAfterStopped = 0;            // SetServiceStatus once STOPPED was reported: may crash on Windows
    bool stoppedNeverReported = false;      // the dispatcher gave up waiting for STOPPED
    int waitsGivenUp = 0;                   // waits that nothing ended, a hang on Windows
};

// --- files and locks: the log ---

struct FilesWorld {
    // LockFileEx: another process holds the log's turn to append for good.
    bool appendTurnHeldElsewhere = false;
    std::function<void()> onLogWrite; // runs inside WriteFile, before the write

    // Records: the range and flags of the last lock asked for.
    uint64_t lockStart = 0;
    uint64_t lockLength = 0;
    DWORD lockFlags = 0;
    int locksGranted = 0;
    int blockingLocks = 0; // a lock that would wait for another writer's, which may never end
};

// --- security: descriptors, SIDs, listings, drives, the token and accounts ---

// One access control entry of a type (ACCESS_ALLOWED_ACE_TYPE, ...) for the
// SID ("S-1-5-11"); an object entry carries the GUIDs its flags announce.
struct Ace {
    BYTE type;
    BYTE flags; // INHERIT_ONLY_ACE and the like
    DWORD mask;
    std::string sid;
    DWORD objectFlags = 0; // ACE_OBJECT_TYPE_PRESENT and the like
    WORD size = 0;         // the AceSize written, where not the entry's own
};

// What GetFileSecurityA gives for a path: its owner ("" for none), and its
// DACL or none; or a DACL that is present but NULL.
struct FileSecurity {
    std::string owner;
    bool hasDacl;
    std::vector<Ace> aces;
    bool nullDacl = false;
};

// Administrators' own: owned by Administrators; SYSTEM and Administrators
// full control, Users read and execute, as a folder under Program Files.
FileSecurity adminsOnly();

struct SecurityWorld {
    // The descriptor of each path (keyed lower case, as the ANSI calls spell
    // it); a path not listed has adminsOnly(). Paths that do not exist (and
    // so neither does anything below them), the reparse points among those
    // that do with their tags, the failures of listings and security reads.
    std::map<std::string, FileSecurity> fileSecurity;
    std::set<std::string> missingPaths; // lower case
    std::map<std::string, DWORD> reparseTags;
    std::map<std::string, DWORD> findErrors;     // FindFirstFileW fails on these with that error
    std::map<std::string, DWORD> securityErrors; // and GetFileSecurityA
    // What each folder holds (keyed lower case) besides . and ..: names in
    // UTF-8, a folder's ending in a backslash. A folder not listed holds
    // nothing else.
    std::map<std::string, std::vector<std::string>> folderEntries = {
        {"c:\\svc", {"svclaunch.exe", "service.cnf", "service.log"}}, {"c:\\work\\box", {"target.exe"}}};
    // Each volume's type (a root not listed is a fixed disk), and what
    // QueryDosDeviceA gives for a drive ("s:"; a drive not listed is a volume).
    std::map<std::string, UINT> driveTypes; // "c:\\"
    std::map<std::string, std::string> dosDevices;
    // The folder that relative paths start from, and the account that runs
    // the process.
    std::string currentDirectory = "C:\\work";
    std::string tokenUser = "S-1-5-21-7-8-9-1000";
    // This machine's Administrators group: its name, as LookupAccountSidW
    // gives it in the system's language, and its direct members' SIDs, as
    // NetLocalGroupGetMembers lists them (the machine's own Administrator).
    std::string administratorsGroupName = "Administrators";
    std::vector<std::string> administrators = {"S-1-5-21-7-8-9-500"};

    // Records: every path whose security was read, in order.
    std::vector<std::string> securityQueries;
};

// --- the process: its module path, code page, DLL loading and the shell ---

struct Launch {
    bool hasWindow;
    std::string operation;
    std::string file;
    std::string parameters;
    bool hasDirectory;
    int show;
    ULONG mask; // SEE_MASK_ flags
};

struct ProcessWorld {
    // GetModuleFileNameW: the executable's path in UTF-8. The ANSI code
    // page: 1252 as far as Latin-1 goes, or 932 for ASCII and hiragana, two
    // bytes each; a character beyond it is given a best-fit look-alike
    // (U+0101 a with macron becomes "a"), as Windows does.
    std::string modulePath = "C:\\svc\\svclaunch.exe";
    UINT ansiCodePage = 1252;

    // LoadLibraryA: the system DLLs that cannot be loaded ("shell32.dll").
    // Whether kernel32 has SetDefaultDllDirectories (Windows 8 on).
    std::set<std::string> unloadableLibraries;
    bool kernelLimitsDllSearch = true;

    // The shell: the major version its DllGetVersion reports (6 from XP on,
    // 5 on Windows 2000), or noDllGetVersion (NT 4.0's own). From version 6
    // on, before it runs a file that came from the Internet it asks whether
    // to (the zone check), and for a file that is not there it shows an
    // error box, unless the launch says otherwise: either is a window on the
    // service's invisible desktop, that is, a hang.
    DWORD shellVersion = 6;
    std::set<std::string> downloadedFiles;                       // lower case
    std::function<void(const std::string& parameters)> onLaunch; // runs inside ShellExecuteExA

    // Records.
    std::vector<std::string> loadedLibraries;
    DWORD dllSearchFlags = 0;   // what SetDefaultDllDirectories was last given
    int loadsSearchingPath = 0; // a library loaded where kernel32 could keep the DLL search off PATH
    std::vector<Launch> launches;
    int promptsShown = 0;
};

// Every setting starts at "the call succeeds"; reset() restores that.
struct World {
    ScmWorld scm;
    FilesWorld files;
    SecurityWorld security;
    ProcessWorld process;
    // Calls that fail, by name ("OpenSCManagerA"), each time with the error
    // given (NO_ERROR: without one, as GetAce may).
    std::map<std::string, DWORD> failingCalls;
    int badHandleUses = 0; // calls on a closed or unknown handle
};

World& world();

// The shell version of a shell without DllGetVersion.
const DWORD noDllGetVersion = 0xFFFFFFFF;

// Clears every record and setting, releasing what the last run left open.
void reset();

// Handles that are still open, of every kind.
int openHandles();

// What the last run did that Windows would not take or that would hang a
// service, one line each: a handle left open or used after closing, a
// report after STOPPED, a wait that nothing ended, a window shown, a lock
// that would wait, a DLL search that reaches PATH. "" when none.
std::string faultsOfTheRun();

// Status reports in the order SetServiceStatus received them.
std::vector<SERVICE_STATUS> reports();

// What the product did, in the order it did it: "report N" for a status
// report of state N, "launch P" for a launch with parameters P, and
// "log TEXT" for a write to a file, its line end left out.
std::vector<std::string> timeline();
// Waits, at most for bound, until the timeline holds entry.
bool waitForEntry(const std::string& entry, std::chrono::milliseconds bound = std::chrono::seconds(10));

// Delivers a control code to the registered handler on the calling thread,
// as the dispatcher does. Returns false when no handler is registered.
bool deliverControl(DWORD control);

// Waits for a service thread that the dispatcher left running.
void joinServiceThread();

// Waits, at most for bound, until a report with that state has arrived.
bool waitForState(DWORD state, std::chrono::milliseconds bound = std::chrono::seconds(10));

// The clock behind GetTickCount, Sleep and the timeouts of
// WaitForSingleObject: it moves only when the product sleeps or a test
// advances it, so a bound of seconds is tested without waiting for it.
DWORD clockNow();
void advanceClock(DWORD milliseconds);
// How many WaitForSingleObject calls with a finite timeout are waiting now.
int waitsOnTheClock();

// How long the stand-in's dispatcher waits, in real time, for STOPPED
// before it gives up and returns as if its connection had broken.
const std::chrono::seconds stoppedBound(10);

} // namespace stub

#endif
