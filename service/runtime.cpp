// Service mode: the connection to the SCM, the status reports, the control
// handler and the service body that launches the target program.
#include "launch.h"
#include "svclaunch.h"
#include "text.h"

const DWORD controlsWhileRunning = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;

// How long the main thread waits for the service thread to finish its stop
// sequence once the dispatcher has returned; the sequence itself never waits.
const DWORD serviceEndBoundMs = 30000;

// Shared by the dispatcher's thread (controlHandler, then runDispatcher) and
// the service thread (serviceMain); every update-and-report and every use of
// stopEvent holds statusLock, so a late stop request can neither report
// STOP_PENDING after STOPPED nor signal a closed event.
static SERVICE_STATUS currentStatus;
static SERVICE_STATUS_HANDLE statusHandle;
static HANDLE stopEvent;        // exists while the service runs and waits for a stop
static bool dispatcherReturned; // the dispatcher has returned, the service perhaps still running
static HANDLE serviceEnded;     // set when serviceMain returns
static CRITICAL_SECTION statusLock;

// Sends currentStatus as it stands; the caller holds statusLock.
static void reportStatus()
{
    SetServiceStatus(statusHandle, &currentStatus);
}

// Moves to state with the given controls accepted and exit code, and
// reports the whole record, which is built here alone. Its type is
// SERVICE_WIN32, the own-process and share-process bits together, as the
// first Win32 SDK gave it for this field and every Windows takes it, though
// the service is registered as its own process. No checkpoint or wait hint
// is ever given: a pending state gives way to the next without waiting. The
// lock may be held already: a critical section may be entered again by the
// thread that holds it.
static void setState(DWORD state, DWORD controlsAccepted, DWORD exitCode = NO_ERROR)
{
    static const SERVICE_STATUS everyRecord = {SERVICE_WIN32, SERVICE_STOPPED, 0, NO_ERROR, 0, 0, 0};
    EnterCriticalSection(&statusLock);
    currentStatus = everyRecord;
    currentStatus.dwCurrentState = state;
    currentStatus.dwControlsAccepted = controlsAccepted;
    currentStatus.dwWin32ExitCode = exitCode;
    reportStatus();
    LeaveCriticalSection(&statusLock);
}

// Logs first followed by second; the buffer holds any configured value whole.
static void logJoined(const char* first, const char* second)
{
    char message[logMessageSize];
    if (joinText(message, sizeof message, first, second)) {
        writeLog(message);
    }
}

// Asks the running service to stop: STOP_PENDING is reported and the
// service thread woken. Does nothing once the stop event is gone, so nothing
// follows STOPPED. The caller holds statusLock.
static void requestStop()
{
    if (stopEvent != NULL) {
        setState(SERVICE_STOP_PENDING, controlsWhileRunning);
        SetEvent(stopEvent);
    }
}

// Runs on the dispatcher's thread for every control request. Stop and
// shutdown stop the service while it runs; every other request just reports
// the status unchanged. STOPPED is the service thread's alone to report:
// once it has been, the status handle may be gone and a report can crash the
// process, so a late request is left unanswered, as is one that comes before
// the first report, while the record holds no state yet (or, in the host
// tests' one process, an earlier run's STOPPED): every state the service
// reports while alive is above SERVICE_STOPPED.
static VOID WINAPI controlHandler(DWORD control)
{
    EnterCriticalSection(&statusLock);
    bool stopRequest = control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN;
    if (stopRequest && stopEvent != NULL) {
        requestStop();
    } else if (currentStatus.dwCurrentState > SERVICE_STOPPED) {
        reportStatus();
    }
    LeaveCriticalSection(&statusLock);
}

// The service's life from START_PENDING to STOPPED: launch the target with
// "start", wait for a stop or shutdown request, launch it with "close".
static void runService()
{

    statusHandle = RegisterServiceCtrlHandlerA(serviceName, controlHandler);
    if (statusHandle == NULL) {
        return;
    }
    setState(SERVICE_START_PENDING, 0);

    HANDLE event = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (event == NULL) {
        setState(SERVICE_STOPPED, 0, GetLastError());
        return;
    }
    EnterCriticalSection(&statusLock);
    stopEvent = event;
    setState(SERVICE_RUNNING, controlsWhileRunning);
    if (dispatcherReturned) {
        requestStop();
    }
    LeaveCriticalSection(&statusLock);

    logJoined(serviceName, " Created this file");
    launchTarget("start");
    logJoined("start: ", programPath);

    WaitForSingleObject(event, INFINITE);

    launchTarget("close");
    logJoined("stop: ", programPath);
    // Still stopping, once the launch, which may have taken a while, is done:
    // the SCM hears of the service again before it hears STOPPED.
    setState(SERVICE_STOP_PENDING, controlsWhileRunning);

    EnterCriticalSection(&statusLock);
    CloseHandle(stopEvent);
    stopEvent = NULL;
    setState(SERVICE_STOPPED, 0);
    LeaveCriticalSection(&statusLock);
}

// The service's main function, run by the dispatcher on a thread of its own.
// Start parameters are ignored.
static VOID WINAPI serviceMain(DWORD, LPSTR*)
{
    runService();
    if (serviceEnded != NULL) {
        SetEvent(serviceEnded);
    }
}

// Clears what an earlier run of service mode left. A process runs its mode
// once, and finds all this clear; the host tests run many in one process.
static void clearWhatAnEarlierRunLeft()
{
    stopEvent = NULL;
    dispatcherReturned = false;
    forgetShellForAnotherRun();
}

// Hands the service to the SCM and returns once it has stopped, or at once
// when this process was not started by the SCM.
//
// The dispatcher returns as soon as STOPPED has been reported, possibly
// before serviceMain has returned, and it also returns when its connection
// to the SCM breaks while the service still runs. In both cases the service
// thread is given a bounded time to finish, after being asked to stop the
// ordinary way in the second, so that the target is always closed and the
// SCM is told. statusLock is never deleted: the service thread may still be
// leaving it when the process ends.
void runDispatcher()
{
    SERVICE_TABLE_ENTRYA serviceTable[] = {{serviceName, serviceMain}, {NULL, NULL}};
    InitializeCriticalSection(&statusLock);
    clearWhatAnEarlierRunLeft();
    serviceEnded = CreateEventA(NULL, TRUE, FALSE, NULL);
    bool neverConnected =
        !StartServiceCtrlDispatcherA(serviceTable) && GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;

    EnterCriticalSection(&statusLock);
    dispatcherReturned = true;
    requestStop();
    LeaveCriticalSection(&statusLock);
    if (serviceEnded == NULL) {
        return;
    }
    // A service thread may have been started and not yet have entered
    // serviceMain; the event stays open for it unless it has finished.
    if (neverConnected || WaitForSingleObject(serviceEnded, serviceEndBoundMs) == WAIT_OBJECT_0) {
        CloseHandle(serviceEnded);
    }
}
