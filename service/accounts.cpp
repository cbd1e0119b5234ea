// The accounts and groups that permissions name. Nothing is looked up: an
// account lookup could wait on an unreachable domain controller, and local
// names differ by language, so the names are the program's own.
#include "accounts.h"
#include "text.h"

#include <string.h>

// Bytes before a SID's sub-authorities: revision, count, authority.
const size_t sidHeaderSize = 8;

struct WellKnownSid {
    BYTE authority; // the last byte of the identifier authority, the others being 0
    BYTE count;     // how many sub-authorities
    DWORD first;    // the first sub-authority
    DWORD last;     // and the last, where there are more
    Standing standing;
    const char* name;
};

// Five sub-authorities beginning with 21 are the accounts and groups of a
// domain (or of one machine), told apart by the last, the relative ID,
// whatever the domain. CREATOR OWNER and CREATOR GROUP stand for whoever
// later creates an object below, and OWNER RIGHTS for the owner, who is
// judged anyway.
static const WellKnownSid wellKnownSids[] = {
    {1, 1, 0, 0, untrusted, "Everyone"},
    {2, 1, 0, 0, untrusted, "LOCAL"},
    {3, 1, 0, 0, grantsNobody, "CREATOR OWNER"},
    {3, 1, 1, 0, grantsNobody, "CREATOR GROUP"},
    {3, 1, 4, 0, grantsNobody, "OWNER RIGHTS"},
    {5, 1, 4, 0, untrusted, "INTERACTIVE"},
    {5, 1, 7, 0, untrusted, "Anonymous Logon"},
    {5, 1, 11, 0, untrusted, "Authenticated Users"},
    {5, 1, 13, 0, untrusted, "Terminal Server User"},
    {5, 1, 15, 0, untrusted, "This Organization"},
    {5, 1, 18, 0, trusted, "SYSTEM"},
    {5, 2, 32, 544, trusted, "Administrators"},
    {5, 2, 32, 545, untrusted, "Users"},
    {5, 2, 32, 546, untrusted, "Guests"},
    {5, 2, 32, 547, untrusted, "Power Users"},
    {5, 2, 32, 568, untrusted, "IIS_IUSRS"},
    {5, 5, 21, 512, trusted, "Domain Admins"},
    {5, 5, 21, 513, untrusted, "Domain Users"},
    {5, 5, 21, 514, untrusted, "Domain Guests"},
    {5, 5, 21, 519, trusted, "Enterprise Admins"},
    {5, 6, 80, 2271478464u, trusted, "TrustedInstaller"},
};

// TrustedInstaller's service SID is S-1-5- followed by these.
static const DWORD trustedInstallerIds[] = {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u};

static const SID everyone = {SID_REVISION, 1, {{0, 0, 0, 0, 0, 1}}, {0}};
static const SID anonymousLogon = {SID_REVISION, 1, {{0, 0, 0, 0, 0, 5}}, {7}};

// The token's user: the record, and room for the SID it points to.
static union {
    TOKEN_USER user;
    BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
} tokenUser;
static const SID* installingAccount;

// A sub-authority, read from the SID's bytes: the structure declares room
// for one only.
static DWORD subAuthority(const SID* sid, DWORD index)
{
    DWORD value;
    memcpy(&value, reinterpret_cast<const BYTE*>(sid) + sidHeaderSize + index * sizeof(DWORD), sizeof value);
    return value;
}

static size_t lengthOf(const SID* sid)
{
    return sidHeaderSize + sid->SubAuthorityCount * sizeof(DWORD);
}

static bool sameSid(const SID* a, const SID* b)
{
    return lengthOf(a) == lengthOf(b) && memcmp(a, b, lengthOf(a)) == 0;
}

static const WellKnownSid* wellKnown(const SID* sid)
{
    const BYTE* authority = sid->IdentifierAuthority.Value;
    if ((authority[0] | authority[1] | authority[2] | authority[3] | authority[4]) != 0) {
        return NULL;
    }
    for (const WellKnownSid& known : wellKnownSids) {
        DWORD count = known.count;
        if (authority[5] != known.authority || sid->SubAuthorityCount != count || subAuthority(sid, 0) != known.first ||
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

void readInstallingAccount()
{
    installingAccount = NULL;
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return;
    }
    DWORD size = 0;
    if (GetTokenInformation(token, TokenUser, tokenUser.bytes, sizeof tokenUser.bytes, &size) &&
        isSoundSid(tokenUser.user.User.Sid, SECURITY_MAX_SID_SIZE)) {
        installingAccount = static_cast<const SID*>(tokenUser.user.User.Sid);
    }
    CloseHandle(token);
}

bool isSoundSid(const void* sid, size_t room)
{
    const SID* id = static_cast<const SID*>(sid);
    return id != NULL && room >= sidHeaderSize + sizeof(DWORD) && id->Revision == SID_REVISION &&
           id->SubAuthorityCount >= 1 && id->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES && lengthOf(id) <= room;
}

Standing standingOf(const SID* sid)
{
    if (installingAccount != NULL && sameSid(sid, installingAccount)) {
        return trusted;
    }
    const WellKnownSid* known = wellKnown(sid);
    return known != NULL ? known->standing : untrusted;
}

bool denialCovers(const SID* denied, const SID* allowed)
{
    return sameSid(denied, allowed) || (sameSid(denied, &everyone) && !sameSid(allowed, &anonymousLogon));
}

const SID* everyoneSid()
{
    return &everyone;
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
