// Owners and access entries read as Windows' access check reads them, with
// only administrators trusted (see accounts.h).
#include "permissions.h"
#include "accounts.h"

#include <string.h>

// How an access entry counts on a file or folder. A conditional allowance
// may hold, so it counts; a conditional denial may not, so it is not
// credited. An object entry that names a kind of directory object grants or
// denies nothing on files; without one it counts as a plain entry. Any other
// kind is one this program does not read.
enum EntryKind { allowance, denial, passedOver, unknownKind };

static EntryKind kindOf(BYTE type, DWORD objectFlags)
{
    // By type: allowed, denied, three audit and alarm kinds, allowed and
    // denied object entries, two more, then the conditional allowance and
    // denial and their object entries.
    static const BYTE kinds[] = {allowance,   denial,      unknownKind, unknownKind, unknownKind, allowance, denial,
                                 unknownKind, unknownKind, allowance,   passedOver,  allowance,   passedOver};
    bool namesObjectType = (objectFlags & ACE_OBJECT_TYPE_PRESENT) != 0;
    if (type >= sizeof kinds) {
        return unknownKind;
    }
    bool objectEntry = type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE;
    return objectEntry && namesObjectType ? passedOver : static_cast<EntryKind>(kinds[type]);
}

// One entry of a DACL as it counts here.
struct Entry {
    EntryKind kind;
    BYTE flags;
    DWORD mask;
    const SID* sid;
};

// Reads entry index of dacl: its mask follows the header, and its SID the
// mask, or in an object entry the flags and the GUIDs they announce. Returns
// an error for an entry that cannot be read or is of a kind this program
// does not read.
static DWORD readEntry(PACL dacl, DWORD index, Entry* entry)
{
    const size_t guidSize = 16;
    LPVOID address = NULL;
    if (!GetAce(dacl, index, &address)) {
        DWORD error = GetLastError();
        return error != NO_ERROR ? error : ERROR_INVALID_ACL;
    }
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(address);
    const BYTE* bytes = static_cast<const BYTE*>(address);
    size_t offset = sizeof(ACE_HEADER) + sizeof(DWORD);
    if (header->AceSize < offset + sizeof(DWORD)) {
        return ERROR_INVALID_ACL;
    }
    memcpy(&entry->mask, bytes + sizeof(ACE_HEADER), sizeof entry->mask);
    DWORD objectFlags = 0;
    BYTE type = header->AceType;
    if (type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
        type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE) {
        memcpy(&objectFlags, bytes + offset, sizeof objectFlags);
        offset += sizeof objectFlags + ((objectFlags & ACE_OBJECT_TYPE_PRESENT) != 0 ? guidSize : 0) +
                  ((objectFlags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0 ? guidSize : 0);
    }
    entry->kind = kindOf(type, objectFlags);
    entry->flags = header->AceFlags;
    if (entry->kind == unknownKind) {
        return ERROR_NOT_SUPPORTED;
    }
    entry->sid = reinterpret_cast<const SID*>(bytes + offset);
    bool sound =
        entry->kind == passedOver || (offset < header->AceSize && isSoundSid(entry->sid, header->AceSize - offset));
    return sound ? NO_ERROR : ERROR_INVALID_ACL;
}

// Whether an entry applies where it is judged: on the object itself unless
// only inherited, or on a file created in the folder when files inherit it.
static bool appliesTo(const Entry& entry, bool newFile)
{
    return newFile ? (entry.flags & OBJECT_INHERIT_ACE) != 0 : (entry.flags & INHERIT_ONLY_ACE) == 0;
}

// Reads the entries that apply, in order, as Windows does: a denial that
// comes before an allowance takes those rights away (see denialCovers).
static Verdict judgeEntries(PACL dacl, DWORD rights, bool newFile, const SID* installingAccount, Finding* finding)
{
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        Entry allowed = {};
        finding->error = readEntry(dacl, i, &allowed);
        if (finding->error != NO_ERROR) {
            return cannotTell;
        }
        if (allowed.kind != allowance || !appliesTo(allowed, newFile)) {
            continue;
        }
        // CREATOR GROUP's entries that files inherit give its rights to the
        // primary group of whoever creates one.
        Standing standing = standingOf(allowed.sid, installingAccount);
        if (standing != untrusted && !(newFile && standing == grantsCreatorsGroup)) {
            continue;
        }
        DWORD denied = 0;
        for (DWORD j = 0; j < i; ++j) {
            Entry earlier = {};
            if (readEntry(dacl, j, &earlier) == NO_ERROR && earlier.kind == denial && appliesTo(earlier, newFile) &&
                denialCovers(earlier.sid, allowed.sid)) {
                denied |= earlier.mask;
            }
        }
        if ((allowed.mask & rights & ~denied) != 0) {
            finding->who = allowed.sid;
            return someoneElseCan;
        }
    }
    return nobodyElse;
}

Verdict judgeDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD rights, DWORD newFileRights,
                        const SID* installingAccount, Finding* finding)
{
    PSID owner = NULL;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = NULL;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        finding->error = GetLastError();
        return cannotTell;
    }
    if (!present || dacl == NULL) {
        finding->who = everyoneSid();
        return someoneElseCan;
    }
    if (!isSoundSid(owner, SECURITY_MAX_SID_SIZE)) {
        finding->error = ERROR_INVALID_SECURITY_DESCR;
        return cannotTell;
    }
    if (standingOf(static_cast<const SID*>(owner), installingAccount) != trusted) {
        finding->who = static_cast<const SID*>(owner);
        return someoneElseCan;
    }
    Verdict verdict = judgeEntries(dacl, rights, false, installingAccount, finding);
    if (verdict == nobodyElse && newFileRights != 0) {
        verdict = judgeEntries(dacl, newFileRights, true, installingAccount, finding);
    }
    return verdict;
}
