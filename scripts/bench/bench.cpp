// Measures svclaunch against two floors under a real SCM: the time from
// StartService until RUNNING and from the stop request until STOPPED, over
// interleaved cycles; the CPU time svclaunch's process uses while idle; and
// its working set against the no-op floor's.
// Usage: bench.exe [cycles] [pause after RUNNING in ms]
#include "platform.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

const char* const root = "C:\\svclaunch-bench";
const DWORD pauseAfterStopMs = 300; // lets a launched program finish before the next start
// Lets the start launch finish before the stop is timed, as a service runs
// for a while before it is stopped; 0 stops it as soon as RUNNING is seen.
DWORD pauseAfterRunningMs = 300;

struct Subject {
    const char* label;
    std::string name;
    std::vector<double> startMs;
    std::vector<double> stopMs;
};

LARGE_INTEGER frequency;

double nowMs()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void fail(const std::string& what)
{
    printf("bench failed: %s (error %lu)\n", what.c_str(), static_cast<unsigned long>(GetLastError()));
    exit(1);
}

SC_HANDLE openService(const std::string& name, DWORD access)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name.c_str(), access) : NULL;
    if (manager) {
        CloseServiceHandle(manager);
    }
    return service;
}

DWORD stateOf(SC_HANDLE service)
{
    SERVICE_STATUS status;
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

// The timed wait: polls a handle already open, every millisecond, so that
// the figure does not include opening the SCM at each poll.
bool waitFor(SC_HANDLE service, DWORD state)
{
    DWORD start = GetTickCount();
    while (stateOf(service) != state) {
        if (GetTickCount() - start > waitBoundMs) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

void cycle(Subject& subject)
{
    SC_HANDLE service = openService(subject.name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service == NULL) {
        fail("open " + subject.name);
    }
    double t0 = nowMs();
    if (!StartServiceA(service, 0, NULL) || !waitFor(service, SERVICE_RUNNING)) {
        fail("start " + subject.name);
    }
    double t1 = nowMs();
    Sleep(pauseAfterRunningMs);
    double stopRequested = nowMs();
    SERVICE_STATUS status;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) || !waitFor(service, SERVICE_STOPPED)) {
        fail("stop " + subject.name);
    }
    double t2 = nowMs();
    CloseServiceHandle(service);
    subject.startMs.push_back(t1 - t0);
    subject.stopMs.push_back(t2 - stopRequested);
    Sleep(pauseAfterStopMs);
}

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    double at = p * static_cast<double>(values.size() - 1);
    size_t low = static_cast<size_t>(at);
    size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (at - static_cast<double>(low));
}

// The running service's process, opened for its times and memory.
double cpuMs(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return -1;
    }
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 10000.0;
}

double workingSetKb(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters;
    return GetProcessMemoryInfo(process, &counters, sizeof counters)
               ? static_cast<double>(counters.WorkingSetSize) / 1024.0
               : -1;
}

void copyInto(const std::string& from, const std::string& folder, const std::string& as)
{
    if (!makeDirectories(folder) || !copyFile(from, folder + "\\" + as)) {
        fail("copy " + from);
    }
}

// Starts the service, or stops it, outside the timed cycles.
void startOnly(const std::string& name)
{
    if (startService(name) != 0 || !waitForState(name, SERVICE_RUNNING)) {
        fail("start " + name);
    }
}

