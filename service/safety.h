// Whether what the service will run is safe to register. It runs as
// LocalSystem: whoever can replace what it runs or reads, or put a file (a
// DLL) beside it, runs code as LocalSystem, and whoever can write
// service.log can forge what scripts read there. Only administrators are
// trusted; anyone else is named, since the accounts of a machine cannot all
// be listed.
#ifndef SVCLAUNCH_SAFETY_H
#define SVCLAUNCH_SAFETY_H

#include "accounts.h"

#include <windows.h>

#include <stddef.h>

// Whether anyone but administrators and the trusted accounts can change
// what the service would run from modulePath with target (as line 2 makes
// it, relative to the current folder or full): either file, anything
// beneath their folders to any depth, or the folders above. Also true when
// that cannot be told, when one of them is not where the service could
// safely find it (a link, a share, removable media, a drive that stands for
// a folder, a drive's root), when the target is no program (a folder, a
// shortcut or a document, which run whatever else they name), or when the
// SCM would expand a % in modulePath. reason (size bytes) then says why.
bool isUnsafeForLocalSystem(const char* modulePath, const char* target, const TrustedAccounts& trusted, char* reason,
                            size_t size);

#endif
