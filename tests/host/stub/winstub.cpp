// Behaviour of the Win32 stand-in: a scripted SCM, a service database and
// the few kernel and shell calls, each recording what it was asked.
#include "stub_world.h"

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <ctype.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <set>
#include <string.h>
#include <thread>
#include <unistd.h>

namespace {

struct ScObject {
    bool isManager;
    std::string name;
};

struct EventObject {
    bool manualReset;
    std::mutex mutex;
    std::condition_variable signalled;
    bool isSet = false;
    bool closed = false;
};

stub::World theWorld;
std::mutex stateMutex; // guards the handle sets and the report list
std::condition_variable reportArrived;
std::vector<SERVICE_STATUS> reportList;
std::set<ScObject*> liveScHandles;
std::vector<std::unique_ptr<EventObject>> allEvents; // kept until reset, so a late use is seen
std::map<HANDLE, int> openFiles;                     // file handle to its descriptor
intptr_t nextFileHandle = 0x7000;
std::set<HANDLE> lockedFiles;
LPHANDLER_FUNCTION registeredHandler;
SERVICE_STATUS_HANDLE__* const theStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE__*>(0x5157);
thread_local DWORD lastError;
std::thread lingeringServiceThread; // left running when the connection breaks

std::string lowerCase(const std::string& text)
{
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return tolower(c); });
    return lower;
}

// Fails the call with error when one is set; returns whether it did.
bool failWith(DWORD error)
{
    if (error == 0) {
        return false;
    }
    lastError = error;
    return true;
}

ScObject* liveScObject(SC_HANDLE handle)
{
    std::lock_guard<std::mutex> guard(stateMutex);
    auto* object = reinterpret_cast<ScObject*>(handle);
    if (liveScHandles.count(object) == 0) {
        ++theWorld.badHandleUses;
        return nullptr;
    }
    return object;
}

SC_HANDLE newScHandle(bool isManager, const std::string& name)
{
    std::lock_guard<std::mutex> guard(stateMutex);
    auto* object = new ScObject{isManager, name};
    liveScHandles.insert(object);
    return reinterpret_cast<SC_HANDLE>(object);
}

EventObject* liveEvent(HANDLE handle)
{
    std::lock_guard<std::mutex> guard(stateMutex);
    for (auto& event : allEvents) {
        if (event.get() == handle && !event->closed) {
            return event.get();
        }
    }
    ++theWorld.badHandleUses;
    return nullptr;
}

} // namespace

