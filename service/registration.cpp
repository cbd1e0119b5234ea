// The "install" and "remove" verbs: the service's entry in the SCM database.
#include "svclaunch.h"
#include "text.h"

// Size of the buffer that receives the executable's own path.
const DWORD modulePathSize = 261;

// Error texts that name a fixed service name, whatever is configured: the
// log has always read this way, and whoever watches it may match on them.
const char accessDeniedText[] = "Access Denied While trying to Remove BrindlewoodService";
const char invalidHandleText[] = "Handle invalid while trying to Remove BrindlewoodService";

// Forms the executable's full path in double quotes into quoted, so that the
// SCM can never take a blank in the path as the end of the program name.
// Returns false when the path cannot be had whole, or when it is too long
// for any SCM to start (MAX_PATH characters or more).
static bool quotedModulePath(char* quoted, DWORD size)
{
    char path[modulePathSize];
    DWORD length = GetModuleFileNameA(NULL, path, modulePathSize);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    return joinText(quoted, size, "\"", path, "\"");
}

// Registers this executable as an automatically started service of its own
// process under serviceName, running as LocalSystem, and logs the outcome.
void installService()
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CREATE_SERVICE);
    if (manager == NULL) {
        return;
    }
    char binaryPath[modulePathSize + 2];
    if (quotedModulePath(binaryPath, sizeof binaryPath)) {
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
                // The text ends in its own line feed, so an empty line follows it.
                char code[12];
                char buf[configValueSize];
                if (formatDecimal(code, sizeof code, static_cast<int>(error)) &&
                    joinText(buf, sizeof buf, "Was not Installed Successfully. Error Code ", code, "\n")) {
                    writeLog(buf);
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
