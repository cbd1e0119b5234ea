// Who besides administrators may change what the service will run. The
// service runs as LocalSystem, so whoever can replace svclaunch.exe,
// service.cnf, the target or the program that opens it, or put a file beside
// one of them (a DLL it loads from its folder), runs code as LocalSystem at
// the next start; and whoever can write service.log can forge the lines that
// a deployment script reads there. Only administrators are trusted: any other
// owner, and any other account or group that an entry allows a change, is
// named, since the accounts a machine may hold cannot all be listed.
#include "accounts.h"
#include "opener.h"
#include "permissions.h"
#include "svclaunch.h"
#include "text.h"

#include <string.h>

// Rights that change a file that is run or read: its data, its existence,
// its permissions or its owner.
const DWORD fileChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights on the folder that holds such a file: a file or folder put beside
// it, or one of its entries replaced.
const DWORD holderChangeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                 WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights on a folder further up: enough to move it, or the folder below it,
// away and put another in its place.
const DWORD ancestorChangeRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// Said of a path too long to name in the log line.
const char pathTooLongText[] = "Cannot tell who can change a path this long";

// Room for any security descriptor of a file seen in practice.
const DWORD descriptorSize = 16384;

// Where a file or folder stands in the chain from a judged file up to its
// volume's root.
enum Place { theFile, itsHolder, furtherUp };

// Writes the reason from up to three parts; one too long for it says so.
// Returns true, for a refusal.
static bool refuse(char* reason, size_t size, const char* first, const char* second = "", const char* third = "")
{
    if (!joinText(reason, size, first, second, third)) {
        joinText(reason, size, pathTooLongText);
    }
    return true;
}

// "Cannot tell who can change PATH, Error Code N", or another question
// than who can change it.
static bool refuseForError(const char* question, const char* path, DWORD error, char* reason, size_t size)
{
    char code[12];
    char lead[configValueSize];
    formatDecimal(code, sizeof code, static_cast<int>(error));
    if (!joinText(lead, sizeof lead, question, path)) {
        return refuse(reason, size, pathTooLongText);
    }
    return refuse(reason, size, lead, ", Error Code ", code);
}

static bool cannotTellAbout(const char* path, DWORD error, char* reason, size_t size)
{
    return refuseForError("Cannot tell who can change ", path, error, reason, size);
}

// Whether path is a junction, a directory symbolic link or a mount point: a
// name that stands for another place, whose permissions and chain are not
// those judged here. A tag that says nothing counts as such a name too (Wine
// gives no tag for a Unix symbolic link); other reparse points, such as
// deduplicated files, are files like any other. Sets error when it cannot
// be told.
static bool isLink(const char* path, DWORD* error)
{
    WIN32_FIND_DATAA found = {};
    HANDLE search = FindFirstFileA(path, &found);
    // INVALID_HANDLE_VALUE is Windows' own cast of -1 to a handle.
    if (search == INVALID_HANDLE_VALUE) { // NOLINT(performance-no-int-to-ptr)
        *error = GetLastError();
        return false;
    }
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (IsReparseTagNameSurrogate(found.dwReserved0) || found.dwReserved0 == 0);
}

// Judges one file or folder for what can be done to it at its place. An
// object that is not there is passed over (missing); the first folder above
// it that is there is then judged as its holder. A volume's root cannot be
// renamed or deleted, and is no link.
static bool refusesPath(const char* path, Place place, bool atRoot, char* reason, size_t size, bool* missing)
{
    // DWORD-aligned, as a descriptor must be; install runs on one thread.
    static DWORD descriptor[descriptorSize / sizeof(DWORD)];
    DWORD needed = 0;
    *missing = false;
    Finding finding = {NULL, 0};
    if (!GetFileSecurityA(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                          &needed)) {
        finding.error = GetLastError();
        *missing = finding.error == ERROR_FILE_NOT_FOUND || finding.error == ERROR_PATH_NOT_FOUND;
        return !*missing && cannotTellAbout(path, finding.error, reason, size);
    }
    DWORD rights = place == theFile ? fileChangeRights : place == itsHolder ? holderChangeRights : ancestorChangeRights;
    if (atRoot) {
        rights &= ~DELETE;
    }
    Verdict verdict = judgeDescriptor(descriptor, rights, place == itsHolder ? fileChangeRights : 0, &finding);
    if (verdict == someoneElseCan) {
        char who[200]; // the longest SID spelt out
        nameSid(finding.who, who, sizeof who);
        return refuse(reason, size, who, " can change ", path);
    }
    if (verdict == nobodyElse && !atRoot && isLink(path, &finding.error)) {
        return refuse(reason, size, path, " is a link");
    }
    return (verdict == cannotTell || finding.error != NO_ERROR) && cannotTellAbout(path, finding.error, reason, size);
}

