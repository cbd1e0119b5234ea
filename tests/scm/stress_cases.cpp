// The service under load: bursts of stop requests, many processes writing
// the log at once, and long runs of start and stop.
#include "folder.h"
#include "harness.h"

#include <stdio.h>
#include <stdlib.h>

namespace {

const int stopsPerClient = 25;
const int stormClients = 4;

size_t countOf(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

} // namespace

// Exit code of a storm client that saw a stop request accepted while the
// service still showed RUNNING: its handler did not report STOP_PENDING.
const DWORD stopNotReported = 3;

// Sends its share of the storm. A stop request that the service accepted
// must leave it at least STOP_PENDING, since the handler reports that
// before it returns.
int stormClient(const char* service)
{
    for (int i = 0; i < stopsPerClient; ++i) {
        SERVICE_STATUS status;
        if (controlService(service, SERVICE_CONTROL_STOP, &status) == 0 && status.dwCurrentState == SERVICE_RUNNING) {
            return static_cast<int>(stopNotReported);
        }
    }
    return 0;
}

namespace {

// How one storm against a service of its own ended.
enum StormOutcome { stormStoppedOnce, stormServiceEndedBySCM, stormFailed };

// Four client processes send 25 stop requests each, at once, to a running
// service. Whatever happens, the stop sequence may run at most once, and
// every accepted request must find the service STOP_PENDING or later; when
// STOPPED is reached the sequence ran exactly once and the process ended
// cleanly.
//
// Wine 8.0's services.exe sometimes ends the service's process itself while
// concurrent controls are in flight: a trace of the wine server shows a
// services.exe thread calling TerminateProcess on it with exit code 0 right
// after "service protocol error - failed to read pipe", and the SCM then
// keeps showing RUNNING or STOP_PENDING. That outcome is told apart from a
// fault of the service's own (which would leave an accepted request
// unreported, run the stop sequence twice, end its process some other way,
// or not end it) and reported.
StormOutcome stormRound(const std::string& roundName)
{
    Folder f = installedService(roundName.c_str());
    if (!CHECK(startRunning(f.name))) {
        return stormFailed;
    }
    checkLaunches(f.path, {"start"});
    HANDLE process = serviceProcess(f.name, SYNCHRONIZE | PROCESS_QUERY_INFORMATION);
    if (!CHECK(process != NULL)) {
        return stormFailed;
    }
    std::vector<HANDLE> clients;
    for (int i = 0; i < stormClients; ++i) {
        clients.push_back(spawnProgram("\"" + folderOfThisProgram() + "\\scm_tests.exe\" --storm " + f.name));
    }
    // The service reports STOPPED before its process ends, so once the
    // process has ended the SCM's state is final.
    bool ended = WaitForSingleObject(process, waitBoundMs) == WAIT_OBJECT_0;
    bool stopped = serviceState(f.name) == SERVICE_STOPPED;
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    size_t unreported = 0;
    DWORD start = GetTickCount();
    for (HANDLE client : clients) {
        DWORD spent = GetTickCount() - start;
        DWORD clientCode = STILL_ACTIVE;
        if (WaitForSingleObject(client, spent < waitBoundMs ? waitBoundMs - spent : 0) != WAIT_OBJECT_0) {
            TerminateProcess(client, 1);
        }
        GetExitCodeProcess(client, &clientCode);
        unreported += clientCode == stopNotReported ? 1 : 0;
        CloseHandle(client);
    }
    CHECK_EQ(unreported, 0ul);

    size_t stopLines = countOf(logOf(f), "\r\nstop: ");
    size_t closeLaunches = countOf(readFile(f.path + "\\received.txt"), "close|");
    CHECK(stopLines <= 1);
    CHECK(closeLaunches <= 1);
    if (stopped) {
        checkLaunches(f.path, {"start", "close"});
        CHECK_EQ(stopLines, 1ul);
        CHECK(ended);
        CHECK_EQ(exitCode, 0ul);
        return stormStoppedOnce;
    }
    // The service ends its process on its own only after its stop sequence,
    // so an end before any of it came from outside.
    if (ended && exitCode == 0 && stopLines == 0 && closeLaunches == 0 && unreported == 0) {
        printf("%s: the SCM ended the service's process before its stop sequence\n", roundName.c_str());
        return stormServiceEndedBySCM;
    }
    CHECK(ended);
    CHECK(stopped);
    return stormFailed;
}

} // namespace

// A storm again on a fresh service when the SCM ended the last one; this
// happened in 6 of 240 runs under Wine 8.0 here, both builds.
SCM_CASE(StopStormRunsTheStopSequenceOnce)
{
    const int rounds = 3;
    for (int round = 1; round <= rounds; ++round) {
        if (stormRound(std::string(__func__) + std::to_string(round)) != stormServiceEndedBySCM) {
            return;
        }
    }
    recordFailure(__FILE__, __LINE__, "the SCM ended the service's process in every round");
}

SCM_CASE(ConcurrentInstallsAndRemovesKeepEveryLogLineWhole)
{
    Folder f = installedService(__func__);
    REQUIRE(startRunning(f.name));
    checkLaunches(f.path, {"start"});

    const int pairs = 25;
    std::vector<HANDLE> processes;
    for (int i = 0; i < pairs; ++i) {
        processes.push_back(spawnProgram(f.exe + " install"));
        processes.push_back(spawnProgram(f.exe + " remove"));
    }
    CHECK_EQ(waitForAll(processes), 2ul * pairs);
    REQUIRE(stopStopped(f.name));

    std::string log = logOf(f);
    std::string run = f.name + " Created this file\r\nstart: " + f.path + "\\target.exe\r\n";
    REQUIRE(CHECK_EQ(log.substr(0, 24 + run.size()), "Installed Successfully\r\n" + run));
    size_t exists = 0;
    size_t running = 0;
    size_t stops = 0;
    size_t start = 24 + run.size();
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string line = log.substr(start, end - start);
        if (line == "Already Exists") {
            ++exists;
        } else if (line == " is still Running.") {
            ++running;
        } else if (line == "stop: " + f.path + "\\target.exe") {
            ++stops;
        } else {
            recordFailure(__FILE__, __LINE__, "torn or foreign line: \"" + visible(line) + "\"");
        }
    }
    CHECK_EQ(log.substr(start), "");
    CHECK_EQ(exists, static_cast<unsigned long>(pairs));
    CHECK_EQ(running, static_cast<unsigned long>(pairs));
    CHECK_EQ(stops, 1ul);
}

