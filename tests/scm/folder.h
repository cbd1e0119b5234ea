// A service folder as an administrator lays it out: svclaunch.exe, its
// service.cnf and the recording target, under the suite's root folder
// (C:\svclaunch-tests, or SVCLAUNCH_TEST_ROOT), with a service name of the
// case's own.
#ifndef SVCLAUNCH_SCM_FOLDER_H
#define SVCLAUNCH_SCM_FOLDER_H

#include "platform.h"

#include <string>
#include <vector>

struct Folder {
    std::string path; // the folder that holds svclaunch.exe
    std::string exe;  // svclaunch.exe's full path
    std::string name; // the case's service name
};

// Makes the case's folder, root\caseName\subfolder, with svclaunch.exe in it.
// The service is removed when the case ends, whatever happened.
Folder layOut(const char* caseName, const std::string& subfolder = "");
std::string suiteRoot();
// The svclaunch.exe that cases copy: SVCLAUNCH_TEST_EXE, or the one beside
// scm_tests.exe.
std::string executableUnderTest();
void removeServiceAtCaseEnd(const std::string& name);

// The usual case: a folder with the recording target as target.exe, a
// two-line service.cnf naming it, and the service installed.
Folder installedService(const char* caseName);

// Copies the recording target to relativePath inside the folder.
bool placeTarget(const Folder& folder, const std::string& relativePath = "target.exe");
bool writeConfig(const Folder& folder, const std::string& content);

// Runs svclaunch.exe by its full path with the given arguments; checks that
// it ended, printed nothing and returned 0.
void runSvclaunch(const Folder& folder, const std::string& arguments);
// Runs svclaunch.exe with one command line as typed.
void runCommandLine(const std::string& commandLine);

std::string logOf(const Folder& folder);

// Starts the service and waits for RUNNING; stops it and waits for STOPPED.
bool startRunning(const std::string& name);
bool stopStopped(const std::string& name);

// One more start and stop, with the target's "start" and then "close" seen
// beside it after those it received before (launches, which grows by two).
// Returns whether it stopped.
bool startAndStop(const Folder& folder, std::vector<std::string>& launches);
// The same for a service that has never run.
bool startAndStopOnce(const Folder& folder);

// Runs, as a .bat file in cmd.exe, the lines that the README gives scripts
// for telling what install or remove did, and checks what they print: the
// exit code of sc query (0 for a registered service, else 1060, which
// Wine's sc.exe gives as 1) and the last non-empty line of service.log.
void checkScriptVerdict(const Folder& folder, bool registered, const std::string& lastLine);

// Checks that no service of that name is registered.
#define CHECK_NOT_REGISTERED(name) CHECK_EQ(openServiceError(name), ERROR_SERVICE_DOES_NOT_EXIST)

// Checks that svclaunch left no trace: no service.log, no service.
void checkNoTrace(const Folder& folder);

// Waits until the target's received.txt beside it holds count launches and
// checks that they carried these parameters, in this order, each started in
// the service's current directory (the Windows or system folder).
void checkLaunches(const std::string& targetFolder, const std::vector<std::string>& parameters);

#endif