namespace stub {

World& world()
{
    return theWorld;
}

void joinServiceThread()
{
    if (lingeringServiceThread.joinable()) {
        lingeringServiceThread.join();
    }
}

void reset()
{
    joinServiceThread();
    std::lock_guard<std::mutex> guard(stateMutex);
    for (ScObject* object : liveScHandles) {
        delete object;
    }
    liveScHandles.clear();
    allEvents.clear();
    reportList.clear();
    registeredHandler = nullptr;
    theWorld = World();
}

int openScHandles()
{
    std::lock_guard<std::mutex> guard(stateMutex);
    return static_cast<int>(liveScHandles.size());
}

int openFileHandles()
{
    std::lock_guard<std::mutex> guard(stateMutex);
    return static_cast<int>(openFiles.size());
}

int openEvents()
{
    std::lock_guard<std::mutex> guard(stateMutex);
    return static_cast<int>(std::count_if(allEvents.begin(), allEvents.end(), [](auto& e) { return !e->closed; }));
}

std::vector<SERVICE_STATUS> reports()
{
    std::lock_guard<std::mutex> guard(stateMutex);
    return reportList;
}

bool deliverControl(DWORD control)
{
    LPHANDLER_FUNCTION handler;
    {
        std::lock_guard<std::mutex> guard(stateMutex);
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
    std::unique_lock<std::mutex> lock(stateMutex);
    return reportArrived.wait_for(lock, bound, [state] {
        return std::any_of(reportList.begin(), reportList.end(),
                           [state](const SERVICE_STATUS& s) { return s.dwCurrentState == state; });
    });
}

} // namespace stub

DWORD GetLastError()
{
    return lastError;
}

void SetLastError(DWORD error)
{
    lastError = error;
}

int lstrcmpiA(LPCSTR first, LPCSTR second)
{
    return strcasecmp(first, second);
}

DWORD GetModuleFileNameA(HMODULE, LPSTR fileName, DWORD size)
{
    if (failWith(theWorld.moduleFileNameError)) {
        return 0;
    }
    // As on Windows XP and later: a path that does not fit is cut to
    // size - 1 characters and the whole size is returned.
    const std::string& path = theWorld.modulePath;
    if (path.size() >= size) {
        memcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = '\0';
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return size;
    }
    memcpy(fileName, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    const char folder[] = "C:\\WINNT\\system32";
    if (size < sizeof folder) {
        return sizeof folder;
    }
    memcpy(buffer, folder, sizeof folder);
    return sizeof folder - 1;
}

HMODULE LoadLibraryA(LPCSTR fileName)
{
    theWorld.loadedLibraries.push_back(fileName);
    if (lowerCase(fileName) != "c:\\winnt\\system32\\shell32.dll" || !theWorld.shell32Loads) {
        lastError = 126; // ERROR_MOD_NOT_FOUND
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(0x5E11);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName)
{
    if (module != reinterpret_cast<HMODULE>(0x5E11) || strcmp(procName, "ShellExecuteA") != 0) {
        lastError = 127; // ERROR_PROC_NOT_FOUND
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&ShellExecuteA));
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    if (failWith(theWorld.createEventError)) {
        return nullptr;
    }
    // Only unnamed events that start non-signalled are modelled.
    if (initialState || name != nullptr) {
        lastError = 87;
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(stateMutex);
    ++theWorld.eventsCreated;
    allEvents.push_back(std::make_unique<EventObject>());
    allEvents.back()->manualReset = manualReset != FALSE;
    return allEvents.back().get();
}

BOOL SetEvent(HANDLE handle)
{
    EventObject* event = liveEvent(handle);
    if (event == nullptr) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(event->mutex);
    event->isSet = true;
    event->signalled.notify_all();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD)
{
    EventObject* event = liveEvent(handle);
    if (event == nullptr) {
        lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(event->mutex);
    event->signalled.wait(lock, [event] { return event->isSet; });
    event->isSet = false; // automatic reset
    return WAIT_OBJECT_0;
}

// Only what the log needs: opening for appending, creating if missing.
HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition, DWORD,
                   HANDLE)
{
    if (access != FILE_APPEND_DATA || creationDisposition != OPEN_ALWAYS) {
        lastError = 87;
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(fileName, O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0) {
        lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> guard(stateMutex);
    HANDLE handle = reinterpret_cast<HANDLE>(nextFileHandle++);
    openFiles[handle] = fd;
    return handle;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, LPDWORD written, void*)
{
    int fd;
    {
        std::lock_guard<std::mutex> guard(stateMutex);
        auto found = openFiles.find(file);
        if (found == openFiles.end()) {
            ++theWorld.badHandleUses;
            lastError = ERROR_INVALID_HANDLE;
            return FALSE;
        }
        fd = found->second;
    }
    ssize_t count = write(fd, buffer, size);
    *written = count > 0 ? static_cast<DWORD>(count) : 0;
    return count == static_cast<ssize_t>(size);
}

// One process writes in the unit tests: the turn to append is always free,
// but it must be taken on an open file and given back before closing.
BOOL LockFileEx(HANDLE file, DWORD, DWORD, DWORD, DWORD, LPOVERLAPPED)
{
    std::lock_guard<std::mutex> guard(stateMutex);
    if (openFiles.count(file) == 0 || lockedFiles.count(file) != 0) {
        ++theWorld.badHandleUses;
        return FALSE;
    }
    if (theWorld.appendTurnHeldElsewhere) {
        lastError = 33; // ERROR_LOCK_VIOLATION
        return FALSE;
    }
    lockedFiles.insert(file);
    return TRUE;
}

BOOL UnlockFileEx(HANDLE file, DWORD, DWORD, DWORD, LPOVERLAPPED)
{
    std::lock_guard<std::mutex> guard(stateMutex);
    if (lockedFiles.erase(file) == 0) {
        ++theWorld.badHandleUses;
        return FALSE;
    }
    return TRUE;
}

void Sleep(DWORD milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD GetTickCount()
{
    auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

BOOL CloseHandle(HANDLE handle)
{
    {
        std::lock_guard<std::mutex> guard(stateMutex);
        auto found = openFiles.find(handle);
        if (found != openFiles.end()) {
            if (lockedFiles.count(handle) != 0) {
                ++theWorld.badHandleUses; // closed while holding the turn
            }
            close(found->second);
            openFiles.erase(found);
            return TRUE;
        }
    }
    EventObject* event = liveEvent(handle);
    if (event == nullptr) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(stateMutex);
    event->closed = true;
    return TRUE;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section)
{
    // Like the product, never deleted; kept reachable for leak checkers.
    static std::vector<std::unique_ptr<std::recursive_mutex>> sections;
    std::lock_guard<std::mutex> guard(stateMutex);
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
    if (!theWorld.startedByScm) {
        lastError = ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
        return FALSE;
    }
    theWorld.dispatchedName = table[0].lpServiceName;
    theWorld.tableEndsWithNullEntry = table[1].lpServiceName == nullptr && table[1].lpServiceProc == nullptr;

    std::vector<std::string> arguments = theWorld.startParameters;
    arguments.insert(arguments.begin(), theWorld.dispatchedName);
    LPSERVICE_MAIN_FUNCTIONA serviceMain = table[0].lpServiceProc;
    // The thread owns its arguments: it may outlive this call.
    static std::atomic<bool> dispatcherReturned;
    dispatcherReturned = false;
    bool startsLate = theWorld.serviceStartsLate;
    std::thread serviceThread([serviceMain, arguments, startsLate]() mutable {
        while (startsLate && !dispatcherReturned) {
            std::this_thread::yield();
        }
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        serviceMain(static_cast<DWORD>(arguments.size()), argv.data());
    });
    if (theWorld.scmDriver) {
        theWorld.scmDriver();
    } else if (stub::waitForState(SERVICE_RUNNING)) {
        stub::deliverControl(SERVICE_CONTROL_STOP);
    }
    if (theWorld.connectionBreaks) {
        lingeringServiceThread = std::move(serviceThread);
        lastError = ERROR_BROKEN_PIPE;
        dispatcherReturned = true;
        return FALSE;
    }
    serviceThread.join();
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR serviceName, LPHANDLER_FUNCTION handler)
{
    theWorld.handlerName = serviceName;
    if (failWith(theWorld.registerHandlerError)) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(stateMutex);
    registeredHandler = handler;
    return theStatusHandle;
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    std::lock_guard<std::mutex> guard(stateMutex);
    if (handle != theStatusHandle) {
        ++theWorld.badHandleUses;
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    reportList.push_back(*status);
    reportArrived.notify_all();
    return TRUE;
}

SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access)
{
    theWorld.managerAccess.push_back(access);
    if (failWith(theWorld.openManagerError)) {
        return nullptr;
    }
    // Only the local machine's active database is modelled.
    if (machineName != nullptr || databaseName != nullptr) {
        lastError = 87;
        return nullptr;
    }
    return newScHandle(true, "");
}

SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD access, DWORD serviceType,
                         DWORD startType, DWORD errorControl, LPCSTR binaryPath, LPCSTR loadOrderGroup, LPDWORD tagId,
                         LPCSTR dependencies, LPCSTR account, LPCSTR password)
{
    theWorld.creates.push_back({serviceName, displayName, access, serviceType, startType, errorControl, binaryPath,
                                loadOrderGroup != nullptr, tagId != nullptr, dependencies != nullptr,
                                account != nullptr, password != nullptr});
    ScObject* object = liveScObject(manager);
    if (object == nullptr || !object->isManager) {
        lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (failWith(theWorld.createServiceError)) {
        return nullptr;
    }
    std::string key = lowerCase(serviceName);
    if (theWorld.services.count(key) != 0) {
        lastError = ERROR_SERVICE_EXISTS;
        return nullptr;
    }
    for (auto& entry : theWorld.services) {
        if (lowerCase(entry.second.displayName) == lowerCase(displayName)) {
            lastError = ERROR_DUPLICATE_SERVICE_NAME;
            return nullptr;
        }
    }
    theWorld.services[key] = {displayName, binaryPath, SERVICE_STOPPED};
    return newScHandle(false, serviceName);
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access)
{
    theWorld.openedServiceNames.push_back(serviceName);
    theWorld.serviceAccess.push_back(access);
    ScObject* object = liveScObject(manager);
    if (object == nullptr || !object->isManager) {
        lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (failWith(theWorld.openServiceError)) {
        return nullptr;
    }
    if (theWorld.services.count(lowerCase(serviceName)) == 0) {
        lastError = ERROR_SERVICE_DOES_NOT_EXIST;
        return nullptr;
    }
    return newScHandle(false, serviceName);
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status)
{
    ScObject* object = liveScObject(service);
    if (object == nullptr || object->isManager) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (failWith(theWorld.queryStatusError)) {
        return FALSE;
    }
    auto found = theWorld.services.find(lowerCase(object->name));
    *status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    if (found != theWorld.services.end()) {
        status->dwCurrentState = found->second.state;
    }
    return TRUE;
}

BOOL DeleteService(SC_HANDLE service)
{
    ScObject* object = liveScObject(service);
    if (object == nullptr || object->isManager) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (failWith(theWorld.deleteServiceError)) {
        return FALSE;
    }
    if (theWorld.services.erase(lowerCase(object->name)) == 0) {
        lastError = ERROR_SERVICE_MARKED_FOR_DELETE;
        return FALSE;
    }
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle)
{
    ScObject* object = liveScObject(handle);
    if (object == nullptr) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(stateMutex);
    theWorld.closedHandles.push_back(object->isManager ? "manager" : "service:" + object->name);
    liveScHandles.erase(object);
    delete object;
    return TRUE;
}

HINSTANCE ShellExecuteA(HWND window, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory, int show)
{
    theWorld.launches.push_back({window != nullptr, operation ? operation : "", file ? file : "",
                                 parameters ? parameters : "", directory != nullptr, show});
    return reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(42)); // above 32: started
}
