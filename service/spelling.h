// Names as the ANSI calls spell them: every path of this program is spelt
// in the system's ANSI code page, and a name that the code page cannot
// spell comes back from those calls as a look-alike, which may name another
// file.
#ifndef SVCLAUNCH_SPELLING_H
#define SVCLAUNCH_SPELLING_H

#include <windows.h>

// Writes wide (terminated, shorter than configValueSize) into ansi (size
// bytes) as the ANSI calls spell it. Returns NO_ERROR, or
// ERROR_NO_UNICODE_TRANSLATION when that spelling names something else (a
// best-fit look-alike, a ?), or why it could not be written (ansi is then
// empty): ERROR_INSUFFICIENT_BUFFER when it does not fit.
DWORD spellExactly(const WCHAR* wide, char* ansi, int size);

// Writes the executable's own full path, spelt so, into path (size bytes);
// returns its length in characters, or 0 when it cannot be had whole or
// spelt exactly.
DWORD readOwnPath(char* path, int size);

// Whether that path can be had and spelt exactly at all.
bool ownPathIsExact();

#endif
