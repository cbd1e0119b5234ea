// The activity log: service.log beside the executable, one line per event.
#include "svclaunch.h"

// How long an entry waits for another process's entry to be written.
const DWORD appendTurnBoundMs = 2000;

// Takes the turn to append among all processes writing this log: an
// exclusive lock on one byte far beyond any real end of the file, so that
// readers of the file are never in its way. Waits only while another writer
// holds the turn, and then only for a bound, rather than wait on a lock that
// someone holds for good; a lock refused for any other reason (a log that is
// a device, a handle that may not lock) is not waited for at all.
static bool takeAppendTurn(HANDLE log, OVERLAPPED* turn)
{
    turn->Offset = 0;
    turn->OffsetHigh = 0x7FFFFFFF;
    DWORD start = GetTickCount();
    while (!LockFileEx(log, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, turn)) {
        if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount() - start >= appendTurnBoundMs) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

// Opens the log for appending, creating it if need be. Windows locks a byte
// range only for a handle that may read or write data, so read access is
// asked for beside appending. A log that this account may not read, or that
// another program holds open without sharing reading, is still appended to,
// without the turn.
static HANDLE openLog()
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE log =
        CreateFileA(logPath, GENERIC_READ | FILE_APPEND_DATA, share, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    // INVALID_HANDLE_VALUE is Windows' own cast of -1 to a handle.
    if (log == INVALID_HANDLE_VALUE && // NOLINT(performance-no-int-to-ptr)
        (GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_SHARING_VIOLATION)) {
        log = CreateFileA(logPath, FILE_APPEND_DATA, share, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    }
    return log;
}

// Appends message as one line, every line feed written as CR LF, as a text
// file on Windows has it. The file is opened for each entry without write
// access, so every write lands at its end, and the whole entry goes out in
// one write while this process holds the turn to append, so entries that
// other processes append at the same moment neither tear nor overwrite one
// another. A log that cannot be opened loses the entry without a word.
void writeLog(const char* message)
{
    // Room for the longest message, each of its bytes perhaps a line feed
    // that becomes CR LF, and the line end.
    char line[2 * logMessageSize + 2];
    DWORD used = 0;
    for (const char* c = message; *c != '\0'; ++c) {
        if (used >= 2 * logMessageSize - 2) {
            return; // longer than any message this program forms
        }
        if (*c == '\n') {
            line[used++] = '\r';
        }
        line[used++] = *c;
    }
    line[used++] = '\r';
    line[used++] = '\n';

    HANDLE log = openLog();
    if (log == INVALID_HANDLE_VALUE) { // NOLINT(performance-no-int-to-ptr)
        return;
    }
    OVERLAPPED turn = {};
    bool haveTurn = takeAppendTurn(log, &turn);
    DWORD written = 0;
    WriteFile(log, line, used, &written, NULL);
    if (haveTurn) {
        UnlockFileEx(log, 0, 1, 0, &turn);
    }
    CloseHandle(log);
}
