// What a file's security descriptor lets whom do.
#ifndef SVCLAUNCH_PERMISSIONS_H
#define SVCLAUNCH_PERMISSIONS_H

#include "accounts.h"

#include <windows.h>

// What a descriptor says: whether anyone untrusted can change the object
// with any of the rights asked, and who; or an error when it cannot be told.
enum class Verdict { nobodyElse, someoneElseCan, cannotTell };
struct Finding {
    const SID* who;
    DWORD error;
};

// Reads a descriptor for its owner, who may always change the permissions,
// and for the entries that apply to the object, with the rights asked; and,
// where newFileRights is given (on a folder that holds a judged file), for
// the entries that a file created there would inherit, with those: a file
// that is missing now, or copied in later, gets them. A missing DACL lets
// Everyone do everything. Administrators and the trusted accounts are
// trusted.
Verdict judgeDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD rights, DWORD newFileRights,
                        const TrustedAccounts& trusted, Finding* finding);

#endif
