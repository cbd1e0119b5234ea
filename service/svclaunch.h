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

// Appends one line to service.log; a log that cannot be opened drops it.
void writeLog(const char* message);

// The modes, each run at most once per process by the entry point.
void installService();
void removeService();
void runDispatcher();

#endif
