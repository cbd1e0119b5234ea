// The accounts and groups that permissions name. Nothing is looked up: an
// account lookup could wait on an unreachable domain controller, and local
// names differ by language, so the names are the program's own.
#include "accounts.h"
#include "text.h"

#include <string.h>

// Bytes before a SID's sub-authorities: revision, count, authority.
const size_t sidHeaderSize = 8;

// The first twelve bytes of a SID as Windows lays them out: revision, count
// of sub-authorities, authority and the first sub-authority. A SID of one
// sub-authority is all head.
struct SidHead {
    BYTE revision;
    BYTE count;
    BYTE authority[6];
    DWORD first;
};

struct WellKnownSid {
    SidHead head;
    DWORD last; // the last sub-authority, where there are more
    Standing standing;
    const char* name;
};

// Five sub-authorities beginning with 21 are the accounts and groups of a
// domain (or of one machine), told apart by the last, the relative ID,
// whatever the domain. CREATOR OWNER and CREATOR GROUP stand for whoever
// later creates an object below and that account's primary group, and
// OWNER RIGHTS for the owner, who is judged anyway. Everyone and Anonymous
// Logon come first: they are SIDs of their own too.
static constexpr WellKnownSid wellKnownSids[] = {
    {{1, 1, {0, 0, 0, 0, 0, 1}, 0}, 0, untrusted, "Everyone"},
    {{1, 1, {0, 0, 0, 0, 0, 5}, 7}, 0, untrusted, "Anonymous Logon"},
    {{1, 1, {0, 0, 0, 0, 0, 2}, 0}, 0, untrusted, "LOCAL"},
    {{1, 1, {0, 0, 0, 0, 0, 3}, 0}, 0, grantsNobody, "CREATOR OWNER"},
    {{1, 1, {0, 0, 0, 0, 0, 3}, 1}, 0, grantsCreatorsGroup, "CREATOR GROUP"},
    {{1, 1, {0, 0, 0, 0, 0, 3}, 4}, 0, grantsNobody, "OWNER RIGHTS"},
    {{1, 1, {0, 0, 0, 0, 0, 5}, 4}, 0, untrusted, "INTERACTIVE"},
    {{1, 1, {0, 0, 0, 0, 0, 5}, 11}, 0, untrusted, "Authenticated Users"},
    {{1, 1, {0, 0, 0, 0, 0, 5}, 13}, 0, untrusted, "Terminal Server User"},
    {{1, 1, {0, 0, 0, 0, 0, 5}, 15}, 0, untrusted, "This Organization"},
    {{1, 1, {0, 0, 0, 0, 0, 5}, 18}, 0, trusted, "SYSTEM"},
    {{1, 2, {0, 0, 0, 0, 0, 5}, 32}, 544, trusted, "Administrators"},
    {{1, 2, {0, 0, 0, 0, 0, 5}, 32}, 545, untrusted, "Users"},
    {{1, 2, {0, 0, 0, 0, 0, 5}, 32}, 546, untrusted, "Guests"},
    {{1, 2, {0, 0, 0, 0, 0, 5}, 32}, 547, untrusted, "Power Users"},
    {{1, 2, {0, 0, 0, 0, 0, 5}, 32}, 568, untrusted, "IIS_IUSRS"},
    {{1, 5, {0, 0, 0, 0, 0, 5}, 21}, 512, trusted, "Domain Admins"},
    {{1, 5, {0, 0, 0, 0, 0, 5}, 21}, 513, untrusted, "Domain Users"},
    {{1, 5, {0, 0, 0, 0, 0, 5}, 21}, 514, untrusted, "Domain Guests"},
    {{1, 5, {0, 0, 0, 0, 0, 5}, 21}, 519, trusted, "Enterprise Admins"},
    {{1, 6, {0, 0, 0, 0, 0, 5}, 80}, 2271478464u, trusted, "TrustedInstaller"},
};

// TrustedInstaller's service SID is S-1-5- followed by these.
static const DWORD trustedInstallerIds[] = {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u};

static_assert(wellKnownSids[0].head.authority[5] == 1 && wellKnownSids[1].head.first == 7,
              "Everyone and Anonymous Logon come first");
