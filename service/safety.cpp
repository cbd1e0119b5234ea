// The judgement of what a LocalSystem service runs, before install
// registers it (see safety.h).
#include "safety.h"
#include "permissions.h"
#include "spelling.h"
#include "svclaunch.h"
#include "text.h"

#include <string.h>

// Rights that change a file that is run or read: its data, its attributes,
// its existence, its permissions or its owner.
const DWORD fileChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC |
                               WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights on a folder that holds such files: a file or folder put in it, one
// of its entries replaced, or, by its attributes, the folder itself turned
// into a junction while it is empty.
const DWORD holderChangeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
                                 DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights on a folder further up: enough to move it, or the folder below it,
// away and put another in its place.
const DWORD ancestorChangeRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// Said of a path whose owner and entries cannot be read.
const char cannotTellWho[] = "Cannot tell who can change ";

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

// Writes the reason from up to three parts. The caller's room holds the
// longest reason; one that did not fit would leave it empty, and the line
// would still say that nothing was installed. Returns true, for a refusal.
static bool refuse(const Judge& judge, const char* first, const char* second = "", const char* third = "")
{
    joinText(judge.reason, judge.size, first, second, third);
    return true;
}

// Refuses with "Cannot tell who can change PATH, Error Code N".
static bool cannotTellAbout(const char* path, DWORD error, const Judge& judge)
{
    char code[12];
    char lead[sizeof cannotTellWho + configValueSize];
    formatDecimal(code, sizeof code, static_cast<int>(error));
    joinText(lead, sizeof lead, cannotTellWho, path);
    return refuse(judge, lead, ", Error Code ", code);
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
// exact whatever the code page spells; with search NULL, for the first
// entry alone. Returns NO_ERROR or why not.
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
    HANDLE first = FindFirstFileW(widePattern, found);
    // INVALID_HANDLE_VALUE is Windows' own cast of -1 to a handle.
    if (first == INVALID_HANDLE_VALUE) { // NOLINT(performance-no-int-to-ptr)
        return GetLastError();
    }
    if (search != NULL) {
        *search = first;
    } else {
        FindClose(first);
    }
    return NO_ERROR;
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
    DWORD error = findFirst(path, "", &found, NULL);
    if (error != NO_ERROR) {
        return cannotTellAbout(path, error, judge);
    }
    return isLink(found) && refuse(judge, path, " is a link");
}

// Refuses a drive letter that stands for a folder rather than a volume, as
// subst and DefineDosDevice make one (\??\C:\folder): the folders above
// that folder would go unjudged, and its root's DELETE waived. A volume's
// drive names a device; any other target, or none that can be read, is
// refused, and named as Windows gives it.
static bool isUnsafeDrive(const char* drive, const Judge& judge)
{
    const char device[] = "\\Device\\";
    char letter[rootLength] = {drive[0], ':', '\0'};
    char target[configValueSize];
    if (QueryDosDeviceA(letter, target, sizeof target) == 0) {
        return cannotTellAbout(letter, GetLastError(), judge);
    }
    if (strncmp(target, device, sizeof device - 1) == 0) {
        return false;
    }
    return refuse(judge, letter, " is a substitute for a folder: ", target);
}

