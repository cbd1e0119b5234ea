// Who a SID in the permissions of the service's files stands for, and how
// the log names it.
#ifndef SVCLAUNCH_ACCOUNTS_H
#define SVCLAUNCH_ACCOUNTS_H

#include <windows.h>

#include <lm.h>

#include <stddef.h>

// Whether a SID may change what a LocalSystem service runs: administrators
// may, anyone else may not; some SIDs grant nobody anything on the object
// that names them, and one, CREATOR GROUP, grants the creator's primary
// group what files inherit.
enum class Standing { untrusted, trusted, grantsNobody, grantsCreatorsGroup };

// The accounts trusted besides SYSTEM, Administrators and TrustedInstaller:
// the account that runs install (let create services, it could create a
// LocalSystem service of its own anyway), and every direct member of this
// machine's Administrators group, NULL and none where they could not be read.
struct TrustedAccounts {
    const SID* installingAccount;
    const LOCALGROUP_MEMBERS_INFO_0* administrators;
    DWORD administratorCount;
};

// Reads both from this process's token and this machine's own accounts
// database; no domain is asked. The list is released by
// releaseTrustedAccounts.
TrustedAccounts readTrustedAccounts();
void releaseTrustedAccounts(const TrustedAccounts& trusted);

// Whether sid is a valid SID that fits in room bytes.
bool isSoundSid(const void* sid, size_t room);

// Where sid stands.
Standing standingOf(const SID* sid, const TrustedAccounts& trusted);

// Whether an earlier denial to denied takes rights from an allowance to
// allowed: a denial to that very SID does, and one to Everyone does for all
// but Anonymous Logon, whose token holds no Everyone.
bool denialCovers(const SID* denied, const SID* allowed);

// Everyone, whom a file without a DACL lets do anything.
const SID* everyoneSid();

// Writes the log's name for sid into out (size bytes): a fixed English name
// for the SIDs this program knows, otherwise the SID spelt out
// (S-1-5-21-...). False when it does not fit.
bool nameSid(const SID* sid, char* out, size_t size);

#endif
