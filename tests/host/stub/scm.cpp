// The SCM's wing of the stand-in: a scripted dispatcher and status
// reports, the service database, events and the clock.
#include "core.h"

#include <algorithm>
#include <atomic>
#include <stdio.h>
#include <string.h>
#include <thread>

using namespace standin;

namespace {

// A second before GetTickCount wraps, so that every bound is tested across the wrap.
const DWORD clockStart = 0xFFFFFC18;

std::vector<SERVICE_STATUS> reportList;
bool stoppedReported;
bool serviceMainReturned;
std::atomic<DWORD> clockMs{clockStart};
std::atomic<int> timedWaits{0};
std::atomic<bool> abandoned{false}; // the dispatcher gave up on the service
LPHANDLER_FUNCTION registeredHandler;
SERVICE_STATUS_HANDLE__* const theStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE__*>(0x5157);
std::thread lingeringServiceThread; // left running when the connection breaks

// The event behind a handle, or null for a bad use.
std::shared_ptr<EventObject> eventOf(HANDLE handle)
{
    Guard guard(stateMutex);
    Handle* open = handleOf(handle, Kind::event);
    return open != nullptr ? open->event : nullptr;
}

} // namespace

namespace standin {

void resetScm()
{
    reportList.clear();
    stoppedReported = false;
    serviceMainReturned = false;
    registeredHandler = nullptr;
    clockMs = clockStart;
    abandoned = false;
}

} // namespace standin

namespace stub {

void joinServiceThread()
{
    if (lingeringServiceThread.joinable()) {
        lingeringServiceThread.join();
    }
}

DWORD clockNow()
{
    return clockMs;
}

void advanceClock(DWORD milliseconds)
{
    clockMs += milliseconds;
}

int waitsOnTheClock()
{
    return timedWaits;
}

std::vector<SERVICE_STATUS> reports()
{
    Guard guard(stateMutex);
    return reportList;
}

bool deliverControl(DWORD control)
{
    LPHANDLER_FUNCTION handler;
    {
        Guard guard(stateMutex);
        handler = registeredHandler;
    }
    if (handler == nullptr) {
        return false;
    }
    handler(control);
    return true;
}

bool waitForState(DWORD state, std::chrono::milliseconds bound)
{
    std::unique_lock<std::recursive_mutex> lock(stateMutex);
    return reportArrived.wait_for(lock, bound, [state] {
        return std::any_of(reportList.begin(), reportList.end(),
                           [state](const SERVICE_STATUS& s) { return s.dwCurrentState == state; });
    });
}

} // namespace stub

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    if (auto error = injected("CreateEventA")) {
        return failing(*error, nullptr);
    }
    // Only unnamed events that start non-signalled are modelled.
    if (initialState || name != nullptr) {
        return failing(ERROR_INVALID_PARAMETER, nullptr);
    }
    auto event = std::make_shared<EventObject>();
    event->manualReset = manualReset != FALSE;
    return addHandle({Kind::event, "", event});
}

BOOL SetEvent(HANDLE handle)
{
    std::shared_ptr<EventObject> event = eventOf(handle);
    if (event == nullptr) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(event->mutex);
    event->isSet = true;
    event->signalled.notify_all();
    return TRUE;
}

// A finite timeout runs on the stand-in's clock: it ends when the product's
// sleeps or the test have moved the clock that far.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    std::shared_ptr<EventObject> event = eventOf(handle);
    if (event == nullptr) {
        return WAIT_FAILED;
    }
    DWORD start = clockMs;
    auto hangAt = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    std::unique_lock<std::mutex> lock(event->mutex);
    struct Counted {
        bool counts;
        explicit Counted(bool timed) : counts(timed) { timedWaits += counts ? 1 : 0; }
        ~Counted() { timedWaits -= counts ? 1 : 0; }
    } counted(milliseconds != INFINITE);
    while (!event->isSet) {
        if (milliseconds != INFINITE && clockMs - start >= milliseconds) {
            return WAIT_TIMEOUT;
        }
        // A wait that nothing ends is a hang on Windows: here it fails, counted,
        // once the dispatcher has given up on the service or after 15 s.
        if (abandoned || std::chrono::steady_clock::now() >= hangAt) {
            ++theWorld.scm.waitsGivenUp;
            return failing(ERROR_INVALID_HANDLE, WAIT_FAILED);
        }
        event->signalled.wait_for(lock, std::chrono::milliseconds(1));
    }
    if (!event->manualReset) {
        event->isSet = false;
    }
    return WAIT_OBJECT_0;
}

