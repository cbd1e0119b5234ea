// "remove" against the real SCM.
#include "folder.h"
#include "harness.h"

static bool holdsStartLine(const std::string& log)
{
    return log.find("\r\nstart: ") != std::string::npos;
}

SCM_CASE(RemoveWhileRunningLeavesTheServiceRunning)
{
    Folder f = installedService(__func__);
    REQUIRE(startRunning(f.name));
    // The service's own lines come first, so that remove's is the last.
    waitForFile(f.path + "\\service.log", holdsStartLine);
    runSvclaunch(f, "remove");
    CHECK_EQ(serviceState(f.name), SERVICE_RUNNING);
    CHECK(logOf(f).find("\r\n is still Running.\r\n") != std::string::npos);
    checkScriptVerdict(f, true, " is still Running.");
    REQUIRE(stopStopped(f.name));
    runSvclaunch(f, "remove");
    CHECK_NOT_REGISTERED(f.name);
}

// Another client deleted the service and still holds it open.
SCM_CASE(RemoveOfAServiceMarkedForDeletion)
{
    Folder f = layOut(__func__);
    writeConfig(f, f.name + "\ntarget.exe\n");
    runSvclaunch(f, "install");

    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE held = manager ? OpenServiceA(manager, f.name.c_str(), DELETE) : NULL;
    CHECK(held != NULL && DeleteService(held));
    runSvclaunch(f, "remove");
    if (held != NULL) {
        CloseServiceHandle(held);
    }
    if (manager != NULL) {
        CloseServiceHandle(manager);
    }
    CHECK_EQ(logOf(f), "Installed Successfully\r\nalready marked for deletion\r\n");
}