static const SidHead& everyone = wellKnownSids[0].head;
static const SidHead& anonymousLogon = wellKnownSids[1].head;

// EqualSid and the like take SIDs that they do not change as PSID.
static PSID asSid(const void* sid)
{
    return const_cast<void*>(sid);
}

// The token's user: the record, and room for the SID it points to.
static union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
} tokenUser;

// A sub-authority, read from the SID's bytes: the structure declares room
// for one only.
static DWORD subAuthority(const SID* sid, DWORD index)
{
    DWORD value;
    memcpy(&value, reinterpret_cast<const BYTE*>(sid) + sidHeaderSize + index * sizeof(DWORD), sizeof value);
    return value;
}

static const WellKnownSid* wellKnown(const SID* sid)
{
    for (const WellKnownSid& known : wellKnownSids) {
        DWORD count = known.head.count;
        if (memcmp(sid, &known.head, sizeof known.head) != 0 ||
            (count > 1 && subAuthority(sid, count - 1) != known.last)) {
            continue;
        }
        bool whole = true;
        for (DWORD i = 1; count == 6 && i < count; ++i) {
            whole = whole && subAuthority(sid, i) == trustedInstallerIds[i];
        }
        if (whole) {
            return &known;
        }
    }
    return NULL;
}

const SID* readInstallingAccount()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return NULL;
    }
    DWORD size = 0;
    bool read = GetTokenInformation(token, TokenUser, tokenUser.bytes, sizeof tokenUser.bytes, &size) &&
                isSoundSid(tokenUser.user.User.Sid, SECURITY_MAX_SID_SIZE);
    CloseHandle(token);
    return read ? static_cast<const SID*>(tokenUser.user.User.Sid) : NULL;
}

bool isSoundSid(const void* sid, size_t room)
{
    // Every SID judged here has a head: one sub-authority at least.
    return sid != NULL && room >= sizeof(SidHead) && IsValidSid(asSid(sid)) &&
           GetLengthSid(asSid(sid)) >= sizeof(SidHead) && GetLengthSid(asSid(sid)) <= room;
}

Standing standingOf(const SID* sid, const SID* installingAccount)
{
    if (installingAccount != NULL && EqualSid(asSid(sid), asSid(installingAccount))) {
        return trusted;
    }
    const WellKnownSid* known = wellKnown(sid);
    return known != NULL ? known->standing : untrusted;
}

bool denialCovers(const SID* denied, const SID* allowed)
{
    return EqualSid(asSid(denied), asSid(allowed)) ||
           (EqualSid(asSid(denied), asSid(&everyone)) && !EqualSid(asSid(allowed), asSid(&anonymousLogon)));
}

const SID* everyoneSid()
{
    return reinterpret_cast<const SID*>(&everyone);
}

bool nameSid(const SID* sid, char* out, size_t size)
{
    const WellKnownSid* known = wellKnown(sid);
    if (known != NULL) {
        return joinText(out, size, known->name);
    }
    // The authority in decimal, or in hexadecimal where it needs more than
    // 32 bits, as Windows spells it.
    const BYTE* authority = sid->IdentifierAuthority.Value;
    char number[16] = "0x";
    if (authority[0] != 0 || authority[1] != 0) {
        const char digits[] = "0123456789abcdef";
        for (int i = 0; i < 6; ++i) {
            number[2 + 2 * i] = digits[authority[i] >> 4];
            number[3 + 2 * i] = digits[authority[i] & 0xF];
        }
        number[14] = '\0';
    } else {
        unsigned long low =
            static_cast<unsigned long>(authority[2]) << 24 | authority[3] << 16 | authority[4] << 8 | authority[5];
        formatUnsigned(number, sizeof number, low);
    }
    bool fits = joinText(out, size, "S-1-", number);
    for (DWORD i = 0; fits && i < sid->SubAuthorityCount; ++i) {
        fits = formatUnsigned(number, sizeof number, subAuthority(sid, i)) && appendText(out, size, "-") &&
               appendText(out, size, number);
    }
    return fits;
}
