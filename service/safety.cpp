// The judgement of what a LocalSystem service runs, before install
// registers it (see safety.h).
#include "safety.h"
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

// The length of a drive's root, "C:\".
const size_t rootLength = 3;

// Where a file or folder stands in the chain from a judged file up to its
// volume's root; in this order, the rights that matter at each.
enum class Place { judgedFile, holdingFolder, folderAbove };

// Whom install trusts besides administrators, and where it writes why it
// refuses.
struct Judge {
    const TrustedAccounts& trusted;
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

// Refuses with "Cannot tell who can change PATH, Error Code N".
static bool cannotTellAbout(const char* path, DWORD error, const Judge& judge)
{
    char code[12];
    char lead[configValueSize];
    formatDecimal(code, sizeof code, static_cast<int>(error));
    return joinText(lead, sizeof lead, cannotTellWho, path) ? refuse(judge, lead, ", Error Code ", code)
                                                            : refuse(judge, cannotTellWho, aPathThisLong);
}

// Whether path begins with a drive's root, "X:\".
static bool beginsAtDriveRoot(const char* path)
{
    return path[0] != '\0' && path[1] == ':' && path[2] == '\\';
}

// Whether an entry as FindFirstFileW lists it is a junction, a symbolic
// link or a mount point: a name that stands for another place, whose
// permissions and chain are not those judged here. A tag that says nothing
// counts as such a name too (Wine gives no tag for a Unix symbolic link);
// other reparse points, such as deduplicated files, are files like any
// other. The tag is only set for a reparse point.
static bool isLink(const WIN32_FIND_DATAW& entry)
{
    DWORD tag = entry.dwReserved0;
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (IsReparseTagNameSurrogate(tag) || tag == 0);
}

// Starts FindFirstFileW on path followed by tail, for a listing that is
// exact whatever the code page spells. Returns NO_ERROR or why not.
static DWORD findFirst(const char* path, const char* tail, WIN32_FIND_DATAW* found, HANDLE* search)
{
    char pattern[configValueSize];
    WCHAR widePattern[configValueSize];
    if (!joinText(pattern, sizeof pattern, path, tail)) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    if (MultiByteToWideChar(CP_ACP, 0, pattern, -1, widePattern, configValueSize) == 0) {
        return GetLastError();
    }
    *search = FindFirstFileW(widePattern, found);
    // INVALID_HANDLE_VALUE is Windows' own cast of -1 to a handle.
    return *search == INVALID_HANDLE_VALUE ? GetLastError() : NO_ERROR; // NOLINT(performance-no-int-to-ptr)
}

// Judges the owner and entries of one file or folder for what can be done
// to it at its place; a folder that holds what runs also for what files
// created there get. A file that is gone since it was listed is passed over;
// a folder that is not there is refused: one made later would get what its
// parent gives new folders, which is not judged. A volume's root cannot be
// renamed or deleted.
static bool isUnsafeObject(const char* path, Place place, bool atRoot, const Judge& judge)
{
    // DWORD-aligned, as a descriptor must be; install runs on one thread.
    static DWORD descriptor[descriptorSize / sizeof(DWORD)];
    DWORD needed = 0;
    if (!GetFileSecurityA(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                          &needed)) {
        DWORD error = GetLastError();
        bool gone = place == Place::judgedFile && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND);
        return !gone && cannotTellAbout(path, error, judge);
    }
    static const DWORD rightsAt[] = {fileChangeRights, holderChangeRights, ancestorChangeRights};
    DWORD rights = rightsAt[static_cast<int>(place)];
    if (atRoot) {
        rights &= ~DELETE;
    }
    Finding finding = {NULL, NO_ERROR};
    Verdict verdict = judgeDescriptor(descriptor, rights, place == Place::holdingFolder ? fileChangeRights : 0,
                                      judge.trusted, &finding);
    if (verdict == Verdict::someoneElseCan) {
        char who[200]; // the longest SID spelt out
        nameSid(finding.who, who, sizeof who);
        return refuse(judge, who, " can change ", path);
    }
    return verdict == Verdict::cannotTell && cannotTellAbout(path, finding.error, judge);
}

