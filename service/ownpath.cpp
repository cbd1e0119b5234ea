// The executable's own path as the ANSI calls spell it.
#include "svclaunch.h"

#include <string.h>

// Where the ANSI code page lacks a character of a path, Windows' ANSI calls
// (GetModuleFileNameA, the runtime's argv[0]) give a best-fit look-alike:
// C:\Bāckup\svclaunch.exe becomes C:\Backup\svclaunch.exe. A configuration
// read from the look-alike folder, and a registration of the executable in
// it, would belong to whoever made that other folder, and the service runs as
// LocalSystem. So the Unicode path must come back whole from a round trip
// through the code page, which needs no flag that NT 4.0 lacks.
bool ownPathIsExact()
{
    WCHAR path[configValueSize];
    DWORD length = GetModuleFileNameW(NULL, path, configValueSize);
    if (length == 0 || length >= configValueSize) {
        return false;
    }
    char ansi[2 * configValueSize]; // a double-byte code page takes two bytes a character
    if (WideCharToMultiByte(CP_ACP, 0, path, -1, ansi, sizeof ansi, NULL, NULL) == 0) {
        return false;
    }
    WCHAR back[configValueSize];
    int backLength = MultiByteToWideChar(CP_ACP, 0, ansi, -1, back, configValueSize);
    return backLength == static_cast<int>(length) + 1 && memcmp(back, path, length * sizeof(WCHAR)) == 0;
}