// SVCLAUNCH_SOAK_CYCLES start/stop cycles of one service (20 by default):
// afterwards service.log holds exactly three lines a cycle, in order, and
// the target received "start" and "close" alternately, one pair a cycle.
SCM_CASE(SoakStartStopCycles)
{
    const char* setting = getenv("SVCLAUNCH_SOAK_CYCLES");
    int cycles = setting != NULL && atoi(setting) > 0 ? atoi(setting) : 20;
    Folder f = installedService(__func__);
    REQUIRE(DeleteFileA((f.path + "\\service.log").c_str()));

    std::vector<std::string> launches;
    DWORD started = GetTickCount();
    for (int cycle = 0; cycle < cycles; ++cycle) {
        REQUIRE(startAndStop(f, launches));
        REQUIRE(!caseFailed());
    }
    DWORD spent = GetTickCount() - started;

    std::string run =
        f.name + " Created this file\r\nstart: " + f.path + "\\target.exe\r\nstop: " + f.path + "\\target.exe\r\n";
    std::string want;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        want += run;
    }
    std::string log = logOf(f);
    CHECK(log == want); // whole lines only, in name/start/stop order
    printf("%d cycles in %lu ms; service.log has %lu lines; the target received %lu launches\n", cycles,
           static_cast<unsigned long>(spent), static_cast<unsigned long>(countOf(log, "\r\n")),
           static_cast<unsigned long>(launches.size()));
}
