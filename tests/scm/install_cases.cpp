// "install" against the real SCM: what it registers and what it logs.
#include "folder.h"
#include "harness.h"

SCM_CASE(InstallRegistersAnAutoStartServiceUnderTheQuotedPath)
{
    Folder f = layOut(__func__);
    writeConfig(f, f.name + "\ntarget.exe\n");
    runSvclaunch(f, "install");

    CHECK_EQ(logOf(f), "Installed Successfully\r\n");
    CHECK_EQ(registryString(f.name, "ImagePath"), "\"" + f.exe + "\"");
    CHECK_EQ(registryString(f.name, "DisplayName"), f.name);
    CHECK_EQ(registryString(f.name, "ObjectName"), "LocalSystem");
    CHECK_EQ(registryDword(f.name, "Start"), static_cast<unsigned long>(SERVICE_AUTO_START));
    CHECK_EQ(registryDword(f.name, "Type"), static_cast<unsigned long>(SERVICE_WIN32_OWN_PROCESS));
    CHECK_EQ(registryDword(f.name, "ErrorControl"), static_cast<unsigned long>(SERVICE_ERROR_IGNORE));
    CHECK_EQ(serviceState(f.name), static_cast<unsigned long>(SERVICE_STOPPED)); // install starts nothing
}

SCM_CASE(SecondInstallLogsAlreadyExists)
{
    Folder f = layOut(__func__);
    writeConfig(f, f.name + "\ntarget.exe\n");
    runSvclaunch(f, "install");
    runSvclaunch(f, "install");
    CHECK_EQ(logOf(f), "Installed Successfully\r\nAlready Exists\r\n");
}

SCM_CASE(InstallWithTheDisplayNameTakenLogsTheCodeAndAnEmptyLine)
{
    Folder f = layOut(__func__);
    removeServiceAtCaseEnd(f.name + "_Other");
    REQUIRE(CHECK_EQ(createOtherService(f.name + "_Other", f.name, "C:\\other.exe"), 0ul));
    writeConfig(f, f.name + "\ntarget.exe\n");
    runSvclaunch(f, "install");
    CHECK_EQ(logOf(f), "Was not Installed Successfully. Error Code 1078\r\n\r\n");
    CHECK_EQ(openServiceError(f.name), static_cast<unsigned long>(ERROR_SERVICE_DOES_NOT_EXIST));
}
