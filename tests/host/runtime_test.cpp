// Service mode: the status records the SCM is shown, the control requests,
// the launches of the target program and the log lines they leave.
#include "support.h"

#include <shellapi.h>

#include <atomic>
#include <thread>

namespace {

using stub::world;

struct Shown {
    DWORD state;
    DWORD controls;
    DWORD exitCode;
    bool operator==(const Shown& other) const
    {
        return state == other.state && controls == other.controls && exitCode == other.exitCode;
    }
};

std::ostream& operator<<(std::ostream& out, const Shown& s)
{
    return out << "{state " << s.state << ", controls " << s.controls << ", exit " << s.exitCode << "}";
}

const Shown startPending{SERVICE_START_PENDING, 0, 0};
const Shown running{SERVICE_RUNNING, 5, 0};
const Shown stopPending{SERVICE_STOP_PENDING, 5, 0};
const Shown stopped{SERVICE_STOPPED, 0, 0};

// The reports as state, controls and exit code, after checking the fields
// that never change.
std::vector<Shown> shown()
{
    std::vector<Shown> result;
    for (const SERVICE_STATUS& s : stub::reports()) {
        EXPECT_EQ(s.dwServiceType, SERVICE_WIN32);
        EXPECT_EQ(s.dwServiceSpecificExitCode, 0u);
        EXPECT_EQ(s.dwCheckPoint, 0u);
        EXPECT_EQ(s.dwWaitHint, 0u);
        result.push_back({s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode});
    }
    return result;
}

std::vector<std::string> launchParameters()
{
    std::vector<std::string> result;
    for (const stub::Launch& launch : world().process.launches) {
        result.push_back(launch.parameters);
    }
    return result;
}

// True when the reports go from START_PENDING through RUNNING to STOPPED,
// and nothing but STOPPED follows the first STOPPED: a late stop request may
// repeat the record but never reopen the stop sequence.
::testing::AssertionResult endsInStoppedOnly(const std::vector<Shown>& reports)
{
    if (reports.size() < 5 || !(reports[0] == startPending) || !(reports[1] == running)) {
        return ::testing::AssertionFailure() << "does not start as START_PENDING, RUNNING";
    }
    size_t firstStopped = 2;
    while (firstStopped < reports.size() && !(reports[firstStopped] == stopped)) {
        if (!(reports[firstStopped] == running || reports[firstStopped] == stopPending)) {
            return ::testing::AssertionFailure() << "unexpected report " << reports[firstStopped];
        }
        ++firstStopped;
    }
    if (firstStopped == reports.size()) {
        return ::testing::AssertionFailure() << "never STOPPED";
    }
    for (size_t i = firstStopped; i < reports.size(); ++i) {
        if (!(reports[i] == stopped)) {
            return ::testing::AssertionFailure() << reports[i] << " after STOPPED at report " << i;
        }
    }
    return ::testing::AssertionSuccess();
}

const char* const usualLog = "Svc Created this file\nstart: box\\target.exe\nstop: box\\target.exe\n";

// A run from start to stop, in order: each log line after the launch it
// tells of, the handler's STOP_PENDING before the "close" launch, STOPPED last.
const std::vector<std::string> usualTimeline{
    "report 2", "report 4",     "log Svc Created this file", "launch start", "log start: box\\target.exe",
    "report 3", "launch close", "log stop: box\\target.exe", "report 3",     "report 1"};

class RuntimeTest : public SvclaunchTest {
protected:
    void SetUp() override
    {
        SvclaunchTest::SetUp();
        writeConfig("Svc", "target.exe");
    }

    // Runs service mode; driver plays the SCM once the service thread runs.
    void runService(std::function<void()> driver)
    {
        world().scm.scmDriver = std::move(driver);
        runVerb();
    }

