// Stand-in for the shell's version query, for host builds.
#ifndef SVCLAUNCH_STUB_SHLWAPI_H
#define SVCLAUNCH_STUB_SHLWAPI_H

#include <windows.h>

typedef struct _DllVersionInfo {
    DWORD cbSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformID;
} DLLVERSIONINFO;

typedef HRESULT(WINAPI* DLLGETVERSIONPROC)(DLLVERSIONINFO*);

#endif
