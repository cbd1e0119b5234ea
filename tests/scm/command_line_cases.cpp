// The command line as a user types it.
#include "folder.h"
#include "harness.h"

SCM_CASE(VerbsIgnoreLetterCase)
{
    Folder f = layOut(__func__);
    writeConfig(f, f.name + "\ntarget.exe\n");
    runSvclaunch(f, "INSTALL");
    CHECK_EQ(serviceState(f.name), SERVICE_STOPPED);
    runSvclaunch(f, "ReMoVe");
    CHECK_NOT_REGISTERED(f.name);
    CHECK_EQ(logOf(f), "Installed Successfully\r\nRemoved Successfully\r\n");
}

// Without a verb it is service mode, which from a shell ends at once.
SCM_CASE(AnythingButAVerbFirstDoesNothing)
{
    Folder f = layOut(__func__);
    writeConfig(f, f.name + "\ntarget.exe\n");
    runSvclaunch(f, "");
    runSvclaunch(f, "installx");
    runSvclaunch(f, "x install");
    runSvclaunch(f, "start");
    checkNoTrace(f);
}

// A path whose only backslash is at index 2 gives the directory "C:". On
// Windows the root of a drive lets Authenticated Users add folders, so
// install refuses it and says so in the root's own log; under Wine, whose
// root is 0755, it installs.
SCM_CASE(ExecutableInARootFolderUsesThatRoot)
{
    Folder f = layOut(__func__);
    std::string drive = f.path.substr(0, 2);
    std::string exe = drive + "\\" + rootExecutableName;
    std::string log = drive + "\\service.log";
    std::string config = drive + "\\service.cnf";
    if (fileExists(config) || fileExists(log)) {
        recordFailure(__FILE__, __LINE__, "a service.cnf or service.log exists in the root already: not touched");
        return;
    }
    CHECK(copyFile(f.exe, exe));
    CHECK(writeFile(config, f.name + "\ntarget.exe\n"));
    runCommandLine(exe + " install");
    runCommandLine(exe + " remove");
    std::string written = readFile(log);
    if (underWine()) {
        CHECK_EQ(written, "Installed Successfully\r\nRemoved Successfully\r\n");
    } else {
        const std::string refused = "Was not Installed Successfully. ";
        CHECK(written.compare(0, refused.size(), refused) == 0 &&
              written.find(" can change " + drive + "\\") != std::string::npos &&
              written.find("\r\n") == written.size() - 2);
    }
    CHECK_NOT_REGISTERED(f.name);
    removeRootLeftovers();
}