    // A driver that waits until the service runs and has launched the
    // target, sends controls, and checks each was delivered.
    static std::function<void()> whenRunningSend(std::vector<DWORD> controls)
    {
        return [controls] {
            ASSERT_TRUE(stub::waitForEntry("log start: box\\target.exe"))
                << "the service never logged its start: " << timelineSeen();
            for (DWORD control : controls) {
                EXPECT_TRUE(stub::deliverControl(control));
            }
        };
    }
};

// --- start and stop ---

// Nobody can answer a window on a service's desktop: a target that came from
// the Internet, or one that is not there, is launched without the shell's
// zone prompt or error box (the stand-in counts any such window as a fault).
// A stop and a shutdown end the service alike; start parameters are
// ignored; a second run appends the same three lines.
TEST_F(RuntimeTest, StartThenStopOrShutdownLaunchesStartAndCloseAndLogsThreeLines)
{
    for (DWORD control : {SERVICE_CONTROL_STOP, SERVICE_CONTROL_SHUTDOWN, SERVICE_CONTROL_STOP}) {
        SCOPED_TRACE(control);
        nextRun();
        world().process.downloadedFiles.insert("box\\target.exe");
        world().security.missingPaths.insert("box\\target.exe");
        world().scm.startParameters = {"install", "close", "--anything"};
        runService(whenRunningSend({control}));

        EXPECT_EQ(shown(), (std::vector<Shown>{startPending, running, stopPending, stopPending, stopped}));
        EXPECT_EQ(stub::timeline(), usualTimeline);
        for (const stub::Launch& launch : world().process.launches) {
            EXPECT_FALSE(launch.hasWindow);
            EXPECT_EQ(launch.operation, "open");
            EXPECT_EQ(launch.file, "box\\target.exe");
            EXPECT_FALSE(launch.hasDirectory);
            EXPECT_EQ(launch.show, SW_HIDE);
            EXPECT_EQ(launch.mask, SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS);
        }
        EXPECT_EQ(world().scm.dispatchedName, "Svc");
        EXPECT_EQ(world().scm.handlerName, "Svc");
        EXPECT_TRUE(world().scm.tableEndsWithNullEntry);
        // The shell is loaded once, by its full path in the system folder.
        EXPECT_EQ(world().process.loadedLibraries, std::vector<std::string>{"C:\\WINNT\\system32\\shell32.dll"});
        EXPECT_TRUE(world().security.securityQueries.empty());
    }
    EXPECT_EQ(readLog(logFile), std::string(usualLog) + usualLog + usualLog);
}

// The shells that predate the zone check do not know its flag: NT 4.0's own
// (no DllGetVersion), NT 4.0's with Internet Explorer 4 (4) and Windows
// 2000's (5). Any other version, 0 included, is taken for a newer shell.
TEST_F(RuntimeTest, EachShellVersionGetsTheMaskItKnows)
{
    const ULONG noUi = SEE_MASK_FLAG_NO_UI;
    const ULONG noUiNoZoneCheck = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS;
    const struct {
        DWORD version;
        ULONG mask;
    } shells[] = {{stub::noDllGetVersion, noUi}, {4, noUi},           {5, noUi}, {6, noUiNoZoneCheck},
                  {10, noUiNoZoneCheck},         {0, noUiNoZoneCheck}};
    for (const auto& shell : shells) {
        nextRun();
        world().process.shellVersion = shell.version;
        runService(whenRunningSend({SERVICE_CONTROL_STOP}));
        ASSERT_EQ(launchParameters(), (std::vector<std::string>{"start", "close"})) << shell.version;
        EXPECT_EQ(world().process.launches[0].mask, shell.mask) << shell.version;
        EXPECT_EQ(world().process.launches[1].mask, shell.mask) << shell.version;
    }
}

// --- other control requests ---

TEST_F(RuntimeTest, InterrogatePauseContinueAndUnknownCodesOnlyReportTheRecordUnchanged)
{
    runService(whenRunningSend(
        {SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE, 200, SERVICE_CONTROL_STOP}));

    EXPECT_EQ(shown(), (std::vector<Shown>{startPending, running, running, running, running, running, stopPending,
                                           stopPending, stopped}));
    EXPECT_EQ(launchParameters(), (std::vector<std::string>{"start", "close"}));
    EXPECT_EQ(readLog(logFile), usualLog);
}

TEST_F(RuntimeTest, RepeatedStopRunsTheStopSequenceOnce)
{
    runService(whenRunningSend({SERVICE_CONTROL_STOP, SERVICE_CONTROL_STOP, SERVICE_CONTROL_SHUTDOWN}));

    EXPECT_TRUE(endsInStoppedOnly(shown()));
    EXPECT_EQ(launchParameters(), (std::vector<std::string>{"start", "close"}));
    EXPECT_EQ(readLog(logFile), usualLog);
}

// After STOPPED the status handle may be gone: a late request is left
// unanswered (the stand-in counts any report after STOPPED as a fault).
TEST_F(RuntimeTest, RequestsAfterStoppedReportNothingAndSignalNothing)
{
    runService([] {
        ASSERT_TRUE(stub::waitForState(SERVICE_RUNNING));
        stub::deliverControl(SERVICE_CONTROL_STOP);
        ASSERT_TRUE(stub::waitForState(SERVICE_STOPPED));
        stub::deliverControl(SERVICE_CONTROL_STOP);
        stub::deliverControl(SERVICE_CONTROL_SHUTDOWN);
        stub::deliverControl(SERVICE_CONTROL_INTERROGATE);
    });
    EXPECT_EQ(shown(), (std::vector<Shown>{startPending, running, stopPending, stopPending, stopped}));
}

TEST_F(RuntimeTest, StopRacingTheStopSequenceNeverFollowsStopped)
{
    for (int round = 0; round < 200; ++round) {
        nextRun();
        runService([] {
            ASSERT_TRUE(stub::waitForState(SERVICE_RUNNING));
            std::atomic<bool> go{false};
            std::thread second([&] {
                while (!go) {
                }
                for (int i = 0; i < 20; ++i) {
                    stub::deliverControl(i % 2 ? SERVICE_CONTROL_SHUTDOWN : SERVICE_CONTROL_STOP);
                }
            });
            go = true;
            for (int i = 0; i < 20; ++i) {
                stub::deliverControl(SERVICE_CONTROL_STOP);
            }
            second.join();
        });
        ASSERT_TRUE(endsInStoppedOnly(shown())) << "round " << round;
        ASSERT_EQ(launchParameters(), (std::vector<std::string>{"start", "close"})) << "round " << round;
        ASSERT_EQ(world().badHandleUses, 0) << "round " << round;
    }
}

// --- failures ---

// Each way the service's life can end otherwise than by a stop request:
// what it reported, launched and logged. A broken connection to the SCM
// (before the service thread has even begun, too) is answered with the
// ordinary stop, so that the target is always closed; the entry point
// returns only after it has run. Found by the fuzzer: a late service thread
// once used a closed event.
TEST_F(RuntimeTest, EachOtherEndingReportsLaunchesAndLogsOnlyWhatItReached)
{
    const std::vector<Shown> usualReports = {startPending, running, stopPending, stopPending, stopped};
    const std::vector<std::string> startAndClose = {"start", "close"};
    const struct {
        const char* what;
        std::function<void()> arrange;
        std::function<void()> driver;
        std::vector<Shown> reports;
        std::vector<std::string> launches;
        const char* log; // nullptr: none written
    } cases[] = {
        {"not started by the SCM", [] { world().scm.startedByScm = false; }, [] {}, {}, {}, nullptr},
        {"the handler cannot be registered",
         [] { world().failingCalls["RegisterServiceCtrlHandlerA"] = ERROR_INVALID_HANDLE; },
         [] {},
         {},
         {},
         nullptr},
        {"no stop event",
         [] { world().failingCalls["CreateEventA"] = ERROR_NOT_ENOUGH_MEMORY; },
         [] {},
         {startPending, {SERVICE_STOPPED, 0, ERROR_NOT_ENOUGH_MEMORY}},
         {},
         nullptr},
        {"shell32 cannot be loaded",
         [] { world().process.unloadableLibraries.insert("shell32.dll"); },
         whenRunningSend({SERVICE_CONTROL_STOP}),
         usualReports,
         {},
         usualLog},
        {"the connection breaks while it runs", [] { world().scm.connectionBreaks = true; },
         [] { ASSERT_TRUE(stub::waitForState(SERVICE_RUNNING)); }, usualReports, startAndClose, usualLog},
        {"the connection breaks before the service thread begins",
         [] {
             world().scm.connectionBreaks = true;
             world().scm.serviceStartsLate = true;
         },
         [] {}, usualReports, startAndClose, usualLog},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        nextRun();
        remove(logFile);
        c.arrange();
        runService(c.driver);
        stub::joinServiceThread();
        EXPECT_EQ(shown(), c.reports);
        EXPECT_EQ(launchParameters(), c.launches);
        EXPECT_EQ(fileExists(logFile) ? readLog(logFile) : "(none)", c.log != nullptr ? c.log : "(none)");
    }
}

// The main thread gives a stop sequence that hangs (in a launch, say) 30 s
// after the dispatcher has returned, then lets the process end.
TEST_F(RuntimeTest, LostConnectionWaitsAtMost30SecondsForTheStopSequence)
{
    world().scm.connectionBreaks = true;
    std::atomic<bool> closeLaunched{false};
    std::atomic<bool> releaseClose{false};
    world().process.onLaunch = [&](const std::string& parameters) {
        if (parameters == "close") {
            closeLaunched = true;
            while (!releaseClose) {
                std::this_thread::yield();
            }
        }
    };
    std::atomic<bool> returned{false};
    std::thread entryPoint([&] {
        runService([] { ASSERT_TRUE(stub::waitForState(SERVICE_RUNNING)); });
        returned = true;
    });
    // Whether done() holds within bound of real time.
    auto within = [](std::chrono::milliseconds bound, const std::function<bool()>& done) {
        auto end = std::chrono::steady_clock::now() + bound;
        while (!done() && std::chrono::steady_clock::now() < end) {
            std::this_thread::yield();
        }
        return done();
    };
    ASSERT_TRUE(within(std::chrono::seconds(10), [&] { return closeLaunched.load(); }));
    ASSERT_TRUE(within(std::chrono::seconds(10), [] { return stub::waitsOnTheClock() == 1; }))
        << "the entry point is not waiting for the service thread";
    stub::advanceClock(29999);
    EXPECT_FALSE(within(std::chrono::milliseconds(50), [&] { return returned.load(); })) << "returned before 30 s";
    stub::advanceClock(1);
    EXPECT_TRUE(within(std::chrono::seconds(10), [&] { return returned.load(); })) << "still waiting after 30 s";
    releaseClose = true;
    entryPoint.join();
    stub::joinServiceThread();
    EXPECT_EQ(shown(), (std::vector<Shown>{startPending, running, stopPending, stopPending, stopped}));
    stub::reset(); // the process ends here, and the event left to the late thread with it
}

TEST_F(RuntimeTest, LostConnectionBeforeRunningStillClosesWhatWasStarted)
{
    world().scm.connectionBreaks = true;
    runService([] { ASSERT_TRUE(stub::waitForState(SERVICE_START_PENDING)); });

    stub::joinServiceThread();
    std::vector<Shown> reports = shown();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), stopped);
    EXPECT_EQ(launchParameters().size() % 2, 0u); // every "start" has its "close"
}

} // namespace
