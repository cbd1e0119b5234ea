// The accounts and groups that permissions name. Nothing is looked up: an
// account lookup could wait on an unreachable domain controller, and local
// names differ by language, so the names are the program's own.
#include "accounts.h"
#include "text.h"

#include <ntsecapi.h>

#include <string.h>

// Bytes before a SID's sub-authorities: revision, count, authority.
const size_t sidHeaderSize = 8;
// Every SID judged here has one sub-authority at least.
const size_t shortestSid = sidHeaderSize + sizeof(DWORD);
// Room for the longest SID spelt out.
const size_t sidTextSize = 200;

// A SID this program names, spelt as Windows spells it; a * stands for any
// one part.
struct WellKnownSid {
    const char* sid;
    const char* name;
    Standing standing;
};

// A domain's accounts and groups (or one machine's) are S-1-5-21, three
// parts of the domain's own, and the relative ID, which tells them apart
// whatever the domain. CREATOR OWNER and CREATOR GROUP stand for whoever
// later creates an object below and that account's primary group, and
// OWNER RIGHTS for the owner, who is judged anyway.
static const WellKnownSid wellKnownSids[] = {
    {"S-1-1-0", "Everyone", Standing::untrusted},
    {"S-1-2-0", "LOCAL", Standing::untrusted},
    {"S-1-3-0", "CREATOR OWNER", Standing::grantsNobody},
    {"S-1-3-1", "CREATOR GROUP", Standing::grantsCreatorsGroup},
    {"S-1-3-4", "OWNER RIGHTS", Standing::grantsNobody},
    {"S-1-5-4", "INTERACTIVE", Standing::untrusted},
    {"S-1-5-7", "Anonymous Logon", Standing::untrusted},
    {"S-1-5-11", "Authenticated Users", Standing::untrusted},
    {"S-1-5-13", "Terminal Server User", Standing::untrusted},
    {"S-1-5-15", "This Organization", Standing::untrusted},
    {"S-1-5-18", "SYSTEM", Standing::trusted},
    {"S-1-5-19", "LOCAL SERVICE", Standing::untrusted},
    {"S-1-5-20", "NETWORK SERVICE", Standing::untrusted},
    {"S-1-5-32-544", "Administrators", Standing::trusted},
    {"S-1-5-32-545", "Users", Standing::untrusted},
    {"S-1-5-32-546", "Guests", Standing::untrusted},
    {"S-1-5-32-547", "Power Users", Standing::untrusted},
    {"S-1-5-32-568", "IIS_IUSRS", Standing::untrusted},
    {"S-1-5-21-*-*-*-512", "Domain Admins", Standing::trusted},
    {"S-1-5-21-*-*-*-513", "Domain Users", Standing::untrusted},
    {"S-1-5-21-*-*-*-514", "Domain Guests", Standing::untrusted},
    {"S-1-5-21-*-*-*-519", "Enterprise Admins", Standing::trusted},
    {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "TrustedInstaller", Standing::trusted},
};

// Everyone and Anonymous Logon, for the rules that name them.
static const SID everyone = {SID_REVISION, 1, {{0, 0, 0, 0, 0, 1}}, {0}};
static const SID anonymousLogon = {SID_REVISION, 1, {{0, 0, 0, 0, 0, 5}}, {7}};

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

// This machine's built-in Administrator.
static union {
    SID sid;
    BYTE bytes[SECURITY_MAX_SID_SIZE];
} machineAdministrator;

// A sub-authority, read from the SID's bytes: the structure declares room
// for one only.
static DWORD subAuthority(const SID* sid, DWORD index)
{
    DWORD value;
    memcpy(&value, reinterpret_cast<const BYTE*>(sid) + sidHeaderSize + index * sizeof(DWORD), sizeof value);
    return value;
}

