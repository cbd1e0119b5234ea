#include "platform.h"

#include <sddl.h>

#include <stdio.h>
#include <vector>

namespace {

const DWORD pollMs = 25;

// A handle to the SCM, closed when it goes out of scope.
struct ScHandle {
    SC_HANDLE handle;
    explicit ScHandle(SC_HANDLE h) : handle(h) {}
    ~ScHandle()
    {
        if (handle != NULL) {
            CloseServiceHandle(handle);
        }
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
};

} // namespace

bool underWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
}

std::string readFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return "";
    }
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0) {
        content.append(buffer, got);
    }
    CloseHandle(file);
    return content;
}

bool fileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool writeFile(const std::string& path, const std::string& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, NULL);
    CloseHandle(file);
    return ok && written == content.size();
}

bool copyFile(const std::string& from, const std::string& to)
{
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

bool makeDirectories(const std::string& path)
{
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            std::string part = path.substr(0, i);
            if (!CreateDirectoryA(part.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS) {
                return false;
            }
        }
    }
    return true;
}

bool setOwnDacl(const std::string& path, DWORD otherRights, bool protect, const char* other)
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID system = NULL;
    PSID administrators = NULL;
    PSID otherSid = NULL;
    AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system);
    AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                             &administrators);
    ConvertStringSidToSidA(other, &otherSid);
    DWORD aclBuffer[256];
    PACL acl = reinterpret_cast<PACL>(aclBuffer);
    DWORD inherit = protect ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
    SECURITY_DESCRIPTOR descriptor;
    bool ok = system != NULL && administrators != NULL && otherSid != NULL &&
              InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION) &&
              AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, system) &&
              AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, FILE_ALL_ACCESS, administrators) &&
              (otherRights == 0 || AddAccessAllowedAceEx(acl, ACL_REVISION, inherit, otherRights, otherSid)) &&
              InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
              (!protect || SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) &&
              SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, &descriptor);
    for (PSID sid : {administrators, system}) {
        if (sid != NULL) {
            FreeSid(sid);
        }
    }
    LocalFree(otherSid);
    return ok;
}

void removeTree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

std::string folderOfThisProgram()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string whole(path, length);
    return whole.substr(0, whole.rfind('\\'));
}

std::string windowsDirectory()
{
    char path[MAX_PATH];
    UINT length = GetWindowsDirectoryA(path, MAX_PATH);
    return std::string(path, length);
}

std::string systemDirectory()
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    return std::string(path, length);
}

std::string waitForFile(const std::string& path, bool (*done)(const std::string&))
{
    DWORD start = GetTickCount();
    std::string content = readFile(path);
    while (!done(content) && GetTickCount() - start < waitBoundMs) {
        Sleep(pollMs);
        content = readFile(path);
    }
    return content;
}

