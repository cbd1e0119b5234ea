// The service under the real SCM: its states, the target's launches and the
// lines in service.log.
#include "folder.h"
#include "harness.h"

SCM_CASE(WholeLifeCycle)
{
    Folder f = layOut(__func__);
    placeTarget(f);
    writeConfig(f, f.name + "\r\ntarget.exe\r\n");

    runSvclaunch(f, "install");
    REQUIRE(CHECK_EQ(serviceState(f.name), static_cast<unsigned long>(SERVICE_STOPPED)));
    REQUIRE(startAndStopOnce(f));
    runSvclaunch(f, "remove");
    CHECK_EQ(openServiceError(f.name), static_cast<unsigned long>(ERROR_SERVICE_DOES_NOT_EXIST));

    std::string target = f.path + "\\target.exe";
    CHECK_EQ(logOf(f), "Installed Successfully\r\n" + f.name + " Created this file\r\nstart: " + target +
                           "\r\nstop: " + target + "\r\nRemoved Successfully\r\n");
}

SCM_CASE(TwoStartStopCycles)
{
    Folder f = installedService(__func__);
    std::vector<std::string> launches;
    for (int cycle = 0; cycle < 2; ++cycle) {
        REQUIRE(startAndStop(f, launches));
    }
    std::string run =
        f.name + " Created this file\r\nstart: " + f.path + "\\target.exe\r\nstop: " + f.path + "\\target.exe\r\n";
    CHECK_EQ(logOf(f), "Installed Successfully\r\n" + run + run);
}

SCM_CASE(InterrogateAndRefusedPauseLeaveTheServiceRunning)
{
    Folder f = installedService(__func__);
    REQUIRE(startRunning(f.name));

    SERVICE_STATUS status;
    CHECK_EQ(controlService(f.name, SERVICE_CONTROL_INTERROGATE, &status), 0ul);
    CHECK_EQ(status.dwCurrentState, static_cast<unsigned long>(SERVICE_RUNNING));
    CHECK_EQ(status.dwControlsAccepted, static_cast<unsigned long>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));
    CHECK_EQ(controlService(f.name, SERVICE_CONTROL_PAUSE), static_cast<unsigned long>(ERROR_INVALID_SERVICE_CONTROL));
    CHECK_EQ(serviceState(f.name), static_cast<unsigned long>(SERVICE_RUNNING));

    checkLaunches(f.path, {"start"});
    REQUIRE(stopStopped(f.name));
    checkLaunches(f.path, {"start", "close"});
}

SCM_CASE(MissingTargetStillRunsAndStops)
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

SCM_CASE(TargetInASubfolder)
{
    Folder f = layOut(__func__);
    placeTarget(f, "bin\\tool.exe");
    writeConfig(f, f.name + "\nbin\\tool.exe\n");
    runSvclaunch(f, "install");
    REQUIRE(startRunning(f.name));
    checkLaunches(f.path + "\\bin", {"start"});
    REQUIRE(stopStopped(f.name));
    checkLaunches(f.path + "\\bin", {"start", "close"});
    CHECK(logOf(f).find("start: " + f.path + "\\bin\\tool.exe\r\n") != std::string::npos);
}

SCM_CASE(UnwritableLogChangesNothingElse)
{
    Folder f = layOut(__func__);
    placeTarget(f);
    writeConfig(f, f.name + "\ntarget.exe\n");
    CHECK(makeDirectories(f.path + "\\service.log")); // a folder where the log would be

    runSvclaunch(f, "install");
    REQUIRE(startAndStopOnce(f));
    runSvclaunch(f, "remove");
    CHECK_EQ(openServiceError(f.name), static_cast<unsigned long>(ERROR_SERVICE_DOES_NOT_EXIST));
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
