// Shapes of service.cnf, read by the real Windows C runtime in text mode.
#include "folder.h"
#include "harness.h"

// Installs with this configuration and tells whether anything happened.
static void checkUnusable(const Folder& f, const std::string& content)
{
    writeConfig(f, content);
    runSvclaunch(f, "install");
    runSvclaunch(f, "");
    checkNoTrace(f);
}

// The C runtime's text mode ends the file at a Ctrl-Z.
SCM_CASE(TextModeEndsTheConfigurationAtCtrlZ)
{
    Folder f = layOut(__func__);
    placeTarget(f);
    writeConfig(f, f.name + "\r\ntarget.exe\r\n\x1Athird\r\n");
    runSvclaunch(f, "install");
    REQUIRE(startAndStopOnce(f));
    runSvclaunch(f, "remove");

    Folder cut = layOut(__func__, "cut");
    checkUnusable(cut, cut.name + "\r\n\x1Atarget.exe\r\n");
}

// The C runtime's text mode keeps a CR that no LF follows, and the SCM
// keeps blanks and % in a service's name. A CR is no character of a file
// name on Windows: install cannot tell who could change such a target, and
// says so, the CR kept.
SCM_CASE(TextModeKeepsALoneCrAndTheScmBlanksAndPercent)
{
    Folder f = layOut(__func__);
    std::string name = "  " + f.name + " 100%s  ";
    removeServiceAtCaseEnd(name);
    writeConfig(f, name + "\r\nodd %d\rname.exe\r\nthird line, never read\r\n");
    runSvclaunch(f, "install");
    std::string refused = "Was not Installed Successfully. Cannot tell who can change " + f.path +
                          "\\odd %d\rname.exe, Error Code 123\r\n";
    CHECK_EQ(logOf(f), refused);
    writeConfig(f, name + "\r\nodd %d name.exe\r\nthird line, never read\r\n");
    runSvclaunch(f, "install");
    CHECK_EQ(registryString(name, "DisplayName"), name);
    REQUIRE(startRunning(name));
    REQUIRE(stopStopped(name));
    std::string target = f.path + "\\odd %d name.exe";
    CHECK_EQ(logOf(f), refused + "Installed Successfully\r\n" + name + " Created this file\r\nstart: " + target +
                           "\r\nstop: " + target + "\r\n");
}