// Judges folder, which holds what runs, and every folder above it up to its
// volume's root, each for what matters at its place. A share is its file
// server's to change, and removable media can be swapped: only a local
// fixed disk is judged at all. A root cannot hold what runs: beneath it
// lies the whole disk, the page file included.
static bool isUnsafeChain(const char* folder, const Judge& judge)
{
    char path[configValueSize];
    if (!joinText(path, sizeof path, folder, strlen(folder) < rootLength ? "\\" : "")) {
        return cannotTellAbout(folder, ERROR_FILENAME_EXCED_RANGE, judge);
    }
    char drive[rootLength + 1] = {path[0], ':', '\\', '\0'};
    if (!beginsAtDriveRoot(path) || GetDriveTypeA(drive) != DRIVE_FIXED) {
        return refuse(judge, folder, " is not on a local fixed disk");
    }
    if (isUnsafeDrive(drive, judge)) {
        return true;
    }
    if (strlen(path) <= rootLength) {
        return refuse(judge, "A drive's root holds the whole disk: ", path);
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

// Room for a path beneath one of the two folders: any path of fewer than
// MAX_PATH characters, in a double-byte code page too.
const size_t treePathSize = size_t{2} * MAX_PATH;

// Recursive, one level for each folder of a path, which is bounded by MAX_PATH.
static bool isUnsafeBeneath(char* path, const Judge& judge); // NOLINT(misc-no-recursion)

// Judges one entry of the folder in path (length bytes), with its attributes
// as listed, its name appended to path: a file as what runs, a folder as a
// folder that holds what runs, with everything beneath it, since programs
// and the runtimes they use load code from folders beneath their own
// (side-by-side assemblies, cultures, plug-ins, an interpreter's library).
// A link is refused, not followed. The folder itself and its parent are
// listed too, and passed over.
static bool isUnsafeEntry(char* path, size_t length, const WIN32_FIND_DATAW& entry, // NOLINT(misc-no-recursion)
                          const Judge& judge)
{
    const WCHAR* name = entry.cFileName;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) {
        return false;
    }
    path[length] = '\\';
    DWORD error = spellExactly(name, path + length + 1, static_cast<int>(treePathSize - length - 1));
    if (error == ERROR_INSUFFICIENT_BUFFER) {
        path[length] = '\0';
        error = ERROR_FILENAME_EXCED_RANGE; // longer than any ANSI call takes
    }
    if (error != NO_ERROR) {
        // The ANSI calls would judge, and name, another file or none.
        return cannotTellAbout(path, error, judge);
    }
    bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isUnsafeObject(path, isFolder ? Place::holdingFolder : Place::judgedFile, false, judge)) {
        return true;
    }
    if (isLink(entry)) {
        return refuse(judge, path, " is a link");
    }
    return isFolder && isUnsafeBeneath(path, judge);
}

// Judges every file and folder beneath the folder in path (treePathSize
// bytes, restored on return), to any depth, in one pass over each listing
// with one security read for each entry. A folder that cannot be listed is
// refused.
static bool isUnsafeBeneath(char* path, const Judge& judge) // NOLINT(misc-no-recursion)
{
    // One for the whole walk: what is needed of an entry is read before the
    // walk goes deeper, and the next entry is listed only after it is back.
    static WIN32_FIND_DATAW entry;
    HANDLE search = NULL;
    DWORD error = findFirst(path, "\\*", &entry, &search);
    if (error != NO_ERROR) {
        return cannotTellAbout(path, error, judge);
    }
    size_t length = strlen(path);
    bool unsafe = false;
    do {
        unsafe = isUnsafeEntry(path, length, entry, judge);
        path[length] = '\0';
    } while (!unsafe && FindNextFileW(search, &entry));
    error = unsafe ? ERROR_NO_MORE_FILES : GetLastError();
    FindClose(search);
    return unsafe || (error != ERROR_NO_MORE_FILES && cannotTellAbout(path, error, judge));
}

// Judges folder with its chain and everything beneath it.
static bool isUnsafeTree(const char* folder, const Judge& judge)
{
    char path[treePathSize];
    if (!joinText(path, sizeof path, folder)) {
        return cannotTellAbout(folder, ERROR_FILENAME_EXCED_RANGE, judge);
    }
    return isUnsafeChain(folder, judge) || isUnsafeBeneath(path, judge);
}

// Whether inner is outer or lies beneath it: spelt alike up to a backslash,
// since a folder may tell letter case apart, and C:\svc2 is no part of C:\svc.
static bool liesWithin(const char* inner, const char* outer)
{
    size_t length = strlen(outer);
    return strncmp(inner, outer, length) == 0 && (inner[length] == '\0' || inner[length] == '\\');
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
    // Both files are judged with everything beneath their folders.
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
    // The shell would open a folder; a target not there yet is judged by
    // what its folder gives new files.
    WIN32_FIND_DATAW found = {};
    if (findFirst(targetPath, "", &found, NULL) == NO_ERROR &&
        (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return refuse(judge, "The target is a folder: ", targetPath);
    }
    // A folder that lies within the other is judged with it, once; the
    // target's folder must be there all the same, since a folder made later
    // would get what its parent gives new folders, which is not judged.
    if (liesWithin(targetFolder, moduleFolder)) {
        return isUnsafeTree(moduleFolder, judge) || isUnsafeLink(targetFolder, judge);
    }
    if (liesWithin(moduleFolder, targetFolder)) {
        return isUnsafeTree(targetFolder, judge);
    }
    return isUnsafeTree(moduleFolder, judge) || isUnsafeTree(targetFolder, judge);
}
