// Whether what the service will run is safe to register. It runs as
// LocalSystem: whoever can replace what it runs or reads, or put a file (a
// DLL) beside it, runs code as LocalSystem, and whoever can write
// service.log can forge what scripts read there. Only administrators are
// trusted; anyone else is named, since the accounts of a machine cannot all
// be listed.
#ifndef SVCLAUNCH_SAFETY_H
#define SVCLAUNCH_SAFETY_H

#include <windows.h>

#include <stddef.h>

// Whether anyone but administrators and installingAccount (NULL: none) can
// change what the service would run from modulePath, or the folders that
// hold it; also true when that cannot be told, when one of them is not
// where the service could safely find it (a link, a share or removable
// media, a shortcut), or when the SCM would expand a % in modulePath.
// reason (size bytes) then says why.
bool isUnsafeForLocalSystem(const char* modulePath, const SID* installingAccount, char* reason, size_t size);

#endif
