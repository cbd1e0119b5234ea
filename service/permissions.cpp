// Owners and access entries read as Windows' access check reads them, with
// only administrators trusted (see accounts.h).
#include "permissions.h"
#include "accounts.h"

#include <string.h>

// How an access entry counts on a file or folder. A conditional allowance
// may hold, so it counts; a conditional denial may not, so it is not
// credited. An object entry that names a kind of directory object grants or
// denies nothing on files; without one it counts as a plain entry. Any other
// type (audit, alarm, compound and label entries, and types this program
// does not know) is one it does not read in a DACL.
enum class EntryKind { allowance, denial, passedOver, unknownKind };

static EntryKind kindOf(BYTE type, DWORD objectFlags)
{
    bool namesObjectType = (objectFlags & ACE_OBJECT_TYPE_PRESENT) != 0;
    switch (type) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        return EntryKind::allowance;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        return namesObjectType ? EntryKind::passedOver : EntryKind::allowance;
    case ACCESS_DENIED_ACE_TYPE:
        return EntryKind::denial;
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
        return namesObjectType ? EntryKind::passedOver : EntryKind::denial;
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        return EntryKind::passedOver;
    default:
        return EntryKind::unknownKind;
    }
}

// One entry of a DACL as it counts here.
struct Entry {
    EntryKind kind;
    BYTE flags;
    bool typedInheritance; // only objects of one type inherit it, never files
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
    entry->typedInheritance = (objectFlags & ACE_INHERITED_OBJECT_TYPE_PRESENT) != 0;
    if (entry->kind == EntryKind::unknownKind) {
        return ERROR_NOT_SUPPORTED;
    }
    entry->sid = reinterpret_cast<const SID*>(bytes + offset);
    bool sound = entry->kind == EntryKind::passedOver ||
                 (offset < header->AceSize && isSoundSid(entry->sid, header->AceSize - offset));
    return sound ? NO_ERROR : ERROR_INVALID_ACL;
}

// Whether an entry applies where it is judged: on the object itself unless
// only inherited, or on a file created in the folder when files inherit it.
// A denial that only objects of one type inherit takes nothing from a new
// file, which has no type; such an allowance is still counted against it.
static bool appliesTo(const Entry& entry, bool newFile)
{
    if (!newFile) {
        return (entry.flags & INHERIT_ONLY_ACE) == 0;
    }
    return (entry.flags & OBJECT_INHERIT_ACE) != 0 && !(entry.kind == EntryKind::denial && entry.typedInheritance);
}

// Reads the entries that apply, in order, as Windows does: a denial that
// comes before an allowance takes those rights away (see denialCovers).
static Verdict judgeEntries(PACL dacl, DWORD rights, bool newFile, const TrustedAccounts& trusted, Finding* finding)
{
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        Entry allowed = {};
        finding->error = readEntry(dacl, i, &allowed);
        if (finding->error != NO_ERROR) {
            return Verdict::cannotTell;
        }
        if (allowed.kind != EntryKind::allowance || !appliesTo(allowed, newFile)) {
            continue;
        }
        // CREATOR GROUP's entries that files inherit give its rights to the
        // primary group of whoever creates one.
        Standing standing = standingOf(allowed.sid, trusted);
        if (standing != Standing::untrusted && !(newFile && standing == Standing::grantsCreatorsGroup)) {
            continue;
        }
        DWORD denied = 0;
        for (DWORD j = 0; j < i; ++j) {
            Entry earlier = {};
            if (readEntry(dacl, j, &earlier) == NO_ERROR && earlier.kind == EntryKind::denial &&
                appliesTo(earlier, newFile) && denialCovers(earlier.sid, allowed.sid)) {
                denied |= earlier.mask;
            }
        }
        if ((allowed.mask & rights & ~denied) != 0) {
            finding->who = allowed.sid;
            return Verdict::someoneElseCan;
        }
    }
    return Verdict::nobodyElse;
}

Verdict judgeDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD rights, DWORD newFileRights,
                        const TrustedAccounts& trusted, Finding* finding)
{
    PSID owner = NULL;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = NULL;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        finding->error = GetLastError();
        return Verdict::cannotTell;
    }
    if (!present || dacl == NULL) {
        finding->who = everyoneSid();
        return Verdict::someoneElseCan;
    }
    if (!isSoundSid(owner, SECURITY_MAX_SID_SIZE)) {
        finding->error = ERROR_INVALID_SECURITY_DESCR;
        return Verdict::cannotTell;
    }
    if (standingOf(static_cast<const SID*>(owner), trusted) != Standing::trusted) {
        finding->who = static_cast<const SID*>(owner);
        return Verdict::someoneElseCan;
    }
    Verdict verdict = judgeEntries(dacl, rights, false, trusted, finding);
    if (verdict == Verdict::nobodyElse && newFileRights != 0) {
        verdict = judgeEntries(dacl, newFileRights, true, trusted, finding);
    }
    return verdict;
}
