// What the SCM suite needs of Windows: files, child processes with their
// output caught, the service database and the registry. Every wait has a
// bound.
#ifndef SVCLAUNCH_SCM_PLATFORM_H
#define SVCLAUNCH_SCM_PLATFORM_H

#include <windows.h>

#include <string>
#include <vector>

const DWORD waitBoundMs = 20000;

// Whether this runs under Wine rather than Windows, where the two differ.
bool underWine();

// Files and folders.
std::string readFile(const std::string& path); // "" when missing
bool fileExists(const std::string& path);
bool writeFile(const std::string& path, const std::string& content);
bool copyFile(const std::string& from, const std::string& to);
bool makeDirectories(const std::string& path);
void removeTree(const std::string& path);
// Gives path a DACL of its own: SYSTEM and Administrators full control, and
// otherRights for other, a SID such as "S-1-1-0" (Everyone; none when 0).
// Inheritable entries and no inheritance from above when protect is set, for
// a folder that must not take what its parent gives broad groups. Under
// Wine, Everyone's rights become the Unix "others" bits.
bool setOwnDacl(const std::string& path, DWORD otherRights, bool protect = false, const char* other = "S-1-1-0");
std::string folderOfThisProgram();
std::string windowsDirectory();
std::string systemDirectory();

// Waits until the file's content satisfies done, at most waitBoundMs, and
// returns the content last read.
std::string waitForFile(const std::string& path, bool (*done)(const std::string&));

// A child process run to its end, stdout and stderr caught together.
struct RunResult {
    bool started;
    bool finished;
    DWORD exitCode;
    std::string output;
};
RunResult runProgram(const std::string& commandLine);

// Starts a child without waiting; its output goes nowhere. NULL on failure.
HANDLE spawnProgram(const std::string& commandLine);
// Waits for every process, at most waitBoundMs in all, and closes the
// handles. Returns how many ended with exit code 0.
size_t waitForAll(const std::vector<HANDLE>& processes);

// The service database. Calls return 0 or the Windows error code.
DWORD serviceState(const std::string& name); // 0 when the service cannot be opened
// The running service's process, opened with access; NULL when there is none.
HANDLE serviceProcess(const std::string& name, DWORD access);
DWORD openServiceError(const std::string& name);
DWORD startService(const std::string& name);
DWORD controlService(const std::string& name, DWORD control, SERVICE_STATUS* status = NULL);
bool waitForState(const std::string& name, DWORD state);
DWORD createOtherService(const std::string& name, const std::string& displayName, const std::string& binaryPath);
void forceRemove(const std::string& name); // stops if need be, then deletes

// Values under HKLM\System\CurrentControlSet\Services\NAME.
std::string registryString(const std::string& service, const char* value);
DWORD registryDword(const std::string& service, const char* value);

#endif