// Writes sid, valid and so of revision 1, as Windows spells it,
// S-1-5-21-...: the authority in decimal, or in hexadecimal where it needs
// more than 32 bits. False when it does not fit.
static bool spellSid(const SID* sid, char* out, size_t size)
{
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

// Whether spelt reads as pattern, in which each * stands for the digits of
// one part (a SID spelt out has one digit in each part at least).
static bool spellsAs(const char* spelt, const char* pattern)
{
    for (; *pattern != '\0'; ++pattern) {
        if (*pattern != '*') {
            if (*spelt++ != *pattern) {
                return false;
            }
            continue;
        }
        while (*spelt >= '0' && *spelt <= '9') {
            ++spelt;
        }
    }
    return *spelt == '\0';
}

// The row of sid, or NULL for a SID this program has no name for.
static const WellKnownSid* wellKnown(const SID* sid)
{
    char spelt[sidTextSize];
    if (!spellSid(sid, spelt, sizeof spelt)) {
        return NULL;
    }
    for (const WellKnownSid& known : wellKnownSids) {
        // cppcheck-suppress useStlAlgorithm ; a plain loop, as everywhere in this program
        if (spellsAs(spelt, known.sid)) {
            return &known;
        }
    }
    return NULL;
}

// The SID of the account that runs this process, or NULL when the token
// cannot be read.
static const SID* readInstallingAccount()
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

// The RID 500 account of this machine's own account domain, read from the
// local policy; NULL when it cannot be read. Another domain's RID 500 is
// that domain's, and is not trusted.
static const SID* readMachineAdministrator()
{
    LSA_OBJECT_ATTRIBUTES attributes = {};
    LSA_HANDLE policy = NULL;
    if (LsaOpenPolicy(NULL, &attributes, POLICY_VIEW_LOCAL_INFORMATION, &policy) != 0) {
        return NULL;
    }
    PVOID information = NULL;
    NTSTATUS status = LsaQueryInformationPolicy(policy, PolicyAccountDomainInformation, &information);
    LsaClose(policy);
    if (status != 0 || information == NULL) {
        return NULL;
    }
    const SID* domain = static_cast<const SID*>(static_cast<POLICY_ACCOUNT_DOMAIN_INFO*>(information)->DomainSid);
    const DWORD administrator = DOMAIN_USER_RID_ADMIN;
    // Room for one more sub-authority, and so no more than the most a SID may have.
    bool fits = isSoundSid(domain, sizeof machineAdministrator - sizeof administrator);
    if (fits) {
        DWORD length = GetLengthSid(asSid(domain));
        memcpy(machineAdministrator.bytes, domain, length);
        memcpy(machineAdministrator.bytes + length, &administrator, sizeof administrator);
        ++machineAdministrator.sid.SubAuthorityCount;
    }
    LsaFreeMemory(information);
    return fits ? &machineAdministrator.sid : NULL;
}

TrustedAccounts readTrustedAccounts()
{
    TrustedAccounts trusted = {readInstallingAccount(), readMachineAdministrator()};
    return trusted;
}

bool isSoundSid(const void* sid, size_t room)
{
    return sid != NULL && room >= shortestSid && IsValidSid(asSid(sid)) && GetLengthSid(asSid(sid)) >= shortestSid &&
           GetLengthSid(asSid(sid)) <= room;
}

Standing standingOf(const SID* sid, const TrustedAccounts& trusted)
{
    const SID* const accounts[] = {trusted.installingAccount, trusted.machineAdministrator};
    for (const SID* account : accounts) {
        // cppcheck-suppress useStlAlgorithm ; a plain loop, as everywhere in this program
        if (account != NULL && EqualSid(asSid(sid), asSid(account))) {
            return Standing::trusted;
        }
    }
    const WellKnownSid* known = wellKnown(sid);
    return known != NULL ? known->standing : Standing::untrusted;
}

bool denialCovers(const SID* denied, const SID* allowed)
{
    return EqualSid(asSid(denied), asSid(allowed)) ||
           (EqualSid(asSid(denied), asSid(&everyone)) && !EqualSid(asSid(allowed), asSid(&anonymousLogon)));
}

const SID* everyoneSid()
{
    return &everyone;
}

bool nameSid(const SID* sid, char* out, size_t size)
{
    const WellKnownSid* known = wellKnown(sid);
    return known != NULL ? joinText(out, size, known->name) : spellSid(sid, out, size);
}
