// What the units of svclaunch share: the configuration read at start-up,
// the activity log, and the three modes the entry point can run.
#ifndef SVCLAUNCH_H
#define SVCLAUNCH_H

#include <windows.h>

// Size of the configuration's values, and of the paths and names built from
// them, terminator included.
const DWORD configValueSize = 1024;

// Room for the service's log messages: a whole programPath behind its
// prefix. Install's refusals, which also name who, have room of their own.
const DWORD logMessageSize = configValueSize + 32;

// The files beside svclaunch.exe, each behind the backslash that joins it to
// the folder.
extern const char configFileName[];
extern const char logFileName[];

// Filled once by the entry point before any mode runs; only read afterwards.
extern char serviceName[configValueSize];
extern char programPath[configValueSize];
extern char logPath[configValueSize];

// Whether the executable's own full path reads exactly the same in the
// ANSI code page, in which every path of this program is spelt.
bool ownPathIsExact();
// Writes that path, spelt so, into path (size bytes); returns its length in
// characters, or 0 when it cannot be had whole or spelt exactly.
DWORD readOwnPath(char* path, int size);

// Writes wide (terminated, shorter than configValueSize) into ansi (size
// bytes) as the ANSI calls spell it. Returns NO_ERROR, or
// ERROR_NO_UNICODE_TRANSLATION when that spelling names something else (a
// best-fit look-alike, a ?), or why it could not be written (ansi is then
// empty): ERROR_INSUFFICIENT_BUFFER when it does not fit.
DWORD spellExactly(const WCHAR* wide, char* ansi, int size);

// Appends one line to service.log; a log that cannot be opened drops it.
void writeLog(const char* message);

// Starts the target program through the shell with one parameter, its
// window hidden, without waiting for it and without any window or prompt;
// what becomes of it is its own matter. Loads shell32 at the first launch.
void launchTarget(const char* parameter);
// Lets the next launch load the shell anew, as at the start of a process.
void forgetShell();

// The modes, each run at most once per process by the entry point.
void installService();
void removeService();
void runDispatcher();

#endif
