// Stand-in for the part of <lm.h> that svclaunch uses: the members of a
// local group, whose functions it looks up in netapi32 by name.
#ifndef SVCLAUNCH_STUB_LM_H
#define SVCLAUNCH_STUB_LM_H

#include <windows.h>

typedef DWORD NET_API_STATUS;
typedef BYTE* LPBYTE;
typedef uintptr_t* PDWORD_PTR;
const NET_API_STATUS NERR_Success = 0;
const NET_API_STATUS NERR_InvalidComputer = 2351;
const DWORD MAX_PREFERRED_LENGTH = 0xFFFFFFFF;
const DWORD GNLEN = 256;

typedef struct _LOCALGROUP_MEMBERS_INFO_0 {
    PSID lgrmi0_sid;
} LOCALGROUP_MEMBERS_INFO_0;

#endif
