// What users who are not administrators may change of what the service will
// run. The service runs as LocalSystem, so whoever can replace svclaunch.exe,
// service.cnf or the target, or put a file beside the target (a DLL it loads
// from its folder), runs code as LocalSystem at the next start.
#include "svclaunch.h"
#include "text.h"

#include <string.h>

// The broad groups whose members are no administrators. Other accounts and
// groups are an administrator's deliberate choice and are left alone. The
// names are the product's own: an account lookup could wait on an
// unreachable domain controller, and local names differ by language.
enum BroadGroup {
    everyone,
    authenticatedUsers,
    users,
    interactive,
    anonymousLogon,
    guests,
    domainUsers,
    domainGuests,
    broadGroupCount,
    notBroad = broadGroupCount
};

static const char* const broadGroupNames[broadGroupCount] = {"Everyone",     "Authenticated Users", "Users",
                                                             "INTERACTIVE",  "Anonymous Logon",     "Guests",
                                                             "Domain Users", "Domain Guests"};

// Rights that change a file that is run or read: its data, its existence,
// its permissions or its owner.
const DWORD fileChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights on the folder that holds such a file: a file or folder put beside
// it, or one of its entries replaced.
const DWORD holderChangeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                 WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
// Rights on a folder further up: enough to move the folder below away and
// put another in its place.
const DWORD ancestorChangeRights = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// Said of a path too long to name in the log line.
const char pathTooLongText[] = "Cannot tell who can change a path this long";

// Room for any security descriptor of a file seen in practice.
const DWORD descriptorSize = 16384;

// Which broad group a SID stands for, if any. A domain's Domain Users and
// Domain Guests are the relative IDs 513 and 514 under any domain's SID; on
// a machine outside a domain, its own 513 holds every local user.
static BroadGroup broadGroupOf(PSID sid)
{
    const SID* id = static_cast<const SID*>(sid);
    if (id == NULL || id->Revision != SID_REVISION || id->SubAuthorityCount == 0) {
        return notBroad;
    }
    const BYTE* authority = id->IdentifierAuthority.Value;
    if (authority[0] != 0 || authority[1] != 0 || authority[2] != 0 || authority[3] != 0 || authority[4] != 0) {
        return notBroad;
    }
    DWORD count = id->SubAuthorityCount;
    DWORD first = id->SubAuthority[0];
    DWORD last = id->SubAuthority[count - 1];
    if (authority[5] == 1 && count == 1 && first == 0) {
        return everyone;
    }
    if (authority[5] != 5) {
        return notBroad;
    }
    if (count == 1) {
        return first == 11 ? authenticatedUsers : first == 4 ? interactive : first == 7 ? anonymousLogon : notBroad;
    }
    if (count == 2 && first == 32) {
        return last == 545 ? users : last == 546 ? guests : notBroad;
    }
    if (count == 5 && first == 21) {
        return last == 513 ? domainUsers : last == 514 ? domainGuests : notBroad;
    }
    return notBroad;
}

// What an object's descriptor says: whether a broad group can change it
// with any of the rights given, and which.
enum Verdict { nobodyBroad, broadGroupCan, cannotTell };

// Reads the descriptor for its owner and the entries that apply to the
// object itself, in order, as Windows does: a denial that comes before an
// allowance of the same group takes those rights away, and one to Everyone
// takes them from every group. An owner may always change the permissions,
// and a missing DACL lets everyone do everything.
static Verdict judgeDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD rights, BroadGroup* group)
{
    PSID owner = NULL;
    BOOL ownerDefaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted)) {
        return cannotTell;
    }
    *group = broadGroupOf(owner);
    if (*group != notBroad) {
        return broadGroupCan;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = NULL;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        return cannotTell;
    }
    if (!present || dacl == NULL) {
        *group = everyone;
        return broadGroupCan;
    }
    DWORD denied[broadGroupCount] = {};
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        LPVOID ace = NULL;
        if (!GetAce(dacl, i, &ace)) {
            return cannotTell;
        }
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
        bool allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 || (!allows && header->AceType != ACCESS_DENIED_ACE_TYPE)) {
            continue;
        }
        // An allowed and a denied entry are laid out alike.
        ACCESS_ALLOWED_ACE* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        BroadGroup entryGroup = broadGroupOf(&entry->SidStart);
        if (entryGroup == notBroad) {
            continue;
        }
        if (!allows) {
            denied[entryGroup] |= entry->Mask;
        } else if ((entry->Mask & rights & ~denied[entryGroup] & ~denied[everyone]) != 0) {
            *group = entryGroup;
            return broadGroupCan;
        }
    }
    return nobodyBroad;
}

