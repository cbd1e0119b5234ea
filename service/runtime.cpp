// Service mode: the connection to the SCM, the status reports, the control
// handler and the service body that launches the target program.
#include "svclaunch.h"
#include "text.h"

#include <shellapi.h>

// Room for the longest message: a whole programPath behind its prefix.
const DWORD logMessageSize = configValueSize + 32;

const DWORD controlsWhileRunning = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;

// Shared by the dispatcher's thread (controlHandler) and the service thread
// (serviceMain); every update-and-report and every use of stopEvent holds
// statusLock, so a late stop request can neither report STOP_PENDING after
// STOPPED nor signal a closed event.
static SERVICE_STATUS currentStatus;
static SERVICE_STATUS_HANDLE statusHandle;
static HANDLE stopEvent;
static CRITICAL_SECTION statusLock;

// Sends currentStatus as it stands; the caller holds statusLock.
static void reportStatus()
{
    SetServiceStatus(statusHandle, &currentStatus);
}

// Moves to state with the given controls accepted and reports it.
static void setState(DWORD state, DWORD controlsAccepted)
{
    EnterCriticalSection(&statusLock);
    currentStatus.dwCurrentState = state;
    currentStatus.dwControlsAccepted = controlsAccepted;
    reportStatus();
    LeaveCriticalSection(&statusLock);
}

// Starts the target program through the shell with one parameter, its window
// hidden, without waiting for it; what becomes of it is its own matter.
static void launchTarget(const char *parameter)
{
    ShellExecuteA(NULL, "open", programPath, parameter, NULL, SW_HIDE);
}

// Logs first followed by second; the buffer holds any configured value whole.
static void logJoined(const char *first, const char *second)
{
    char message[logMessageSize];
    if (joinText(message, sizeof message, first, second)) {
        writeLog(message);
    }
}

// Runs on the dispatcher's thread for every control request. Stop and
// shutdown only count while the stop event exists, that is while the service
// runs; every other request just reports the status unchanged.
static VOID WINAPI controlHandler(DWORD control)
{
    EnterCriticalSection(&statusLock);
    bool stopRequest = control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN;
    if (stopRequest && stopEvent != NULL) {
        currentStatus.dwCurrentState = SERVICE_STOP_PENDING;
        reportStatus();
        SetEvent(stopEvent);
    } else {
        reportStatus();
    }
    LeaveCriticalSection(&statusLock);
}

// The service's life from START_PENDING to STOPPED: launch the target with
// "start", wait for a stop or shutdown request, launch it with "close".
// Start parameters are ignored.
static VOID WINAPI serviceMain(DWORD, LPSTR *)
{
    currentStatus.dwServiceType = SERVICE_WIN32;
    currentStatus.dwCurrentState = SERVICE_STOPPED;
    currentStatus.dwControlsAccepted = 0;
    currentStatus.dwWin32ExitCode = NO_ERROR;
    currentStatus.dwServiceSpecificExitCode = 0;
    currentStatus.dwCheckPoint = 0;
    currentStatus.dwWaitHint = 0;

    statusHandle = RegisterServiceCtrlHandlerA(serviceName, controlHandler);
    if (statusHandle == NULL) {
        return;
    }
    setState(SERVICE_START_PENDING, 0);

    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (event == NULL) {
        EnterCriticalSection(&statusLock);
        currentStatus.dwWin32ExitCode = GetLastError();
        LeaveCriticalSection(&statusLock);
        setState(SERVICE_STOPPED, 0);
        return;
    }
    EnterCriticalSection(&statusLock);
    stopEvent = event;
    LeaveCriticalSection(&statusLock);
    setState(SERVICE_RUNNING, controlsWhileRunning);

    logJoined(serviceName, " Created this file");
    launchTarget("start");
    logJoined("start: ", programPath);

    WaitForSingleObject(event, INFINITE);

    launchTarget("close");
    logJoined("stop: ", programPath);
    setState(SERVICE_STOP_PENDING, controlsWhileRunning);

    EnterCriticalSection(&statusLock);
    CloseHandle(stopEvent);
    stopEvent = NULL;
    currentStatus.dwCurrentState = SERVICE_STOPPED;
    currentStatus.dwControlsAccepted = 0;
    reportStatus();
    LeaveCriticalSection(&statusLock);
}

// Hands the service to the SCM and returns once it has stopped, or at once
// when this process was not started by the SCM.
void runDispatcher()
{
    SERVICE_TABLE_ENTRYA serviceTable[] = {{serviceName, serviceMain}, {NULL, NULL}};
    InitializeCriticalSection(&statusLock);
    StartServiceCtrlDispatcherA(serviceTable);
    DeleteCriticalSection(&statusLock);
}
