#include "folder.h"

#include "harness.h"

#include <stdlib.h>

namespace {

std::vector<std::string> servicesOfThisCase;

void removeServicesOfThisCase()
{
    for (const std::string& name : servicesOfThisCase) {
        forceRemove(name);
    }
}

std::string lowerCase(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

size_t expectedLines;

bool holdsExpectedLines(const std::string& content)
{
    size_t lines = 0;
    for (char c : content) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines >= expectedLines;
}

} // namespace

std::string executableUnderTest()
{
    const char* exe = getenv("SVCLAUNCH_TEST_EXE");
    return exe != NULL && exe[0] != '\0' ? exe : folderOfThisProgram() + "\\svclaunch.exe";
}

std::string suiteRoot()
{
    const char* root = getenv("SVCLAUNCH_TEST_ROOT");
    return root != NULL && root[0] != '\0' ? root : "C:\\svclaunch-tests";
}

// Removes a folder and all in it; a target launched by an earlier run may
// still hold its files a moment.
static void removeFolder(const std::string& folder)
{
    DWORD start = GetTickCount();
    for (removeTree(folder); fileExists(folder) && GetTickCount() - start < waitBoundMs; removeTree(folder)) {
        Sleep(25);
    }
}

void removeSuiteRoot()
{
    removeFolder(suiteRoot());
}

// Makes the suite's root folder with a DACL of its own: administrators and
// SYSTEM, and Everyone read and execute, not inherited. On Windows a folder
// made at the root of the system drive inherits Authenticated Users' Modify,
// and install refuses to register anything beneath such a folder.
static void makeSuiteRoot()
{
    std::string root = suiteRoot();
    if (!fileExists(root)) {
        CHECK(makeDirectories(root) && setOwnDacl(root, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, true));
    }
}

Folder layOut(const char* caseName, const std::string& subfolder)
{
    makeSuiteRoot();
    Folder folder;
    folder.path = suiteRoot() + "\\" + caseName + (subfolder.empty() ? "" : "\\" + subfolder);
    folder.exe = folder.path + "\\svclaunch.exe";
    folder.name = std::string("SvclaunchE2E_") + caseName;
    removeFolder(suiteRoot() + "\\" + caseName);
    CHECK(makeDirectories(folder.path));
    CHECK(copyFile(executableUnderTest(), folder.exe));
    removeServiceAtCaseEnd(folder.name);
    return folder;
}

void removeServiceAtCaseEnd(const std::string& name)
{
    if (servicesOfThisCase.empty()) {
        atCaseEnd(removeServicesOfThisCase);
    }
    servicesOfThisCase.push_back(name);
}

Folder installedService(const char* caseName)
{
    Folder folder = layOut(caseName);
    placeTarget(folder);
    writeConfig(folder, folder.name + "\ntarget.exe\n");
    runSvclaunch(folder, "install");
    return folder;
}

bool placeTarget(const Folder& folder, const std::string& relativePath)
{
    std::string path = folder.path + "\\" + relativePath;
    makeDirectories(path.substr(0, path.rfind('\\')));
    return CHECK(copyFile(folderOfThisProgram() + "\\recording_target.exe", path));
}

bool writeConfig(const Folder& folder, const std::string& content)
{
    return CHECK(writeFile(folder.path + "\\service.cnf", content));
}

void runCommandLine(const std::string& commandLine)
{
    RunResult result = runProgram(commandLine);
    CHECK(result.finished);
    CHECK_EQ(result.exitCode, 0ul);
    CHECK_EQ(result.output, "");
}

void runSvclaunch(const Folder& folder, const std::string& arguments)
{
    runCommandLine(folder.exe + (arguments.empty() ? "" : " " + arguments));
}

std::string logOf(const Folder& folder)
{
    return readFile(folder.path + "\\service.log");
}

bool startRunning(const std::string& name)
{
    return CHECK_EQ(startService(name), 0ul) && CHECK(waitForState(name, SERVICE_RUNNING));
}

bool stopStopped(const std::string& name)
{
    return CHECK_EQ(controlService(name, SERVICE_CONTROL_STOP), 0ul) && CHECK(waitForState(name, SERVICE_STOPPED));
}

bool startAndStop(const Folder& folder, std::vector<std::string>& launches)
{
    if (!startRunning(folder.name)) {
        return false;
    }
    launches.push_back("start");
    checkLaunches(folder.path, launches);
    if (!stopStopped(folder.name)) {
        return false;
    }
    launches.push_back("close");
    checkLaunches(folder.path, launches);
    return true;
}

bool startAndStopOnce(const Folder& folder)
{
    std::vector<std::string> launches;
    return startAndStop(folder, launches);
}

void checkScriptVerdict(const Folder& folder, bool registered, const std::string& lastLine)
{
    std::string script = folder.path + "\\verdict.bat";
    CHECK(writeFile(script, "@echo off\r\n"
                            "sc query " +
                                folder.name +
                                " >nul\r\n"
                                "echo %errorlevel%\r\n"
                                "for /f \"usebackq delims=\" %%L in (\"" +
                                folder.path +
                                "\\service.log\") do @set last=%%L\r\n"
                                "echo %last%\r\n"));
    RunResult result = runProgram("cmd /c " + script);
    DeleteFileA(script.c_str());
    std::string missing = underWine() ? "1" : "1060";
    CHECK_EQ(result.output, (registered ? "0" : missing) + "\r\n" + lastLine + "\r\n");
}

void checkNoTrace(const Folder& folder)
{
    CHECK(!fileExists(folder.path + "\\service.log"));
    CHECK_NOT_REGISTERED(folder.name);
}

void checkLaunches(const std::string& targetFolder, const std::vector<std::string>& parameters)
{
    expectedLines = parameters.size();
    std::string received = waitForFile(targetFolder + "\\received.txt", holdsExpectedLines);
    std::vector<std::string> seen;
    size_t start = 0;
    for (size_t end; (end = received.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string line = received.substr(start, end - start);
        size_t bar = line.find('|');
        std::string directory = lowerCase(line.substr(bar + 1));
        if (!CHECK(directory == lowerCase(windowsDirectory()) || directory == lowerCase(systemDirectory()))) {
            recordFailure(__FILE__, __LINE__, "the target ran in " + line.substr(bar + 1));
        }
        seen.push_back(line.substr(0, bar));
    }
    std::string want;
    std::string got;
    for (const std::string& p : parameters) {
        want += p + ";";
    }
    for (const std::string& p : seen) {
        got += p + ";";
    }
    CHECK_EQ(got, want);
    CHECK_EQ(received.substr(start), "");
}
