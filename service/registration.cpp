// The "install" and "remove" verbs: the service's entry in the SCM database.
#include "accounts.h"
#include "safety.h"
#include "spelling.h"
#include "svclaunch.h"
#include "text.h"

// Error texts that name a fixed service name, whatever is configured: the
// log has always read this way, and whoever watches it may match on them.
const char accessDeniedText[] = "Access Denied While trying to Remove BrindlewoodService";
const char invalidHandleText[] = "Handle invalid while trying to Remove BrindlewoodService";

// The start of every line that says install registered nothing, so that
// whatever watches the log for a failed install counts each of them.
const char notInstalledText[] = "Was not Installed Successfully. ";

// Room for any reason install gives behind that start, the longest line
// that is logged.
const size_t reasonSize = logMessageSize - (sizeof notInstalledText - 1);

// Logs that install registered nothing, and why.
static void logNotInstalled(const char* reason)
{
    char line[logMessageSize];
    if (joinText(line, sizeof line, notInstalledText, reason)) {
        writeLog(line);
    }
}

// Checks what the SCM would run as LocalSystem from path before it is
// registered; logs why not and returns false when it is unsafe.
static bool safeToRegister(const char* path)
{
    char reason[reasonSize];
    TrustedAccounts trusted = readTrustedAccounts();
    bool unsafe = isUnsafeForLocalSystem(path, programPath, trusted, reason, sizeof reason);
    releaseTrustedAccounts(trusted);
    if (unsafe) {
        logNotInstalled(reason);
    }
    return !unsafe;
}

// Reads the executable's full path into path (size bytes), as the SCM will
// start it. False when it cannot be had whole and spelt exactly (start-up
// has made sure it can), and, with a line, when it is too long for any SCM
// to start: MAX_PATH characters or more.
static bool readModulePath(char* path, int size)
{
    DWORD length = readOwnPath(path, size);
    if (length >= MAX_PATH) {
        char reason[reasonSize];
        if (joinText(reason, sizeof reason, "The executable's path is too long: ", path)) {
            logNotInstalled(reason);
        }
    }
    return length != 0 && length < MAX_PATH;
}

// Registers this executable as an automatically started service of its own
// process under serviceName, running as LocalSystem, and logs the outcome.
// Its path is registered in double quotes, so that the SCM can never take a
// blank in it as the end of the program name.
void installService()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CREATE_SERVICE);
    if (manager == NULL) {
        return;
    }
    // Any path that start-up takes, in a double-byte code page too.
    char path[2 * configValueSize];
    char binaryPath[2 * MAX_PATH + 2];
    if (readModulePath(path, sizeof path) && safeToRegister(path) &&
        joinText(binaryPath, sizeof binaryPath, "\"", path, "\"")) {
        SC_HANDLE service =
            CreateServiceA(manager, serviceName, serviceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                           SERVICE_AUTO_START, SERVICE_ERROR_IGNORE, binaryPath, NULL, NULL, NULL, NULL, NULL);
        if (service != NULL) {
            CloseServiceHandle(service);
            writeLog("Installed Successfully");
        } else {
            DWORD error = GetLastError();
            if (error == ERROR_SERVICE_EXISTS) {
                writeLog("Already Exists");
            } else {
                // The text ends in its own line feed: the log has always had
                // an empty line after this one, and scripts may count on it.
                char code[12];
                char buf[configValueSize];
                if (formatDecimal(code, sizeof code, static_cast<int>(error)) &&
                    joinText(buf, sizeof buf, "Error Code ", code, "\n")) {
                    logNotInstalled(buf);
                }
            }
        }
    }
    CloseServiceHandle(manager);
}

// Logs why DeleteService refused; codes without a text of their own are
// left unlogged.
static void logDeleteFailure(DWORD error)
{
    if (error == ERROR_ACCESS_DENIED) {
        writeLog(accessDeniedText);
    } else if (error == ERROR_INVALID_HANDLE) {
        writeLog(invalidHandleText);
    } else if (error == ERROR_SERVICE_MARKED_FOR_DELETE) {
        writeLog("already marked for deletion");
    }
}

// Deletes the registration of serviceName, but only while the service is
// stopped: a running service is never stopped here, only reported.
void removeService()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    if (manager == NULL) {
        return;
    }
    SC_HANDLE service = OpenServiceA(manager, serviceName, DELETE | SERVICE_QUERY_STATUS);
    if (service != NULL) {
        SERVICE_STATUS serviceStatus;
        if (QueryServiceStatus(service, &serviceStatus)) {
            if (serviceStatus.dwCurrentState != SERVICE_STOPPED) {
                writeLog(" is still Running.");
            } else if (DeleteService(service)) {
                writeLog("Removed Successfully");
            } else {
                logDeleteFailure(GetLastError());
            }
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}