RunResult runProgram(const std::string& commandLine)
{
    RunResult result = {false, false, 0, ""};
    char tempFolder[MAX_PATH];
    char outputPath[MAX_PATH];
    if (GetTempPathA(MAX_PATH, tempFolder) == 0 || GetTempFileNameA(tempFolder, "scm", 0, outputPath) == 0) {
        return result;
    }
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE output = CreateFileA(outputPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        result.started = true;
        if (WaitForSingleObject(process.hProcess, waitBoundMs) == WAIT_OBJECT_0) {
            result.finished = true;
            GetExitCodeProcess(process.hProcess, &result.exitCode);
        } else {
            printf("%s did not end within %lu ms and was ended\n", commandLine.c_str(),
                   static_cast<unsigned long>(waitBoundMs));
            TerminateProcess(process.hProcess, 1);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        printf("cannot start %s: Windows error %lu\n", commandLine.c_str(), static_cast<unsigned long>(GetLastError()));
    }
    CloseHandle(input);
    CloseHandle(output);
    result.output = readFile(outputPath);
    DeleteFileA(outputPath);
    return result;
}

HANDLE spawnProgram(const std::string& commandLine)
{
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &startup, &process)) {
        printf("cannot start %s: Windows error %lu\n", commandLine.c_str(), static_cast<unsigned long>(GetLastError()));
        return NULL;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

size_t waitForAll(const std::vector<HANDLE>& processes)
{
    DWORD start = GetTickCount();
    size_t succeeded = 0;
    for (HANDLE process : processes) {
        if (process == NULL) {
            continue; // never started, and said so
        }
        DWORD spent = GetTickCount() - start;
        DWORD exitCode = STILL_ACTIVE;
        bool ended = WaitForSingleObject(process, spent < waitBoundMs ? waitBoundMs - spent : 0) == WAIT_OBJECT_0;
        if (ended && GetExitCodeProcess(process, &exitCode) && exitCode == 0) {
            ++succeeded;
        } else {
            printf("child process %lu %s, exit code %lu\n", static_cast<unsigned long>(GetProcessId(process)),
                   ended ? "ended" : "still runs", static_cast<unsigned long>(exitCode));
        }
        CloseHandle(process);
    }
    return succeeded;
}

DWORD openServiceError(const std::string& name)
{
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    if (manager.handle == NULL) {
        return GetLastError();
    }
    ScHandle service(OpenServiceA(manager.handle, name.c_str(), SERVICE_QUERY_STATUS));
    return service.handle == NULL ? GetLastError() : 0;
}

DWORD serviceState(const std::string& name)
{
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    ScHandle service(manager.handle ? OpenServiceA(manager.handle, name.c_str(), SERVICE_QUERY_STATUS) : NULL);
    SERVICE_STATUS status;
    if (service.handle == NULL || !QueryServiceStatus(service.handle, &status)) {
        return 0;
    }
    return status.dwCurrentState;
}

HANDLE serviceProcess(const std::string& name, DWORD access)
{
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    ScHandle service(manager.handle ? OpenServiceA(manager.handle, name.c_str(), SERVICE_QUERY_STATUS) : NULL);
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    if (service.handle == NULL ||
        !QueryServiceStatusEx(service.handle, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                              &needed) ||
        status.dwProcessId == 0) {
        return NULL;
    }
    return OpenProcess(access, FALSE, status.dwProcessId);
}

DWORD startService(const std::string& name)
{
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    ScHandle service(manager.handle ? OpenServiceA(manager.handle, name.c_str(), SERVICE_START) : NULL);
    if (service.handle == NULL) {
        return GetLastError();
    }
    return StartServiceA(service.handle, 0, NULL) ? 0 : GetLastError();
}

DWORD controlService(const std::string& name, DWORD control, SERVICE_STATUS* status)
{
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    DWORD access = SERVICE_STOP | SERVICE_INTERROGATE | SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL;
    ScHandle service(manager.handle ? OpenServiceA(manager.handle, name.c_str(), access) : NULL);
    if (service.handle == NULL) {
        return GetLastError();
    }
    SERVICE_STATUS ignored;
    return ControlService(service.handle, control, status ? status : &ignored) ? 0 : GetLastError();
}

bool waitForState(const std::string& name, DWORD state)
{
    DWORD start = GetTickCount();
    while (serviceState(name) != state) {
        if (GetTickCount() - start >= waitBoundMs) {
            return false;
        }
        Sleep(pollMs);
    }
    return true;
}

DWORD createOtherService(const std::string& name, const std::string& displayName, const std::string& binaryPath)
{
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CREATE_SERVICE));
    if (manager.handle == NULL) {
        return GetLastError();
    }
    ScHandle service(CreateServiceA(manager.handle, name.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                    binaryPath.c_str(), NULL, NULL, NULL, NULL, NULL));
    return service.handle == NULL ? GetLastError() : 0;
}

void forceRemove(const std::string& name)
{
    DWORD state = serviceState(name);
    if (state != 0 && state != SERVICE_STOPPED) {
        waitForState(name, SERVICE_RUNNING);
        controlService(name, SERVICE_CONTROL_STOP);
        waitForState(name, SERVICE_STOPPED);
    }
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
    ScHandle service(manager.handle ? OpenServiceA(manager.handle, name.c_str(), DELETE) : NULL);
    if (service.handle != NULL) {
        DeleteService(service.handle);
    }
}

// Every service whose name holds "SvclaunchE2E" is one of this suite's.
void removeLeftovers()
{
    ScHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_CONNECT));
    if (manager.handle == NULL) {
        return;
    }
    std::vector<char> buffer(256 * 1024);
    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = 0;
    std::vector<std::string> names;
    auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
    if (EnumServicesStatusA(manager.handle, SERVICE_WIN32, SERVICE_STATE_ALL, entries,
                            static_cast<DWORD>(buffer.size()), &needed, &count, &resume)) {
        for (DWORD i = 0; i < count; ++i) {
            std::string name = entries[i].lpServiceName;
            if (name.find("SvclaunchE2E") != std::string::npos) {
                names.push_back(name);
            }
        }
    }
    for (const std::string& name : names) {
        printf("removing leftover service %s\n", name.c_str());
        forceRemove(name);
    }
}

std::string registryString(const std::string& service, const char* value)
{
    HKEY key;
    std::string path = "System\\CurrentControlSet\\Services\\" + service;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return "(no key)";
    }
    char data[2048];
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    LONG error = RegQueryValueExA(key, value, NULL, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return "(no string)";
    }
    data[size] = '\0';
    return data;
}

DWORD registryDword(const std::string& service, const char* value)
{
    HKEY key;
    std::string path = "System\\CurrentControlSet\\Services\\" + service;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0xFFFFFFFF;
    }
    DWORD data = 0;
    DWORD size = sizeof data;
    DWORD type = 0;
    LONG error = RegQueryValueExA(key, value, NULL, &type, reinterpret_cast<BYTE*>(&data), &size);
    RegCloseKey(key);
    return error == ERROR_SUCCESS && type == REG_DWORD ? data : 0xFFFFFFFF;
}
