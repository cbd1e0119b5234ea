// What the units of svclaunch share: the configuration read at start-up,
// the activity log, and the three modes the entry point can run.
#ifndef SVCLAUNCH_H
#define SVCLAUNCH_H

#include <windows.h>

// Size of every path, name and message buffer, terminator included.
const DWORD configValueSize = 1024;

// Room for the longest log message: a whole programPath behind its prefix.
const DWORD logMessageSize = configValueSize + 32;

// Filled once by the entry point before any mode runs; only read afterwards.
extern char serviceName[configValueSize];
extern char programPath[configValueSize];
extern char logPath[configValueSize];

// Whether the executable's own full path reads exactly the same in the
// ANSI code page, in which every path of this program is spelt.
bool ownPathIsExact();

// Whether anyone but administrators can change what the service would run
// from modulePath: svclaunch.exe, service.cnf, service.log, the target (and
// the program that opens it, for a document), or a folder that holds them
// or lies above them; also true when that cannot be told, or when one of
// them is not where the service could safely find it (a link in the way, a
// share or a removable disk, a shortcut). reason (size bytes) then says why.
bool findUntrustedChanger(const char* modulePath, char* reason, size_t size);

// Loads shell32 by its full path in the system folder, never through the
// search path, with the DLLs it loads kept off PATH where Windows allows.
HMODULE loadShell32();

// Appends one line to service.log; a log that cannot be opened drops it.
void writeLog(const char* message);

// Starts the target program through the shell with one parameter, its
// window hidden, without waiting for it and without any window or prompt;
// what becomes of it is its own matter.
void launchTarget(const char* parameter);
// Lets the next launch load the shell anew, as at the start of a process.
void forgetShell();

// The modes, each run at most once per process by the entry point.
void installService();
void removeService();
void runDispatcher();

#endif
