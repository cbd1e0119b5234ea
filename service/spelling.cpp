// Names as the ANSI calls spell them (see spelling.h).
#include "spelling.h"
#include "svclaunch.h"

DWORD spellExactly(const WCHAR* wide, char* ansi, int size)
{
    WCHAR back[configValueSize];
    if (WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, size, NULL, NULL) == 0) {
        ansi[0] = '\0';
        return GetLastError();
    }
    if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, back, configValueSize) == 0) {
        return GetLastError();
    }
    for (int i = 0; back[i] == wide[i]; ++i) {
        if (wide[i] == 0) {
            return NO_ERROR;
        }
    }
    return ERROR_NO_UNICODE_TRANSLATION;
}

// Where the ANSI code page lacks a character of a path, Windows' ANSI calls
// (GetModuleFileNameA, the runtime's argv[0]) give a best-fit look-alike:
// C:\Bāckup\svclaunch.exe becomes C:\Backup\svclaunch.exe. A configuration
// read from the look-alike folder, and a registration of the executable in
// it, would belong to whoever made that other folder, and the service runs as
// LocalSystem. So the Unicode path must come back whole from a round trip
// through the code page, which needs no flag that NT 4.0 lacks.
DWORD readOwnPath(char* path, int size)
{
    WCHAR widePath[configValueSize];
    DWORD length = GetModuleFileNameW(NULL, widePath, configValueSize);
    return length != 0 && length < configValueSize && spellExactly(widePath, path, size) == NO_ERROR ? length : 0;
}

bool ownPathIsExact()
{
    char path[2 * configValueSize]; // a double-byte code page takes two bytes a character
    return readOwnPath(path, sizeof path) != 0;
}
