// The activity log: created by the first entry, appended to, and never a
// reason for an operation to fail.
#include "support.h"

#include <sys/stat.h>

namespace {

using stub::world;

class LogTest : public SvclaunchTest {};

TEST_F(LogTest, FirstEntryCreatesTheFileAndLaterOnesAppend)
{
    writeConfig("Svc", "target.exe");
    runVerb("install");
    EXPECT_EQ(readLog(logFile), "Installed Successfully\n");
    runVerb("install");
    EXPECT_EQ(readLog(logFile), "Installed Successfully\nAlready Exists\n");
}

TEST_F(LogTest, ExistingContentIsKept)
{
    writeConfig("Svc", "target.exe");
    writeFile(logFile, "earlier line\r\n");
    runVerb("install");
    EXPECT_EQ(readLog(logFile), "earlier line\nInstalled Successfully\n");
}

TEST_F(LogTest, UnopenableLogLosesEntriesAndChangesNothingElse)
{
    writeConfig("Svc", "target.exe");
    ASSERT_EQ(mkdir(logFile, 0755), 0); // a folder where the log would be
    runVerb();
    EXPECT_EQ(world().launches.size(), 2u);
    EXPECT_EQ(stub::reports().back().dwCurrentState, SERVICE_STOPPED);
    runVerb("install");
    EXPECT_EQ(world().services.size(), 1u);
}

TEST_F(LogTest, EntryIsWrittenAfterABoundedWaitWhenTheTurnToAppendNeverComes)
{
    writeConfig("Svc", "target.exe");
    world().appendTurnHeldElsewhere = true;
    auto start = std::chrono::steady_clock::now();
    runVerb("install");
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(readLog(logFile), "Installed Successfully\n");
    // The bound is counted in whole ticks, so it can end a fraction of one early.
    EXPECT_GE(waited, std::chrono::milliseconds(1990));
    EXPECT_LT(waited, std::chrono::milliseconds(5000));
}

TEST_F(LogTest, PercentInAMessageIsWrittenLiterally)
{
    writeConfig("100%d %s %n", "t%s.exe");
    runVerb();
    EXPECT_EQ(readLog(logFile), "100%d %s %n Created this file\nstart: box\\t%s.exe\nstop: box\\t%s.exe\n");
}

} // namespace
