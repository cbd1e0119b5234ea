// Which program opens a document, as the service's shell will find it.
#ifndef SVCLAUNCH_OPENER_H
#define SVCLAUNCH_OPENER_H

#include <windows.h>

#include <stddef.h>

// Writes into program (size bytes) the program that the open command of
// document's kind names, as LocalSystem's shell reads the association:
// SYSTEM's own choice and classes first, then the machine's. An empty
// program means that the document runs itself. Returns NO_ERROR, or why
// the program cannot be told: ERROR_NO_ASSOCIATION for a kind without an
// open command, ERROR_BAD_PATHNAME for a program that is not named by a
// full path (the shell would search for it), or a registry error.
DWORD findDocumentOpener(const char* document, char* program, size_t size);

#endif
