// Who a SID in the permissions of the service's files stands for, and how
// the log names it.
#ifndef SVCLAUNCH_ACCOUNTS_H
#define SVCLAUNCH_ACCOUNTS_H

#include <windows.h>

#include <stddef.h>

// Whether a SID may change what a LocalSystem service runs: administrators
// may; some SIDs grant nobody anything on the object that names them; any
// other account or group may not.
enum Standing { untrusted, trusted, grantsNobody };

// Reads the account that runs install, which is trusted: it may create
// services, so it is an administrator. Anything of the token that cannot be
// read leaves it untrusted.
void readInstallingAccount();

// Whether sid is a SID that fits in room bytes.
bool isSoundSid(const void* sid, size_t room);

Standing standingOf(const SID* sid);

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
