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

// Whether a broad group of users who are not administrators (Everyone,
// Users, ...) can change what the service would run from modulePath:
// svclaunch.exe, service.cnf, the target, or a folder that holds them or
// lies above them. Also true when that cannot be told. reason (size bytes)
// then says which group can change which path, or why it cannot be told.
bool findBroadChanger(const char* modulePath, char* reason, size_t size);

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