void stopOnly(const std::string& name)
{
    if (controlService(name, SERVICE_CONTROL_STOP) != 0 || !waitForState(name, SERVICE_STOPPED)) {
        fail("stop " + name);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    int cycles = argc > 1 && atoi(argv[1]) > 0 ? atoi(argv[1]) : 30;
    if (argc > 2) {
        pauseAfterRunningMs = static_cast<DWORD>(atoi(argv[2]));
    }
    QueryPerformanceFrequency(&frequency);
    std::string here = folderOfThisProgram();
    std::string base = root;
    copyInto(here + "\\svclaunch.exe", base + "\\svclaunch", "svclaunch.exe");
    copyInto(here + "\\recording_target.exe", base + "\\svclaunch", "target.exe");
    copyInto(here + "\\noop_service.exe", base + "\\noop", "noop_service.exe");
    copyInto(here + "\\launch_service.exe", base + "\\launch", "launch_service.exe");
    copyInto(here + "\\recording_target.exe", base + "\\launch", "target.exe");
    if (!writeFile(base + "\\svclaunch\\service.cnf", "SvclaunchBench\r\ntarget.exe\r\n")) {
        fail("write service.cnf");
    }

    Subject subjects[] = {{"svclaunch", "SvclaunchBench", {}, {}},
                          {"no-op floor", "SvclaunchBenchNoop", {}, {}},
                          {"launch floor", "SvclaunchBenchLaunch", {}, {}}};
    for (Subject& s : subjects) {
        forceRemove(s.name);
    }
    if (!runProgram(base + "\\svclaunch\\svclaunch.exe install").finished ||
        createOtherService(subjects[1].name, subjects[1].name, "\"" + base + "\\noop\\noop_service.exe\"") != 0 ||
        createOtherService(subjects[2].name, subjects[2].name,
                           "\"" + base + "\\launch\\launch_service.exe\" \"" + base + "\\launch\\target.exe\"") != 0) {
        fail("install the three services");
    }

    for (int i = 0; i < cycles; ++i) {
        for (Subject& s : subjects) {
            cycle(s);
        }
    }

    // Idle: CPU over 10 s of svclaunch running, and both working sets.
    startOnly(subjects[0].name);
    startOnly(subjects[1].name);
    Sleep(1000);
    HANDLE svclaunch = serviceProcess(subjects[0].name, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
    HANDLE noop = serviceProcess(subjects[1].name, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
    double cpuBefore = cpuMs(svclaunch);
    Sleep(10000);
    double idleCpu = cpuMs(svclaunch) - cpuBefore;
    double svclaunchKb = workingSetKb(svclaunch);
    double noopKb = workingSetKb(noop);
    CloseHandle(svclaunch);
    CloseHandle(noop);
    stopOnly(subjects[0].name);
    stopOnly(subjects[1].name);
    for (Subject& s : subjects) {
        forceRemove(s.name);
    }

    printf("%d interleaved cycles each, %lu ms pause after RUNNING and %lu ms after each stop; times in ms\n", cycles,
           static_cast<unsigned long>(pauseAfterRunningMs), static_cast<unsigned long>(pauseAfterStopMs));
    printf("%-13s %9s %17s %9s %17s\n", "", "start p50", "start p25-p75", "stop p50", "stop p25-p75");
    for (Subject& s : subjects) {
        printf("%-13s %9.1f %8.1f-%-8.1f %9.1f %8.1f-%-8.1f\n", s.label, percentile(s.startMs, 0.5),
               percentile(s.startMs, 0.25), percentile(s.startMs, 0.75), percentile(s.stopMs, 0.5),
               percentile(s.stopMs, 0.25), percentile(s.stopMs, 0.75));
    }
    double startRatio = percentile(subjects[0].startMs, 0.5) / percentile(subjects[1].startMs, 0.5);
    double stopRatio = percentile(subjects[0].stopMs, 0.5) / percentile(subjects[2].stopMs, 0.5);
    printf("start: svclaunch / no-op floor = %.2f (target <= 1.10)\n", startRatio);
    printf("stop:  svclaunch / launch floor = %.2f (target <= 1.25)\n", stopRatio);
    printf("idle:  svclaunch used %.1f ms of CPU in 10 s (target 0); %.1f ms since it started\n", idleCpu,
           cpuBefore + idleCpu);
    printf("memory: working set svclaunch %.0f KB, no-op floor %.0f KB\n", svclaunchKb, noopKb);
    return 0;
}
