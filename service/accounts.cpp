// The accounts and groups that permissions name. No account is looked up
// by name: a lookup could wait on an unreachable domain controller, and
// local names differ by language, so the names in the log are the
// program's own.
#include "accounts.h"
#include "systemlibrary.h"
#include "text.h"

#include <string.h>

// Bytes before a SID's sub-authorities: revision, count, authority.
const size_t sidHeaderSize = 8;
// Every SID judged here has one sub-authority at least.
const size_t shortestSid = sidHeaderSize + sizeof(DWORD);
// Room for the longest SID spelt out.
const size_t sidTextSize = 200;

// A SID this program names, spelt as Windows spells it.
struct WellKnownSid {
    const char* sid;
    const char* name;
    Standing standing;
};

// CREATOR OWNER and CREATOR GROUP stand for whoever later creates an object
// below and that account's primary group, and OWNER RIGHTS for the owner,
// who is judged anyway. A domain's accounts and groups (and this machine's)
// are spelt out: a relative ID such as 512, Domain Admins, names another
// group in every domain, and only the SID tells which.
static const WellKnownSid wellKnownSids[] = {
    {"S-1-1-0", "Everyone", Standing::untrusted},
    {"S-1-2-0", "LOCAL", Standing::untrusted},
    {"S-1-3-0", "CREATOR OWNER", Standing::grantsNobody},
    {"S-1-3-1", "CREATOR GROUP", Standing::grantsCreatorsGroup},
    {"S-1-3-4", "OWNER RIGHTS", Standing::grantsNobody},
    {"S-1-5-4", "INTERACTIVE", Standing::untrusted},
    {"S-1-5-7", "ANONYMOUS LOGON", Standing::untrusted},
    {"S-1-5-11", "Authenticated Users", Standing::untrusted},
    {"S-1-5-13", "TERMINAL SERVER USER", Standing::untrusted},
    {"S-1-5-15", "This Organization", Standing::untrusted},
    {"S-1-5-18", "SYSTEM", Standing::trusted},
    {"S-1-5-19", "LOCAL SERVICE", Standing::untrusted},
    {"S-1-5-20", "NETWORK SERVICE", Standing::untrusted},
    {"S-1-5-32-544", "Administrators", Standing::trusted},
    {"S-1-5-32-545", "Users", Standing::untrusted},
    {"S-1-5-32-546", "Guests", Standing::untrusted},
    {"S-1-5-32-547", "Power Users", Standing::untrusted},
    {"S-1-5-32-568", "IIS_IUSRS", Standing::untrusted},
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

// Administrators, S-1-5-32-544, whose second sub-authority follows the one
// the structure declares.
static const struct {
    SID sid;     // cppcheck-suppress unusedStructMember ; read by the calls that take it
    DWORD alias; // cppcheck-suppress unusedStructMember ; read as its second sub-authority
} administratorsGroup = {{SID_REVISION, 2, {{0, 0, 0, 0, 0, 5}}, {SECURITY_BUILTIN_DOMAIN_RID}},
                         DOMAIN_ALIAS_RID_ADMINS};

typedef NET_API_STATUS(WINAPI* NetLocalGroupGetMembersFunction)(LPCWSTR, LPCWSTR, DWORD, LPBYTE*, DWORD, LPDWORD,
                                                                LPDWORD, PDWORD_PTR);
typedef NET_API_STATUS(WINAPI* NetApiBufferFreeFunction)(LPVOID);

// Frees the member list that netapi32 gave out.
static NetApiBufferFreeFunction freeNetApiBuffer;

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

// The row of sid, or NULL for a SID this program has no name for.
static const WellKnownSid* wellKnown(const SID* sid)
{
    char spelt[sidTextSize];
    if (!spellSid(sid, spelt, sizeof spelt)) {
        return NULL;
    }
    for (const WellKnownSid& known : wellKnownSids) {
        // cppcheck-suppress useStlAlgorithm ; a plain loop, as everywhere in this program
        if (strcmp(spelt, known.sid) == 0) {
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

// Room for a group's name and its domain's, terminator included.
const DWORD accountNameRoom = GNLEN + 1;

// Reads the direct members of this machine's Administrators group into
// trusted, by SID alone: no name is resolved, so no domain controller is
// asked. The group is found by its SID, since its name differs by language.
// A member that is a group (a domain's group added to Administrators) is
// trusted as that group: only a domain controller could say who its members
// are. Where the list cannot be read whole, nobody is added. netapi32 is
// loaded here, so that service mode never maps it.
static void readAdministrators(TrustedAccounts* trusted)
{
    WCHAR group[accountNameRoom];
    WCHAR domain[accountNameRoom];
    DWORD groupLength = accountNameRoom;
    DWORD domainLength = accountNameRoom;
    SID_NAME_USE use;
    if (!LookupAccountSidW(NULL, asSid(&administratorsGroup), group, &groupLength, domain, &domainLength, &use)) {
        return;
    }
    HMODULE netapi = loadSystemLibrary("\\netapi32.dll");
    NetLocalGroupGetMembersFunction getMembers =
        findFunction<NetLocalGroupGetMembersFunction>(netapi, "NetLocalGroupGetMembers");
    freeNetApiBuffer = findFunction<NetApiBufferFreeFunction>(netapi, "NetApiBufferFree");
    if (getMembers == NULL || freeNetApiBuffer == NULL) {
        return;
    }
    LPBYTE members = NULL;
    DWORD read = 0;
    DWORD total = 0;
    NET_API_STATUS status = getMembers(NULL, group, 0, &members, MAX_PREFERRED_LENGTH, &read, &total, NULL);
    if (status == NERR_Success && read == total) {
        trusted->administrators = reinterpret_cast<const LOCALGROUP_MEMBERS_INFO_0*>(members);
        trusted->administratorCount = read;
    } else if (members != NULL) {
        freeNetApiBuffer(members); // even after ERROR_MORE_DATA
    }
}

TrustedAccounts readTrustedAccounts()
{
    TrustedAccounts trusted = {readInstallingAccount(), NULL, 0};
    readAdministrators(&trusted);
    return trusted;
}

void releaseTrustedAccounts(const TrustedAccounts& trusted)
{
    if (trusted.administrators != NULL) {
        freeNetApiBuffer(const_cast<LOCALGROUP_MEMBERS_INFO_0*>(trusted.administrators));
    }
}

bool isSoundSid(const void* sid, size_t room)
{
    return sid != NULL && room >= shortestSid && IsValidSid(asSid(sid)) && GetLengthSid(asSid(sid)) >= shortestSid &&
           GetLengthSid(asSid(sid)) <= room;
}

Standing standingOf(const SID* sid, const TrustedAccounts& trusted)
{
    bool member = trusted.installingAccount != NULL && EqualSid(asSid(sid), asSid(trusted.installingAccount));
    for (DWORD i = 0; !member && i < trusted.administratorCount; ++i) {
        member = EqualSid(asSid(sid), trusted.administrators[i].lgrmi0_sid) != FALSE;
    }
    if (member) {
        return Standing::trusted;
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