// Moves the stand-in's clock instead of waiting.
void Sleep(DWORD milliseconds)
{
    clockMs += milliseconds;
    std::this_thread::yield();
}

DWORD GetTickCount()
{
    return clockMs;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section)
{
    // Like the product, never deleted; kept reachable for leak checkers.
    static std::vector<std::unique_ptr<std::recursive_mutex>> sections;
    Guard guard(stateMutex);
    sections.push_back(std::make_unique<std::recursive_mutex>());
    section->lock = sections.back().get();
}

void EnterCriticalSection(LPCRITICAL_SECTION section)
{
    static_cast<std::recursive_mutex*>(section->lock)->lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section)
{
    static_cast<std::recursive_mutex*>(section->lock)->unlock();
}

BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table)
{
    if (!theWorld.scm.startedByScm) {
        return failing(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, FALSE);
    }
    theWorld.scm.dispatchedName = table[0].lpServiceName;
    theWorld.scm.tableEndsWithNullEntry = table[1].lpServiceName == nullptr && table[1].lpServiceProc == nullptr;

    std::vector<std::string> arguments = theWorld.scm.startParameters;
    arguments.insert(arguments.begin(), theWorld.scm.dispatchedName);
    LPSERVICE_MAIN_FUNCTIONA serviceMain = table[0].lpServiceProc;
    // The thread owns its arguments: it outlives this call.
    static std::atomic<bool> dispatcherReturned;
    dispatcherReturned = false;
    bool startsLate = theWorld.scm.serviceStartsLate;
    stub::joinServiceThread();
    lingeringServiceThread = std::thread([serviceMain, arguments, startsLate]() mutable {
        while (startsLate && !dispatcherReturned) {
            std::this_thread::yield();
        }
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        serviceMain(static_cast<DWORD>(arguments.size()), argv.data());
        Guard guard(stateMutex);
        serviceMainReturned = true;
        reportArrived.notify_all();
    });
    if (theWorld.scm.scmDriver) {
        theWorld.scm.scmDriver();
    } else if (stub::waitForState(SERVICE_RUNNING)) {
        stub::deliverControl(SERVICE_CONTROL_STOP);
    }
    if (theWorld.scm.connectionBreaks) {
        dispatcherReturned = true;
        return failing(ERROR_BROKEN_PIPE, FALSE);
    }
    // As on Windows, the call returns once the service has reported
    // STOPPED, which may be before serviceMain has returned. A service that
    // never does is given up on after a bound, as if the connection broke.
    std::unique_lock<std::recursive_mutex> lock(stateMutex);
    if (!reportArrived.wait_for(lock, stub::stoppedBound, [] { return stoppedReported || serviceMainReturned; })) {
        theWorld.scm.stoppedNeverReported = true;
        abandoned = true;
        fprintf(stderr, "stand-in: no STOPPED within %lld s; the dispatcher returns as on a broken connection\n",
                static_cast<long long>(stub::stoppedBound.count()));
        dispatcherReturned = true;
        return failing(ERROR_BROKEN_PIPE, FALSE);
    }
    dispatcherReturned = true;
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR serviceName, LPHANDLER_FUNCTION handler)
{
    theWorld.scm.handlerName = serviceName;
    if (auto error = injected("RegisterServiceCtrlHandlerA")) {
        return failing(*error, nullptr);
    }
    Guard guard(stateMutex);
    registeredHandler = handler;
    return theStatusHandle;
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    Guard guard(stateMutex);
    if (handle != theStatusHandle) {
        ++theWorld.badHandleUses;
        return failing(ERROR_INVALID_HANDLE, FALSE);
    }
    // After STOPPED the handle may be gone, and on Windows a call may crash.
    if (stoppedReported) {
        ++theWorld.scm.reportsAfterStopped;
        return failing(ERROR_INVALID_HANDLE, FALSE);
    }
    reportList.push_back(*status);
    stoppedReported = status->dwCurrentState == SERVICE_STOPPED;
    record("report " + std::to_string(status->dwCurrentState));
    return TRUE;
}

SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access)
{
    theWorld.scm.managerAccess.push_back(access);
    if (auto error = injected("OpenSCManagerA")) {
        return failing(*error, nullptr);
    }
    // Only the local machine's active database is modelled.
    if (machineName != nullptr || databaseName != nullptr) {
        return failing(ERROR_INVALID_PARAMETER, nullptr);
    }
    return static_cast<SC_HANDLE>(addHandle({Kind::manager}));
}

SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD access, DWORD serviceType,
                         DWORD startType, DWORD errorControl, LPCSTR binaryPath, LPCSTR loadOrderGroup, LPDWORD tagId,
                         LPCSTR dependencies, LPCSTR account, LPCSTR password)
{
    theWorld.scm.creates.push_back({serviceName, displayName, access, serviceType, startType, errorControl, binaryPath,
                                    loadOrderGroup != nullptr, tagId != nullptr, dependencies != nullptr,
                                    account != nullptr, password != nullptr});
    if (handleOf(manager, Kind::manager) == nullptr) {
        return nullptr;
    }
    if (auto error = injected("CreateServiceA")) {
        return failing(*error, nullptr);
    }
    // As Windows documents: names of at most 256 characters, without a slash or backslash.
    for (const char* name : {serviceName, displayName}) {
        if (strlen(name) > 256 || (name == serviceName && strpbrk(name, "/\\") != nullptr)) {
            return failing(ERROR_INVALID_NAME, nullptr);
        }
    }
    std::string key = lowerCase(serviceName);
    if (theWorld.scm.services.count(key) != 0) {
        return failing(ERROR_SERVICE_EXISTS, nullptr);
    }
    for (auto& entry : theWorld.scm.services) {
        if (lowerCase(entry.second.displayName) == lowerCase(displayName)) {
            return failing(ERROR_DUPLICATE_SERVICE_NAME, nullptr);
        }
    }
    theWorld.scm.services[key] = {displayName, binaryPath, SERVICE_STOPPED};
    return static_cast<SC_HANDLE>(addHandle({Kind::service, serviceName}));
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access)
{
    theWorld.scm.openedServiceNames.push_back(serviceName);
    theWorld.scm.serviceAccess.push_back(access);
    if (handleOf(manager, Kind::manager) == nullptr) {
        return nullptr;
    }
    if (auto error = injected("OpenServiceA")) {
        return failing(*error, nullptr);
    }
    if (theWorld.scm.services.count(lowerCase(serviceName)) == 0) {
        return failing(ERROR_SERVICE_DOES_NOT_EXIST, nullptr);
    }
    return static_cast<SC_HANDLE>(addHandle({Kind::service, serviceName}));
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status)
{
    Handle* object = handleOf(service, Kind::service);
    if (object == nullptr) {
        return FALSE;
    }
    if (auto error = injected("QueryServiceStatus")) {
        return failing(*error, FALSE);
    }
    auto found = theWorld.scm.services.find(lowerCase(object->name));
    *status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    if (found != theWorld.scm.services.end()) {
        status->dwCurrentState = found->second.state;
    }
    return TRUE;
}

BOOL DeleteService(SC_HANDLE service)
{
    Handle* object = handleOf(service, Kind::service);
    if (object == nullptr) {
        return FALSE;
    }
    if (auto error = injected("DeleteService")) {
        return failing(*error, FALSE);
    }
    if (theWorld.scm.services.erase(lowerCase(object->name)) == 0) {
        return failing(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
    }
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle)
{
    Handle* object = handleOf(handle, Kind::manager, Kind::service);
    if (object == nullptr) {
        return FALSE;
    }
    Guard guard(stateMutex);
    theWorld.scm.closedHandles.push_back(object->kind == Kind::manager ? "manager" : "service:" + object->name);
    handles.erase(handle);
    return TRUE;
}
