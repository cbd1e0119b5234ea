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

// A path whose only backslash is at index 2 gives the directory "C:": the
// configuration is read from the drive's root and the log written there.
// Beneath a root lies the whole disk, so install refuses it.
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
    CHECK_EQ(readFile(log), "Was not Installed Successfully. A drive's root holds the whole disk: " + drive + "\\\r\n");
    CHECK_NOT_REGISTERED(f.name);
    removeRootLeftovers();
}
