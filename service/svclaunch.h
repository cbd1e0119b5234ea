// What every part of svclaunch shares: the configuration read at start-up,
// the activity log, and the three modes the entry point can run.
#ifndef SVCLAUNCH_H
#define SVCLAUNCH_H

#include <windows.h>

// Size of the configuration's values, and of the paths and names built from
// them, terminator included.
const DWORD configValueSize = 1024;

// Room for the longest message any caller logs, terminator included:
// install's refusal of its own path, which start-up takes up to
// configValueSize - 1 characters long, two bytes each in a double-byte code
// page, behind the texts that say why. The service's lines, a configured
// value behind a few words, are shorter.
const DWORD logMessageSize = 2 * configValueSize + 96;

// Filled once by the entry point before any mode runs; only read afterwards.
extern char serviceName[configValueSize];
extern char programPath[configValueSize];
extern char logPath[configValueSize];

// Appends one line to service.log; a log that cannot be opened drops it.
void writeLog(const char* message);

// The modes: the entry point runs one of them, once.
void installService();
void removeService();
void runDispatcher();

#endif
