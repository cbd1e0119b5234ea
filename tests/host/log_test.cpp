// The activity log: created by the first entry, appended to, and never a
// reason for an operation to fail.
#include "support.h"

#include <sys/stat.h>

namespace {

using stub::world;

class LogTest : public SvclaunchTest {};

// While an entry is written, whoever reads the log from its start (type,
// Get-Content, a monitoring agent) is not refused: the turn to append is a
// lock on one byte far beyond the file's end, asked to fail at once, and
// another writer that asks for it meanwhile is refused.
TEST_F(LogTest, FirstEntryCreatesTheFileAndLaterOnesAppend)
{
    writeConfig("Svc", "target.exe");
    std::vector<DWORD> readErrors;
    world().files.onLogWrite = [&readErrors] {
        EXPECT_EQ(world().files.lockStart, 0x7FFFFFFF00000000u);
        EXPECT_EQ(world().files.lockLength, 1u);
        EXPECT_EQ(world().files.lockFlags, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY);
        const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        HANDLE reader =
            CreateFileA(logFile, GENERIC_READ | FILE_APPEND_DATA, shareAll, nullptr, OPEN_ALWAYS, 0, nullptr);
        char first = 0;
        DWORD read = 0;
        readErrors.push_back(ReadFile(reader, &first, 1, &read, nullptr) ? 0 : GetLastError());
        OVERLAPPED turn = {};
        turn.OffsetHigh = 0x7FFFFFFF;
        readErrors.push_back(LockFileEx(reader, world().files.lockFlags, 0, 1, 0, &turn) ? 0 : GetLastError());
        CloseHandle(reader);
    };
    DWORD start = stub::clockNow();
    runVerb("install");
    EXPECT_EQ(readLog(logFile), "Installed Successfully\n");
    runVerb("install");
    EXPECT_EQ(readLog(logFile), "Installed Successfully\nAlready Exists\n");
    // Each entry took the turn to append at once: no wait, no entry unlocked.
    EXPECT_EQ(world().files.locksGranted, 2);
    EXPECT_EQ(stub::clockNow() - start, 0u);
    EXPECT_EQ(readErrors, (std::vector<DWORD>{0, ERROR_LOCK_VIOLATION, 0, ERROR_LOCK_VIOLATION}));
}

TEST_F(LogTest, ExistingContentIsKept)
{
    writeConfig("Svc", "target.exe");
    writeFile(logFile, "earlier line\r\n");
    runVerb("install");
    EXPECT_EQ(readLog(logFile), "earlier line\nInstalled Successfully\n");
}

// Other processes may hold the log open at the same moment: another
// svclaunch appending, or a program that shares reading and writing but not
// deleting. Windows refuses an open whose share mode conflicts with theirs,
// and the entry would be lost.
TEST_F(LogTest, EntryIsWrittenWhileOthersHoldTheLogOpen)
{
    writeConfig("Svc", "target.exe");
    writeFile(logFile, "");
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE writer = CreateFileA(logFile, GENERIC_READ | FILE_APPEND_DATA, shareAll, nullptr, OPEN_ALWAYS, 0, nullptr);
    HANDLE reader = CreateFileA(logFile, GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    runVerb("install");
    CloseHandle(reader);
    CloseHandle(writer);
    // One that shares only writing leaves no way to lock: the entry goes out all the same.
    HANDLE appender = CreateFileA(logFile, FILE_APPEND_DATA, FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(appender, INVALID_HANDLE_VALUE);
    runVerb("install");
    CloseHandle(appender);
    EXPECT_EQ(readLog(logFile), "Installed Successfully\nAlready Exists\n");
    EXPECT_EQ(world().files.locksGranted, 1);
}

TEST_F(LogTest, UnopenableLogLosesEntriesAndChangesNothingElse)
{
    writeConfig("Svc", "target.exe");
    ASSERT_EQ(mkdir(logFile, 0755), 0); // a folder where the log would be
    runVerb();
    EXPECT_EQ(world().process.launches.size(), 2u);
    EXPECT_EQ(stub::reports().back().dwCurrentState, SERVICE_STOPPED);
    runVerb("install");
    EXPECT_EQ(world().scm.services.size(), 1u);
}

// Only another writer holding the turn is waited for, and only for a bound;
// a lock that fails for any other reason (a log that is a device, say) is
// not waited for at all. Either way the entry is written.
TEST_F(LogTest, EntryWaitsABoundedTimeOnlyWhileAnotherWriterHoldsTheTurn)
{
    writeConfig("Svc", "target.exe");
    const struct {
        bool heldElsewhere;
        DWORD lockError;
        DWORD waitMs;
    } cases[] = {
        {true, 0, 2000},
        {false, ERROR_INVALID_FUNCTION, 0},
        {false, ERROR_ACCESS_DENIED, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lockError);
        nextRun();
        writeFile(logFile, "");
        world().files.appendTurnHeldElsewhere = c.heldElsewhere;
        if (c.lockError != 0) { // a lock that fails for a reason of its own (a device, say)
            world().failingCalls["LockFileEx"] = c.lockError;
        }
        DWORD start = stub::clockNow();
        runVerb("install");
        EXPECT_EQ(readLog(logFile), "Installed Successfully\n");
        EXPECT_EQ(stub::clockNow() - start, c.waitMs);
    }
}

TEST_F(LogTest, PercentInAMessageIsWrittenLiterally)
{
    writeConfig("100%d %s %n", "t%s.exe");
    runVerb();
    EXPECT_EQ(readLog(logFile), "100%d %s %n Created this file\nstart: box\\t%s.exe\nstop: box\\t%s.exe\n");
}

} // namespace
