// The judgement of what a LocalSystem service runs, before install
// registers it (see safety.h).
#include "safety.h"
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

// Said of a path whose owner and entries cannot be read, and of a path too
// long to name in the log line.
const char cannotTellWho[] = "Cannot tell who can change ";
const char aPathThisLong[] = "a path this long";

// Room for any security descriptor of a file seen in practice.
const DWORD descriptorSize = 16384;

// Where a file or folder stands in the chain from a judged file up to its
// volume's root.
enum class Place { judgedFile, holdingFolder, folderAbove };

// Whom install trusts besides administrators, and where it writes why it
// refuses.
struct Judge {
    const SID* installingAccount;
    char* reason;
    size_t size;
};

// Writes the reason from up to three parts; one too long for it says so.
// Returns true, for a refusal.
static bool refuse(const Judge& judge, const char* first, const char* second = "", const char* third = "")
{
    if (!joinText(judge.reason, judge.size, first, second, third)) {
        joinText(judge.reason, judge.size, cannotTellWho, aPathThisLong);
    }
    return true;
}

// "Cannot tell who can change PATH, Error Code N", or another question
// than who can change it.
static bool refuseForError(const char* question, const char* path, DWORD error, const Judge& judge)
{
    char code[12];
    char lead[configValueSize];
    formatDecimal(code, sizeof code, static_cast<int>(error));
    if (!joinText(lead, sizeof lead, question, path)) {
        return refuse(judge, cannotTellWho, aPathThisLong);
    }
    return refuse(judge, lead, ", Error Code ", code);
}

static bool cannotTellAbout(const char* path, DWORD error, const Judge& judge)
{
    return refuseForError(cannotTellWho, path, error, judge);
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
static bool isUnsafePath(const char* path, Place place, bool atRoot, const Judge& judge, bool* missing)
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
        return !*missing && cannotTellAbout(path, finding.error, judge);
    }
    DWORD rights = place == Place::judgedFile      ? fileChangeRights
                   : place == Place::holdingFolder ? holderChangeRights
                                                   : ancestorChangeRights;
    if (atRoot) {
        rights &= ~DELETE;
    }
    Verdict verdict = judgeDescriptor(descriptor, rights, place == Place::holdingFolder ? fileChangeRights : 0,
                                      judge.installingAccount, &finding);
    if (verdict == someoneElseCan) {
        char who[200]; // the longest SID spelt out
        nameSid(finding.who, who, sizeof who);
        return refuse(judge, who, " can change ", path);
    }
    if (verdict == nobodyElse && !atRoot && isLink(path, &finding.error)) {
        return refuse(judge, path, " is a link");
    }
    return (verdict == cannotTell || finding.error != NO_ERROR) && cannotTellAbout(path, finding.error, judge);
}

// Judges the file at fullPath, the folder that holds it and every folder
// above it up to its volume's root, each for what matters at its place. A
// share is its file server's to change, and a removable disk can be swapped
// for another: only a local fixed disk is judged at all. fileMissing, where
// given, tells whether the file itself is not there.
static bool isUnsafeChain(const char* fullPath, const Judge& judge, bool* fileMissing = NULL)
{
    const size_t root = 3; // "C:\"
    char path[configValueSize];
    char drive[root + 1] = {fullPath[0], ':', '\\', '\0'};
    bool driveRoot = fullPath[0] != '\0' && fullPath[1] == ':' && fullPath[2] == '\\';
    if (!driveRoot || GetDriveTypeA(drive) != DRIVE_FIXED) {
        return refuse(judge, fullPath, " is not on a local fixed disk");
    }
    if (!joinText(path, sizeof path, fullPath)) {
        return refuse(judge, cannotTellWho, aPathThisLong);
    }
    Place place = Place::judgedFile;
    for (;;) {
        size_t length = strlen(path);
        bool missing = false;
        if (isUnsafePath(path, place, length <= root, judge, &missing)) {
            return true;
        }
        if (place == Place::judgedFile && fileMissing != NULL) {
            *fileMissing = missing;
        }
        if (length <= root) {
            return false;
        }
        place = missing || place == Place::judgedFile ? Place::holdingFolder : Place::folderAbove;
        cutToDirectory(path);
        if (strlen(path) < root) {
            appendText(path, sizeof path, "\\"); // the root keeps its backslash
        }
    }
}

// Judges a file in svclaunch.exe's folder, whose chain is svclaunch.exe's:
// only the file itself is left. One that is not there is passed over.
static bool isUnsafeFileBeside(const char* folder, const char* name, const Judge& judge)
{
    char path[configValueSize];
    bool missing = false;
    return joinText(path, sizeof path, folder, name) ? isUnsafePath(path, Place::judgedFile, false, judge, &missing)
                                                     : refuse(judge, cannotTellWho, aPathThisLong);
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
    const char* extension = extensionOf(path);
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
// the target would. A document that is not there is refused: one put there
// later would be opened by whatever its kind names then, unjudged.
static bool isUnsafeOpener(const char* document, bool documentMissing, const Judge& judge)
{
    char opener[configValueSize];
    DWORD error = documentMissing ? ERROR_FILE_NOT_FOUND : findDocumentOpener(document, opener, sizeof opener);
    if (error != NO_ERROR) {
        return refuseForError(whichOpener, document, error, judge);
    }
    return opener[0] != '\0' && isUnsafeChain(opener, judge);
}

bool isUnsafeForLocalSystem(const char* modulePath, const SID* installingAccount, char* reason, size_t size)
{
    Judge judge = {installingAccount, reason, size};
    // The SCM expands %NAME% in a registered path at every start.
    if (strchr(modulePath, '%') != NULL) {
        return refuse(judge, "The SCM would expand the % in ", modulePath);
    }
    char folder[configValueSize];
    char targetPath[configValueSize];
    if (!joinText(folder, sizeof folder, modulePath)) {
        return refuse(judge, cannotTellWho, aPathThisLong);
    }
    cutToDirectory(folder);
    // The target as the service will find it: programPath may be relative to
    // the current folder when the verb was given with a relative path.
    // Windows' ANSI calls take at most MAX_PATH - 1 characters.
    DWORD targetLength = GetFullPathNameA(programPath, sizeof targetPath, targetPath, NULL);
    if (targetLength >= MAX_PATH || (targetLength == 0 && GetLastError() == ERROR_FILENAME_EXCED_RANGE)) {
        bool whole = targetLength > 0 && targetLength < sizeof targetPath;
        return refuse(judge, "The target's path is too long: ", whole ? targetPath : programPath);
    }
    if (targetLength == 0) {
        return cannotTellAbout(programPath, GetLastError(), judge);
    }
    TargetKind kind = kindOfTarget(targetPath);
    if (kind == shortcut) {
        return refuse(judge, "The target is a shortcut: ", targetPath);
    }
    bool targetMissing = false;
    return isUnsafeChain(modulePath, judge) || isUnsafeFileBeside(folder, configFileName, judge) ||
           isUnsafeFileBeside(folder, logFileName, judge) || isUnsafeChain(targetPath, judge, &targetMissing) ||
           (kind == document && isUnsafeOpener(targetPath, targetMissing, judge));
}