// Refuses a folder of a chain that is a link, or of which that cannot be
// told. A volume's root is no link.
static bool isUnsafeLink(const char* path, const Judge& judge)
{
    WIN32_FIND_DATAW found = {};
    HANDLE search = NULL;
    DWORD error = findFirst(path, "", &found, &search);
    if (error != NO_ERROR) {
        return cannotTellAbout(path, error, judge);
    }
    FindClose(search);
    return isLink(found) && refuse(judge, path, " is a link");
}

// Judges folder, which holds what runs, and every folder above it up to its
// volume's root, each for what matters at its place. A share is its file
// server's to change, and removable media can be swapped: only a local
// fixed disk is judged at all.
static bool isUnsafeChain(const char* folder, const Judge& judge)
{
    char path[configValueSize];
    if (!joinText(path, sizeof path, folder, strlen(folder) < rootLength ? "\\" : "")) {
        return refuse(judge, cannotTellWho, aPathThisLong);
    }
    char drive[rootLength + 1] = {path[0], ':', '\\', '\0'};
    if (!beginsAtDriveRoot(path) || GetDriveTypeA(drive) != DRIVE_FIXED) {
        return refuse(judge, folder, " is not on a local fixed disk");
    }
    for (Place place = Place::holdingFolder;; place = Place::folderAbove) {
        bool atRoot = strlen(path) <= rootLength;
        if (isUnsafeObject(path, place, atRoot, judge) || (!atRoot && isUnsafeLink(path, judge))) {
            return true;
        }
        if (atRoot) {
            return false;
        }
        cutToDirectory(path);
        if (strlen(path) < rootLength) {
            appendText(path, sizeof path, "\\"); // the root keeps its backslash
        }
    }
}

// Recursive once at most: a .local folder's own folders are not listed.
static bool isUnsafeFolderContents(const char* folder, bool withLocalFolders, // NOLINT(misc-no-recursion)
                                   const Judge& judge);

// Judges one entry of folder's listing, with its attributes as listed: a
// file as what runs; and where withLocalFolders, a folder whose name ends
// in .local as a folder that holds what runs, with its files, since Windows
// loads a program's DLLs from its NAME.local first (every such folder,
// whatever the case rules of its name). Other folders hold nothing that
// runs.
static bool isUnsafeEntry(const char* folder, const WIN32_FIND_DATAW& entry, // NOLINT(misc-no-recursion)
                          bool withLocalFolders, const Judge& judge)
{
    char name[2 * MAX_PATH]; // a double-byte code page takes two bytes a character
    char path[configValueSize];
    bool exact = spellExactly(entry.cFileName, name, sizeof name);
    if (!joinText(path, sizeof path, folder, "\\", name)) {
        return refuse(judge, cannotTellWho, aPathThisLong);
    }
    // The ANSI calls would judge, and name, another file or none.
    if (!exact) {
        return cannotTellAbout(path, ERROR_NO_UNICODE_TRANSLATION, judge);
    }
    const char* extension = extensionOf(name);
    bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && !(withLocalFolders && extension != NULL && equalsIgnoringAsciiCase(extension, ".local"))) {
        return false;
    }
    if (isUnsafeObject(path, isFolder ? Place::holdingFolder : Place::judgedFile, false, judge)) {
        return true;
    }
    if (isLink(entry)) {
        return refuse(judge, path, " is a link");
    }
    return isFolder && isUnsafeFolderContents(path, false, judge);
}

