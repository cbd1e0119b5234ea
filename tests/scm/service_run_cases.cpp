// The service under the real SCM: its states, the target's launches and the
// lines in service.log.
#include "folder.h"
#include "harness.h"

#include <stdio.h>

// service.cnf as Notepad saves it "UTF-8 with BOM": the mark is no part of the name.
SCM_CASE(WholeLifeCycle)
{
    Folder f = layOut(__func__);
    placeTarget(f);
    writeConfig(f, "\xEF\xBB\xBF" + f.name + "\r\ntarget.exe\r\n");

    runSvclaunch(f, "install");
    REQUIRE(CHECK_EQ(serviceState(f.name), SERVICE_STOPPED));
    checkScriptVerdict(f, true, "Installed Successfully");
    REQUIRE(startAndStopOnce(f));
    runSvclaunch(f, "remove");
    CHECK_NOT_REGISTERED(f.name);
    checkScriptVerdict(f, false, "Removed Successfully");

    std::string target = f.path + "\\target.exe";
    CHECK_EQ(logOf(f), "Installed Successfully\r\n" + f.name + " Created this file\r\nstart: " + target +
                           "\r\nstop: " + target + "\r\nRemoved Successfully\r\n");
}

SCM_CASE(InterrogateAndRefusedPauseLeaveTheServiceRunning)
{
    Folder f = installedService(__func__);
    REQUIRE(startRunning(f.name));

    SERVICE_STATUS status;
    CHECK_EQ(controlService(f.name, SERVICE_CONTROL_INTERROGATE, &status), 0ul);
    CHECK_EQ(status.dwCurrentState, SERVICE_RUNNING);
    CHECK_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
    CHECK_EQ(controlService(f.name, SERVICE_CONTROL_PAUSE), ERROR_INVALID_SERVICE_CONTROL);
    CHECK_EQ(serviceState(f.name), SERVICE_RUNNING);

    checkLaunches(f.path, {"start"});
    REQUIRE(stopStopped(f.name));
    checkLaunches(f.path, {"start", "close"});
}

// The shell starts nothing for a target that is not there, and shows no
// dialog: the service runs and stops all the same.
SCM_CASE(AMissingTargetShowsNoDialog)
{
    Folder f = layOut(__func__);
    writeConfig(f, f.name + "\nnot-there.exe\n");
    runSvclaunch(f, "install");
    REQUIRE(startRunning(f.name));
    REQUIRE(stopStopped(f.name));
    std::string target = f.path + "\\not-there.exe";
    CHECK_EQ(logOf(f), "Installed Successfully\r\n" + f.name + " Created this file\r\nstart: " + target +
                           "\r\nstop: " + target + "\r\n");
}

// A target that came from the Internet carries a Zone.Identifier stream, for
// which the shell would ask whether to run it, on a desktop nobody sees.
SCM_CASE(DownloadedTargetStartsAndStops)
{
    Folder f = layOut(__func__);
    placeTarget(f);
    writeConfig(f, f.name + "\ntarget.exe\n");
    std::string zone = f.path + "\\target.exe:Zone.Identifier";
    const std::string internet = "[ZoneTransfer]\r\nZoneId=3\r\n";
    DWORD flags = 0;
    if (!GetVolumeInformationA(f.path.substr(0, 3).c_str(), NULL, 0, NULL, NULL, &flags, NULL, 0) ||
        (flags & FILE_NAMED_STREAMS) == 0 || !writeFile(zone, internet) || readFile(zone) != internet) {
        skipCase("the file system here keeps no Zone.Identifier stream");
        return;
    }
    runSvclaunch(f, "install");
    CHECK(startAndStopOnce(f));
}

// With the path unquoted, the SCM would run "...\with.exe" in place of
// "...\with blank\svclaunch.exe" as LocalSystem.
SCM_CASE(FolderWithABlankRunsTheRightExecutable)
{
    Folder f = layOut(__func__, "with blank");
    std::string decoyFolder = suiteRoot() + "\\" + __func__;
    CHECK(copyFile(folderOfThisProgram() + "\\recording_target.exe", decoyFolder + "\\with.exe"));
    placeTarget(f);
    writeConfig(f, f.name + "\ntarget.exe\n");

    runCommandLine("\"" + f.exe + "\" install"); // quoted, as typed for a path with blanks
    CHECK_EQ(registryString(f.name, "ImagePath"), "\"" + f.exe + "\"");
    REQUIRE(startAndStopOnce(f));
    CHECK(!fileExists(decoyFolder + "\\received.txt"));
    CHECK(logOf(f).find("start: " + f.path + "\\target.exe\r\n") != std::string::npos);
}

namespace {

struct StepTimes {
    DWORD install; // a second install: one log line, "Already Exists"
    DWORD remove;  // remove while the service runs: one log line, " is still Running."
};

// Installs the service of folder f, starts and stops it, and times two runs
// of svclaunch.exe whose work is one log entry each. A first run of the
// executable, a cold service start and the first load of shell32 (and, on a
// real machine, an antivirus scan of freshly copied files) come before
// them, untimed.
bool timeSteps(const Folder& f, StepTimes& times)
{
    placeTarget(f);
    writeConfig(f, f.name + "\r\ntarget.exe\r\n");
    runSvclaunch(f, "install");
    DWORD start = GetTickCount();
    runSvclaunch(f, "install");
    times.install = GetTickCount() - start;
    if (!CHECK_EQ(startService(f.name), 0ul)) {
        return false;
    }
    checkLaunches(f.path, {"start"});
    start = GetTickCount();
    runSvclaunch(f, "remove");
    times.remove = GetTickCount() - start;
    if (!stopStopped(f.name)) {
        return false;
    }
    printf("%s: second install %lu ms, remove while running %lu ms\n", f.path.c_str(),
           static_cast<unsigned long>(times.install), static_cast<unsigned long>(times.remove));
    return true;
}

} // namespace

// A log entry waits only while another writer holds the turn to append, and
// then at most 2 s: every timed run here logs with nobody else writing, so
// none may come near that bound on the platform's own locks.
SCM_CASE(LogEntriesWaitOnlyForAnotherWriter)
{
    const DWORD lockBoundMs = 2000;
    Folder ordinary = layOut(__func__);
    StepTimes plain;
    REQUIRE(timeSteps(ordinary, plain));
    CHECK(plain.install < lockBoundMs && plain.remove < lockBoundMs);
    std::string target = ordinary.path + "\\target.exe";
    CHECK_EQ(logOf(ordinary), "Installed Successfully\r\nAlready Exists\r\n" + ordinary.name +
                                  " Created this file\r\nstart: " + target +
                                  "\r\n is still Running.\r\nstop: " + target + "\r\n");
}