// Judges the file at fullPath, the folder that holds it and every folder
// above it up to its volume's root, each for what matters at its place. A
// share is its file server's to change, and a removable disk can be swapped
// for another: only a local fixed disk is judged at all. fileMissing, where
// given, tells whether the file itself is not there.
static bool refusesChain(const char* fullPath, char* reason, size_t size, bool* fileMissing = NULL)
{
    const size_t root = 3; // "C:\"
    char path[configValueSize];
    char drive[root + 1] = {fullPath[0], ':', '\\', '\0'};
    bool driveRoot = fullPath[0] != '\0' && fullPath[1] == ':' && fullPath[2] == '\\';
    if (!driveRoot || GetDriveTypeA(drive) != DRIVE_FIXED) {
        return refuse(reason, size, fullPath, " is not on a local fixed disk");
    }
    if (!joinText(path, sizeof path, fullPath)) {
        return refuse(reason, size, pathTooLongText);
    }
    Place place = theFile;
    for (;;) {
        size_t length = strlen(path);
        bool missing = false;
        if (refusesPath(path, place, length <= root, reason, size, &missing)) {
            return true;
        }
        if (place == theFile && fileMissing != NULL) {
            *fileMissing = missing;
        }
        if (length <= root) {
            return false;
        }
        place = missing || place == theFile ? itsHolder : furtherUp;
        size_t cut = length - 1;
        while (cut > root && path[cut] != '\\') {
            --cut;
        }
        path[cut] = '\0';
    }
}

// Judges a file in svclaunch.exe's folder, whose chain is svclaunch.exe's:
// only the file itself is left. One that is not there is passed over.
static bool refusesFileBeside(const char* folder, const char* name, char* reason, size_t size)
{
    char path[configValueSize];
    bool missing = false;
    return joinText(path, sizeof path, folder, name) ? refusesPath(path, theFile, false, reason, size, &missing)
                                                     : refuse(reason, size, pathTooLongText);
}

// How the shell starts a target: a program or a script runs itself; a
// shortcut runs whatever it points to, which no chain judged here would
// include; anything else is a document, opened by the program associated
// with its kind. A name without an extension is one too: the shell may
// complete it with whichever extension is there at the start.
enum TargetKind { program, shortcut, document };

static TargetKind kindOfTarget(const char* path)
{
    static const struct {
        const char* extension;
        TargetKind kind;
    } kinds[] = {{".exe", program},  {".com", program},  {".bat", program}, {".cmd", program},
                 {".lnk", shortcut}, {".url", shortcut}, {".pif", shortcut}};
    const char* name = strrchr(path, '\\');
    const char* extension = strrchr(name != NULL ? name : path, '.');
    for (const auto& known : kinds) {
        // cppcheck-suppress useStlAlgorithm ; a plain loop, as everywhere in this program
        if (extension != NULL && equalsIgnoringAsciiCase(extension, known.extension)) {
            return known.kind;
        }
    }
    return document;
}

const char whichOpener[] = "Cannot tell which program opens ";

// Judges the program that opens a document, which runs as LocalSystem as
// the target would. A document that is not there has no program to judge:
// one put there later would be opened by whatever its kind names then.
static bool refusesOpener(const char* document, bool documentMissing, char* reason, size_t size)
{
    char opener[configValueSize];
    DWORD error = documentMissing ? ERROR_FILE_NOT_FOUND : findDocumentOpener(document, opener, sizeof opener);
    if (error != NO_ERROR) {
        return refuseForError(whichOpener, document, error, reason, size);
    }
    return opener[0] != '\0' && refusesChain(opener, reason, size);
}

bool findUntrustedChanger(const char* modulePath, char* reason, size_t size)
{
    char folder[configValueSize];
    char targetPath[configValueSize];
    if (!joinText(folder, sizeof folder, modulePath)) {
        return refuse(reason, size, pathTooLongText);
    }
    char* lastBackslash = strrchr(folder, '\\');
    if (lastBackslash != NULL) {
        *lastBackslash = '\0';
    }
    // The target as the service will find it: programPath may be relative to
    // the current folder when the verb was given with a relative path.
    // Windows' ANSI calls take at most MAX_PATH - 1 characters.
    DWORD targetLength = GetFullPathNameA(programPath, sizeof targetPath, targetPath, NULL);
    if (targetLength >= MAX_PATH || (targetLength == 0 && GetLastError() == ERROR_FILENAME_EXCED_RANGE)) {
        bool whole = targetLength > 0 && targetLength < sizeof targetPath;
        return refuse(reason, size, "The target's path is too long: ", whole ? targetPath : programPath);
    }
    if (targetLength == 0) {
        return cannotTellAbout(programPath, GetLastError(), reason, size);
    }
    TargetKind kind = kindOfTarget(targetPath);
    if (kind == shortcut) {
        return refuse(reason, size, "The target is a shortcut: ", targetPath);
    }
    readInstallingAccount();
    bool targetMissing = false;
    return refusesChain(modulePath, reason, size) || refusesFileBeside(folder, "\\service.cnf", reason, size) ||
           refusesFileBeside(folder, "\\service.log", reason, size) ||
           refusesChain(targetPath, reason, size, &targetMissing) ||
           (kind == document && refusesOpener(targetPath, targetMissing, reason, size));
}