// Judges every file directly in folder, and where withLocalFolders its
// .local folders, in one pass over its listing, one security read each. A
// folder that cannot be listed is refused.
static bool isUnsafeFolderContents(const char* folder, bool withLocalFolders, // NOLINT(misc-no-recursion)
                                   const Judge& judge)
{
    WIN32_FIND_DATAW entry = {};
    HANDLE search = NULL;
    DWORD error = findFirst(folder, "\\*", &entry, &search);
    if (error != NO_ERROR) {
        return cannotTellAbout(folder, error, judge);
    }
    do {
        if (isUnsafeEntry(folder, entry, withLocalFolders, judge)) {
            FindClose(search);
            return true;
        }
    } while (FindNextFileW(search, &entry));
    error = GetLastError();
    FindClose(search);
    return error != ERROR_NO_MORE_FILES && cannotTellAbout(folder, error, judge);
}

// How the shell starts a target: a program or a script runs itself; a
// shortcut runs whatever it points to, and a document whatever program its
// kind names at each start, neither of which install can judge. A name
// without an extension is a document too: the shell may complete it with
// whichever extension is there at the start.
enum class TargetKind { program, shortcut, document };

static TargetKind kindOfTarget(const char* path)
{
    static const struct {
        const char* extension;
        TargetKind kind;
    } kinds[] = {{".exe", TargetKind::program}, {".com", TargetKind::program},  {".bat", TargetKind::program},
                 {".cmd", TargetKind::program}, {".lnk", TargetKind::shortcut}, {".url", TargetKind::shortcut},
                 {".pif", TargetKind::shortcut}};
    const char* extension = extensionOf(path);
    for (const auto& known : kinds) {
        // cppcheck-suppress useStlAlgorithm ; a plain loop, as everywhere in this program
        if (extension != NULL && equalsIgnoringAsciiCase(extension, known.extension)) {
            return known.kind;
        }
    }
    return TargetKind::document;
}

bool isUnsafeForLocalSystem(const char* modulePath, const char* target, const TrustedAccounts& trusted, char* reason,
                            size_t size)
{
    Judge judge = {trusted, reason, size};
    // The SCM expands %NAME% in a registered path at every start.
    if (lastOf(modulePath, '%') != NULL) {
        return refuse(judge, "The SCM would expand the % in ", modulePath);
    }
    // The target as the service will find it: target may be relative to the
    // current folder when the verb was given with a relative path. Windows'
    // ANSI calls take at most MAX_PATH - 1 characters.
    char targetPath[configValueSize];
    DWORD targetLength = GetFullPathNameA(target, sizeof targetPath, targetPath, NULL);
    if (targetLength >= MAX_PATH || (targetLength == 0 && GetLastError() == ERROR_FILENAME_EXCED_RANGE)) {
        bool whole = targetLength > 0 && targetLength < sizeof targetPath;
        return refuse(judge, "The target's path is too long: ", whole ? targetPath : target);
    }
    if (targetLength == 0) {
        return cannotTellAbout(target, GetLastError(), judge);
    }
    TargetKind kind = kindOfTarget(targetPath);
    if (kind != TargetKind::program) {
        return refuse(judge, kind == TargetKind::shortcut ? "The target is a shortcut: " : "The target is a document: ",
                      targetPath);
    }
    // Both files are judged with everything beside them, in their folders.
    char moduleFolder[configValueSize];
    char targetFolder[configValueSize];
    joinText(moduleFolder, sizeof moduleFolder, modulePath);
    joinText(targetFolder, sizeof targetFolder, targetPath);
    cutToDirectory(moduleFolder);
    cutToDirectory(targetFolder);
    // A name that Windows allows no file (a CR in line 2, say) is a mistake.
    if (!isAllowedInNames(targetPath + strlen(targetFolder))) {
        return cannotTellAbout(targetPath, ERROR_INVALID_NAME, judge);
    }
    // Spelt alike, or judged twice: a folder may tell letter case apart.
    bool oneFolder = strcmp(moduleFolder, targetFolder) == 0;
    return isUnsafeChain(moduleFolder, judge) || isUnsafeFolderContents(moduleFolder, true, judge) ||
           (!oneFolder && (isUnsafeChain(targetFolder, judge) || isUnsafeFolderContents(targetFolder, true, judge)));
}
