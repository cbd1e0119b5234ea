// Stand-in for the one shell call svclaunch uses, for host builds.
#ifndef SVCLAUNCH_STUB_SHELLAPI_H
#define SVCLAUNCH_STUB_SHELLAPI_H

#include <windows.h>

HINSTANCE ShellExecuteA(HWND window, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory, int show);

#endif