// Writes "GROUP can change PATH" or "Cannot tell who can change PATH, Error
// Code N" into reason; false when it does not fit.
static bool describe(char* reason, size_t size, Verdict verdict, BroadGroup group, const char* path)
{
    if (verdict == broadGroupCan) {
        char lead[64];
        return joinText(lead, sizeof lead, broadGroupNames[group], " can change ") &&
               joinText(reason, size, lead, path);
    }
    char code[12];
    char lead[configValueSize];
    return formatDecimal(code, sizeof code, static_cast<int>(GetLastError())) &&
           joinText(lead, sizeof lead, "Cannot tell who can change ", path) &&
           joinText(reason, size, lead, ", Error Code ", code);
}

// Judges one file or folder. An object that is not there (or whose path no
// program could open) is passed over; the folder that would hold it is then
// judged as its holder.
static Verdict judgePath(const char* path, DWORD rights, char* reason, size_t size, bool* missing)
{
    // DWORD-aligned, as a descriptor must be; install runs on one thread.
    static DWORD descriptor[descriptorSize / sizeof(DWORD)];
    DWORD needed = 0;
    *missing = false;
    Verdict verdict = cannotTell;
    BroadGroup group = notBroad;
    if (GetFileSecurityA(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, sizeof descriptor,
                         &needed)) {
        verdict = judgeDescriptor(descriptor, rights, &group);
    } else {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
            error == ERROR_FILENAME_EXCED_RANGE) {
            *missing = true;
            return nobodyBroad;
        }
    }
    if (verdict != nobodyBroad && !describe(reason, size, verdict, group, path)) {
        joinText(reason, size, pathTooLongText);
    }
    return verdict;
}

// Length of the root of a full path: "C:\" or "\\server\share\"; 0 when the
// path has none.
static size_t rootLength(const char* path)
{
    if (path[0] != '\0' && path[1] == ':' && path[2] == '\\') {
        return 3;
    }
    if (path[0] != '\\' || path[1] != '\\') {
        return 0;
    }
    int backslashes = 0;
    for (size_t i = 2; path[i] != '\0'; ++i) {
        if (path[i] == '\\' && ++backslashes == 2) {
            return i + 1;
        }
    }
    return 0;
}

// Judges the file at path, the folder that holds it and every folder above
// it up to the root, each for the rights that matter at its place.
static bool findInChain(const char* fullPath, char* reason, size_t size)
{
    char path[configValueSize];
    size_t root = rootLength(fullPath);
    if (root == 0 || !joinText(path, sizeof path, fullPath)) {
        joinText(reason, size, "Cannot tell who can change a path without a root");
        return true;
    }
    DWORD rights = fileChangeRights;
    for (;;) {
        bool missing = false;
        if (judgePath(path, rights, reason, size, &missing) != nobodyBroad) {
            return true;
        }
        size_t length = strlen(path);
        if (length <= root) {
            return false;
        }
        if (!missing) {
            rights = rights == fileChangeRights ? holderChangeRights : ancestorChangeRights;
        }
        size_t cut = length - 1;
        while (cut >= root && path[cut] != '\\') {
            --cut;
        }
        path[cut >= root ? cut : root] = '\0';
    }
}

bool findBroadChanger(const char* modulePath, char* reason, size_t size)
{
    char folder[configValueSize];
    char configPath[configValueSize];
    char targetPath[configValueSize];
    if (!joinText(folder, sizeof folder, modulePath)) {
        return joinText(reason, size, pathTooLongText);
    }
    char* lastBackslash = strrchr(folder, '\\');
    if (lastBackslash != NULL) {
        *lastBackslash = '\0';
    }
    if (!joinText(configPath, sizeof configPath, folder, "\\service.cnf")) {
        return joinText(reason, size, pathTooLongText);
    }
    // The target as the service will find it: programPath may be relative to
    // the current folder when the verb was given with a relative path.
    DWORD targetLength = GetFullPathNameA(programPath, sizeof targetPath, targetPath, NULL);
    if (targetLength == 0) {
        return describe(reason, size, cannotTell, notBroad, programPath) || joinText(reason, size, pathTooLongText);
    }
    if (targetLength >= sizeof targetPath) {
        return joinText(reason, size, pathTooLongText);
    }
    // service.cnf lies in svclaunch.exe's folder, whose chain is judged with
    // svclaunch.exe's: only the file itself is left.
    bool configMissing = false;
    return findInChain(modulePath, reason, size) ||
           judgePath(configPath, fileChangeRights, reason, size, &configMissing) != nobodyBroad ||
           findInChain(targetPath, reason, size);
}
