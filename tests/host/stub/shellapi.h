// Stand-in for the shell calls svclaunch uses, for host builds.
#ifndef SVCLAUNCH_STUB_SHELLAPI_H
#define SVCLAUNCH_STUB_SHELLAPI_H

#include <windows.h>

const ULONG SEE_MASK_FLAG_NO_UI = 0x400;
const ULONG SEE_MASK_NOZONECHECKS = 0x800000;

typedef struct _SHELLEXECUTEINFOA {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCSTR lpVerb;
    LPCSTR lpFile;
    LPCSTR lpParameters;
    LPCSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    HANDLE hIcon;
    HANDLE hProcess;
} SHELLEXECUTEINFOA;

BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info);

#endif
