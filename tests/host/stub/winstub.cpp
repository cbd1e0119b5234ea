// Behaviour of the Win32 stand-in: a scripted SCM, a service database and
// the few kernel and shell calls, each recording what it was asked.
#include "stub_world.h"

#include <lm.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <set>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

struct EventObject {
    bool manualReset;
    std::mutex mutex;
    std::condition_variable signalled;
    bool isSet = false;
};

struct OpenFile {
    int fd;
    DWORD access;
    DWORD share;
    dev_t device;
    ino_t inode;
    bool locked;
    uint64_t lockStart; // the byte range locked, while locked
    uint64_t lockLength;
};

// What a handle stands for.
enum class Kind { manager, service, event, file, search, token, netBuffer };

struct Handle {
    Kind kind;
    std::string name = "";                        // a service's name
    std::shared_ptr<EventObject> event = nullptr; // kept for a wait that outlasts the handle
    OpenFile file = {};
    std::vector<WIN32_FIND_DATAW> listing = {};   // a search's entries still to come
    std::shared_ptr<std::string> bytes = nullptr; // a buffer netapi32 gave out
};

// A second before GetTickCount wraps, so that every bound is tested across the wrap.
const DWORD clockStart = 0xFFFFFC18;

stub::World theWorld;
std::recursive_mutex stateMutex; // guards the handles and the report list
std::condition_variable_any reportArrived;
using Guard = std::lock_guard<std::recursive_mutex>;
std::vector<SERVICE_STATUS> reportList;
std::vector<std::string> timelineList;
bool stoppedReported;
bool serviceMainReturned;
std::map<void*, Handle> handles; // the open ones: a closed handle is gone, so a late use is seen
intptr_t nextHandle = 0x7000;
std::atomic<DWORD> clockMs{clockStart};
std::atomic<int> timedWaits{0};
std::atomic<bool> abandoned{false}; // the dispatcher gave up on the service
LPHANDLER_FUNCTION registeredHandler;
SERVICE_STATUS_HANDLE__* const theStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE__*>(0x5157);
HMODULE const shell32 = reinterpret_cast<HMODULE>(0x5E11);
HMODULE const kernel32 = reinterpret_cast<HMODULE>(0x6E31);
HMODULE const netapi32 = reinterpret_cast<HMODULE>(0x7E7A);
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

// Fails the call when the world names it among the failing calls, with the
// error given there; returns whether it did.
bool fails(const char* call)
{
    auto failing = theWorld.failingCalls.find(call);
    if (failing == theWorld.failingCalls.end()) {
        return false;
    }
    lastError = failing->second;
    return true;
}

// A new open handle.
void* addHandle(Handle handle)
{
    Guard guard(stateMutex);
    void* added = reinterpret_cast<void*>(nextHandle++);
    handles[added] = std::move(handle);
    return added;
}

// The open handle, when it is of that kind (or the other one given);
// otherwise a bad use, counted, and ERROR_INVALID_HANDLE.
Handle* handleOf(const void* handle, Kind kind, Kind orKind)
{
    Guard guard(stateMutex);
    auto found = handles.find(const_cast<void*>(handle));
    if (found == handles.end() || (found->second.kind != kind && found->second.kind != orKind)) {
        ++theWorld.badHandleUses;
        lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return &found->second;
}

Handle* handleOf(const void* handle, Kind kind)
{
    return handleOf(handle, kind, kind);
}

// The event behind a handle, or null for a bad use.
std::shared_ptr<EventObject> eventOf(HANDLE handle)
{
    Guard guard(stateMutex);
    Handle* open = handleOf(handle, Kind::event);
    return open != nullptr ? open->event : nullptr;
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
    Guard guard(stateMutex);
    for (auto& open : handles) {
        if (open.second.kind == Kind::file) {
            close(open.second.file.fd);
        }
    }
    handles.clear();
    reportList.clear();
    timelineList.clear();
    stoppedReported = false;
    serviceMainReturned = false;
    registeredHandler = nullptr;
    clockMs = clockStart;
    abandoned = false;
    theWorld = World();
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

int openHandles()
{
    Guard guard(stateMutex);
    return static_cast<int>(handles.size());
}

std::string faultsOfTheRun()
{
    const struct {
        bool fault;
        const char* what;
    } checks[] = {
        {openHandles() != 0, "a handle was left open"},
        {theWorld.badHandleUses != 0, "a closed or unknown handle was used"},
        {theWorld.reportsAfterStopped != 0, "SetServiceStatus was called after STOPPED"},
        {theWorld.stoppedNeverReported, "the service never reported STOPPED"},
        {theWorld.waitsGivenUp != 0, "a wait that nothing ended"},
        {theWorld.promptsShown != 0, "a launch showed a window on the service's desktop"},
        {theWorld.blockingLocks != 0, "a lock on the log would wait for another writer's"},
        {theWorld.loadsSearchingPath != 0, "a library was loaded with the DLL search reaching PATH"},
    };
    std::string faults;
    for (const auto& check : checks) {
        faults += check.fault ? std::string(check.what) + "\n" : "";
    }
    return faults;
}

std::vector<SERVICE_STATUS> reports()
{
    Guard guard(stateMutex);
    return reportList;
}

std::vector<std::string> timeline()
{
    Guard guard(stateMutex);
    return timelineList;
}

bool waitForEntry(const std::string& entry, std::chrono::milliseconds bound)
{
    std::unique_lock<std::recursive_mutex> lock(stateMutex);
    return reportArrived.wait_for(lock, bound, [&entry] {
        return std::find(timelineList.begin(), timelineList.end(), entry) != timelineList.end();
    });
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

DWORD GetLastError()
{
    return lastError;
}

namespace {

// UTF-8 to UTF-16 code units; a malformed byte becomes U+FFFD.
std::basic_string<WCHAR> fromUtf8(const std::string& text)
{
    std::basic_string<WCHAR> wide;
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : 3;
        uint32_t code = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
        bool valid = (lead < 0x80 || (lead >= 0xC2 && lead <= 0xF4)) && i + extra < text.size();
        for (size_t k = 1; valid && k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!valid || code > 0xFFFF) {
            wide += 0xFFFD;
            ++i;
            continue;
        }
        wide += static_cast<WCHAR>(code);
        i += extra + 1;
    }
    return wide;
}

// Shift-JIS (code page 932) spells the hiragana U+3041 to U+3093 as 0x82
// followed by 0x9F to 0xF1.
const WCHAR firstHiragana = 0x3041;
const WCHAR lastHiragana = 0x3093;
const unsigned char hiraganaLead = 0x82;
const unsigned char firstHiraganaTrail = 0x9F;

// The bytes of one character in the stand-in's ANSI code page: 1252 as far
// as Latin-1 goes, or 932 for ASCII and hiragana; best fit where it has
// none (U+0101 a with macron becomes "a"), as Windows does.
std::string toAnsi(WCHAR c)
{
    if (theWorld.ansiCodePage == 932 && c >= firstHiragana && c <= lastHiragana) {
        return {static_cast<char>(hiraganaLead), static_cast<char>(firstHiraganaTrail + (c - firstHiragana))};
    }
    bool latin1 = theWorld.ansiCodePage == 1252 && c >= 0xA0 && c <= 0xFF;
    return std::string(1, c < 0x80 || latin1 ? static_cast<char>(c) : c == 0x0101 ? 'a' : '?');
}

// Bytes in the stand-in's ANSI code page back to UTF-16.
std::basic_string<WCHAR> fromAnsi(const char* bytes)
{
    std::basic_string<WCHAR> wide;
    for (const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes); *b != 0; ++b) {
        if (theWorld.ansiCodePage == 932 && *b == hiraganaLead && b[1] >= firstHiraganaTrail &&
            b[1] <= firstHiraganaTrail + (lastHiragana - firstHiragana)) {
            wide += static_cast<WCHAR>(firstHiragana + (*++b - firstHiraganaTrail));
        } else {
            wide += theWorld.ansiCodePage == 932 && *b >= 0x80 ? WCHAR{0xFFFD} : WCHAR{*b};
        }
    }
    return wide;
}

} // namespace

// The characters of an ANSI path, which Windows' limits count.
size_t charactersIn(const char* ansi)
{
    return fromAnsi(ansi).size();
}

namespace {

// Copies a path of length characters as Windows XP and later do: one that
// does not fit is cut to size - 1 characters and the whole size is returned.
template <typename Char> DWORD copyModulePath(const Char* path, size_t length, Char* out, DWORD size)
{
    if (length >= size) {
        std::copy(path, path + size - 1, out);
        out[size - 1] = 0;
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return size;
    }
    std::copy(path, path + length + 1, out);
    return static_cast<DWORD>(length);
}

} // namespace

DWORD GetModuleFileNameW(HMODULE, LPWSTR fileName, DWORD size)
{
    if (fails("GetModuleFileNameW")) {
        return 0;
    }
    std::basic_string<WCHAR> path = fromUtf8(theWorld.modulePath);
    return copyModulePath(path.c_str(), path.size(), fileName, size);
}

// Only what the product asks: the ANSI code page, whole terminated strings.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR bytes, int size, LPCSTR, LPBOOL)
{
    if (codePage != CP_ACP || flags != 0 || wideLength != -1) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::string ansi;
    for (; *wide != 0; ++wide) {
        ansi += toAnsi(*wide);
    }
    if (ansi.size() + 1 > static_cast<size_t>(size)) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    memcpy(bytes, ansi.c_str(), ansi.size() + 1);
    return static_cast<int>(ansi.size() + 1);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int byteLength, LPWSTR wide, int size)
{
    if (codePage != CP_ACP || flags != 0 || byteLength != -1) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::basic_string<WCHAR> text = fromAnsi(bytes);
    if (text.size() + 1 > static_cast<size_t>(size)) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::copy(text.c_str(), text.c_str() + text.size() + 1, wide);
    return static_cast<int>(text.size() + 1);
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

// The system's DLLs that the product may load, by their full paths.
HMODULE LoadLibraryA(LPCSTR fileName)
{
    theWorld.loadedLibraries.push_back(fileName);
    if (theWorld.kernelLimitsDllSearch && theWorld.dllSearchFlags != LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) {
        ++theWorld.loadsSearchingPath;
    }
    const struct {
        const char* path;
        HMODULE module;
    } libraries[] = {{"c:\\winnt\\system32\\shell32.dll", shell32}, {"c:\\winnt\\system32\\netapi32.dll", netapi32}};
    for (const auto& library : libraries) {
        if (lowerCase(fileName) == library.path &&
            theWorld.unloadableLibraries.count(std::string(library.path).substr(18)) == 0) {
            return library.module;
        }
    }
    lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

HMODULE GetModuleHandleA(LPCSTR moduleName)
{
    return lowerCase(moduleName) == "kernel32.dll" ? kernel32 : nullptr;
}

namespace {

// Whether path, or a folder above it, is one that the world says is not
// there: ERROR_FILE_NOT_FOUND and ERROR_PATH_NOT_FOUND as Windows tells
// them apart; 0 when it is there.
DWORD missingError(const std::string& path)
{
    std::string key = lowerCase(path);
    for (const std::string& missing : theWorld.missingPaths) {
        if (key == missing) {
            return ERROR_FILE_NOT_FOUND;
        }
        if (key.rfind(missing + "\\", 0) == 0) {
            return ERROR_PATH_NOT_FOUND;
        }
    }
    return 0;
}

BOOL WINAPI setDefaultDllDirectories(DWORD flags)
{
    theWorld.dllSearchFlags = flags;
    return TRUE;
}

// shell32's DllGetVersion, reporting the world's shell version. It needs
// its size field set, as Windows' does.
HRESULT WINAPI shellDllGetVersion(DLLVERSIONINFO* version)
{
    if (version == nullptr || version->cbSize != sizeof(DLLVERSIONINFO)) {
        return static_cast<HRESULT>(0x80070057); // E_INVALIDARG
    }
    version->dwMajorVersion = theWorld.shellVersion;
    version->dwMinorVersion = 0;
    return S_OK;
}

void appendSid(std::string& out, const std::string& text);
std::string lowerCase(const std::string& text);

// netapi32's NetLocalGroupGetMembers, for this machine's groups: at level 0
// each member's SID, in an array of LOCALGROUP_MEMBERS_INFO_0 followed by
// the SIDs they point to, in a buffer that stays out until NetApiBufferFree,
// even when the call fails with ERROR_MORE_DATA.
NET_API_STATUS WINAPI netLocalGroupGetMembers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                              DWORD preferredLength, LPDWORD read, LPDWORD total, PDWORD_PTR resume)
{
    *buffer = nullptr;
    *read = 0;
    *total = 0;
    if (server != nullptr) {
        return NERR_InvalidComputer; // only this machine is modelled
    }
    if (level != 0) {
        return ERROR_INVALID_LEVEL; // only SIDs are modelled: other levels resolve names
    }
    if (preferredLength != MAX_PREFERRED_LENGTH || resume != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string name;
    for (; *group != 0; ++group) {
        name += static_cast<char>(*group);
    }
    if (lowerCase(name) != lowerCase(theWorld.administratorsGroupName)) {
        return ERROR_NO_SUCH_ALIAS;
    }
    auto failing = theWorld.failingCalls.find("NetLocalGroupGetMembers");
    NET_API_STATUS status = failing != theWorld.failingCalls.end() ? failing->second : NERR_Success;
    if (status != NERR_Success && status != ERROR_MORE_DATA) {
        return status;
    }
    // ERROR_MORE_DATA: the buffer holds only the first half.
    const std::vector<std::string>& members = theWorld.administrators;
    size_t given = status == ERROR_MORE_DATA ? members.size() / 2 : members.size();
    std::string sids;
    std::vector<size_t> offsets;
    for (size_t i = 0; i < given; ++i) {
        offsets.push_back(sids.size());
        appendSid(sids, members[i]);
    }
    const size_t arraySize = given * sizeof(LOCALGROUP_MEMBERS_INFO_0);
    auto bytes = std::make_shared<std::string>(arraySize + sids.size() + 1, '\0');
    auto* info = reinterpret_cast<LOCALGROUP_MEMBERS_INFO_0*>(&(*bytes)[0]);
    memcpy(&(*bytes)[arraySize], sids.data(), sids.size());
    for (size_t i = 0; i < given; ++i) {
        info[i].lgrmi0_sid = &(*bytes)[arraySize + offsets[i]];
    }
    Handle handle = {Kind::netBuffer};
    handle.bytes = bytes;
    Guard guard(stateMutex);
    handles[info] = handle;
    *buffer = reinterpret_cast<LPBYTE>(info);
    *read = static_cast<DWORD>(given);
    *total = static_cast<DWORD>(members.size());
    return status;
}

NET_API_STATUS WINAPI netApiBufferFree(LPVOID buffer)
{
    Guard guard(stateMutex);
    return handleOf(buffer, Kind::netBuffer) != nullptr && handles.erase(buffer) == 1 ? NERR_Success
                                                                                      : ERROR_INVALID_PARAMETER;
}

} // namespace

FARPROC GetProcAddress(HMODULE module, LPCSTR procName)
{
    // Through the generic function pointer type, which may be cast to any other.
    auto address = [](auto function) { return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function)); };
    const struct {
        HMODULE module;
        const char* name;
        FARPROC address;
        bool present;
    } exports[] = {
        {shell32, "ShellExecuteExA", address(&ShellExecuteExA), true},
        {shell32, "DllGetVersion", address(&shellDllGetVersion), theWorld.shellVersion != stub::noDllGetVersion},
        {kernel32, "SetDefaultDllDirectories", address(&setDefaultDllDirectories), theWorld.kernelLimitsDllSearch},
        {netapi32, "NetLocalGroupGetMembers", address(&netLocalGroupGetMembers), true},
        {netapi32, "NetApiBufferFree", address(&netApiBufferFree), true},
    };
    for (const auto& exported : exports) {
        if (exported.module == module && strcmp(exported.name, procName) == 0 && exported.present) {
            return exported.address;
        }
    }
    lastError = ERROR_PROC_NOT_FOUND;
    return nullptr;
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    if (fails("CreateEventA")) {
        return nullptr;
    }
    // Only unnamed events that start non-signalled are modelled.
    if (initialState || name != nullptr) {
        lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
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
            ++theWorld.waitsGivenUp;
            lastError = ERROR_INVALID_HANDLE;
            return WAIT_FAILED;
        }
        event->signalled.wait_for(lock, std::chrono::milliseconds(1));
    }
    if (!event->manualReset) {
        event->isSet = false;
    }
    return WAIT_OBJECT_0;
}

namespace {

bool readsData(DWORD access)
{
    return (access & (GENERIC_READ | FILE_READ_DATA)) != 0;
}

bool writesData(DWORD access)
{
    return (access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}

// Windows refuses an open that would read or write a file whose open
// handles do not share that, or that does not share what they do.
bool sharingConflicts(DWORD access, DWORD share, const OpenFile& other)
{
    return (readsData(access) && !(other.share & FILE_SHARE_READ)) ||
           (writesData(access) && !(other.share & FILE_SHARE_WRITE)) ||
           (readsData(other.access) && !(share & FILE_SHARE_READ)) ||
           (writesData(other.access) && !(share & FILE_SHARE_WRITE));
}

} // namespace

// Only what the log needs: opening for appending, with or without read
// access, creating the file if missing. As on Windows without long-path
// support, an ANSI path of MAX_PATH characters or more is refused, and so is
// an open that the share modes of the file's open handles do not allow.
HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD, HANDLE)
{
    if (charactersIn(fileName) >= MAX_PATH) {
        lastError = ERROR_FILENAME_EXCED_RANGE;
        return INVALID_HANDLE_VALUE;
    }
    DWORD readAccess = GENERIC_READ | FILE_READ_DATA;
    if ((access & ~readAccess) != FILE_APPEND_DATA || creationDisposition != OPEN_ALWAYS) {
        lastError = ERROR_INVALID_PARAMETER;
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(fileName, (readsData(access) ? O_RDWR : O_WRONLY) | O_APPEND | O_CREAT, 0644);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    Guard guard(stateMutex);
    for (const auto& open : handles) {
        const OpenFile& other = open.second.file;
        if (open.second.kind == Kind::file && other.device == info.st_dev && other.inode == info.st_ino &&
            sharingConflicts(access, shareMode, other)) {
            close(fd);
            lastError = ERROR_SHARING_VIOLATION;
            return INVALID_HANDLE_VALUE;
        }
    }
    return addHandle({Kind::file, "", nullptr, {fd, access, shareMode, info.st_dev, info.st_ino, false, 0, 0}});
}

// The C runtime opens files through CreateFileA, so on Windows fopen meets
// the same path limit. The host build links the product's fopen to this.
extern "C" FILE* __real_fopen(const char* path, const char* mode);
extern "C" FILE* __wrap_fopen(const char* path, const char* mode)
{
    if (charactersIn(path) >= MAX_PATH) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    return __real_fopen(path, mode);
}

namespace {

// The open file behind a handle, or null for a bad use. Called with
// stateMutex held.
OpenFile* openFileOf(HANDLE file)
{
    Handle* open = handleOf(file, Kind::file);
    return open != nullptr ? &open->file : nullptr;
}

// The byte range that an OVERLAPPED and a length give.
std::pair<uint64_t, uint64_t> rangeOf(const OVERLAPPED* overlapped, DWORD bytesLow, DWORD bytesHigh)
{
    return {static_cast<uint64_t>(overlapped->OffsetHigh) << 32 | overlapped->Offset,
            static_cast<uint64_t>(bytesHigh) << 32 | bytesLow};
}

} // namespace

BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, LPDWORD written, void*)
{
    int fd;
    if (theWorld.onLogWrite) {
        theWorld.onLogWrite();
    }
    {
        Guard guard(stateMutex);
        OpenFile* open = openFileOf(file);
        if (open == nullptr) {
            return FALSE;
        }
        fd = open->fd;
        std::string text(static_cast<const char*>(buffer), size);
        timelineList.push_back("log " + text.substr(0, text.find_last_not_of("\r\n") + 1));
        reportArrived.notify_all();
    }
    ssize_t count = write(fd, buffer, size);
    *written = count > 0 ? static_cast<DWORD>(count) : 0;
    return count == static_cast<ssize_t>(size);
}

namespace {

// Whether a handle other than file holds an exclusive lock on the same file
// that overlaps length bytes from start: Windows then refuses file's reads
// (and writes) there with ERROR_LOCK_VIOLATION. Called with stateMutex held.
bool lockedByAnother(HANDLE file, uint64_t start, uint64_t length)
{
    const OpenFile& mine = handles[file].file;
    for (const auto& open : handles) {
        const OpenFile& other = open.second.file;
        if (open.first != file && open.second.kind == Kind::file && other.locked && other.device == mine.device &&
            other.inode == mine.inode && start < other.lockStart + other.lockLength &&
            other.lockStart < start + length) {
            return true;
        }
    }
    return false;
}

} // namespace

// Reads at the handle's position, which starts at the file's beginning; as
// on Windows, not where another handle holds an exclusive lock.
BOOL ReadFile(HANDLE file, void* buffer, DWORD size, LPDWORD bytesRead, void*)
{
    Guard guard(stateMutex);
    OpenFile* open = openFileOf(file);
    if (open == nullptr) {
        return FALSE;
    }
    off_t at = lseek(open->fd, 0, SEEK_CUR);
    if (lockedByAnother(file, static_cast<uint64_t>(at), size)) {
        lastError = ERROR_LOCK_VIOLATION;
        return FALSE;
    }
    ssize_t count = ::read(open->fd, buffer, size);
    *bytesRead = count > 0 ? static_cast<DWORD>(count) : 0;
    return count >= 0;
}

// One process writes in the unit tests: the turn to append is free unless a
// test holds it elsewhere. As on Windows, a lock needs a handle with read or
// write data access; it must be taken on an open file and given back before
// closing; and a range that another handle has locked cannot be locked: a
// request that does not ask to fail at once would wait for it, counted.
BOOL LockFileEx(HANDLE file, DWORD flags, DWORD, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped)
{
    Guard guard(stateMutex);
    OpenFile* open = openFileOf(file);
    if (open == nullptr || open->locked) {
        theWorld.badHandleUses += open != nullptr ? 1 : 0;
        return FALSE;
    }
    DWORD dataAccess = GENERIC_READ | GENERIC_WRITE | FILE_READ_DATA | FILE_WRITE_DATA;
    if ((open->access & dataAccess) == 0) {
        lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (fails("LockFileEx")) {
        return FALSE;
    }
    std::tie(theWorld.lockStart, theWorld.lockLength) = rangeOf(overlapped, bytesLow, bytesHigh);
    theWorld.lockFlags = flags;
    if (theWorld.appendTurnHeldElsewhere || lockedByAnother(file, theWorld.lockStart, theWorld.lockLength)) {
        theWorld.blockingLocks += (flags & LOCKFILE_FAIL_IMMEDIATELY) == 0 ? 1 : 0;
        lastError = ERROR_LOCK_VIOLATION;
        return FALSE;
    }
    *open = {open->fd,    open->access, open->share,        open->device,
             open->inode, true,         theWorld.lockStart, theWorld.lockLength};
    ++theWorld.locksGranted;
    return TRUE;
}

// Only the range locked, as on Windows.
BOOL UnlockFileEx(HANDLE file, DWORD, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped)
{
    Guard guard(stateMutex);
    OpenFile* open = openFileOf(file);
    if (open == nullptr || !open->locked ||
        rangeOf(overlapped, bytesLow, bytesHigh) != std::make_pair(open->lockStart, open->lockLength)) {
        theWorld.badHandleUses += open != nullptr ? 1 : 0;
        lastError = ERROR_NOT_LOCKED;
        return FALSE;
    }
    open->locked = false;
    return TRUE;
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

// Events, files and the token.
BOOL CloseHandle(HANDLE handle)
{
    Guard guard(stateMutex);
    Handle* open = handleOf(handle, Kind::event, Kind::file);
    if (open == nullptr) {
        open = handleOf(handle, Kind::token);
        theWorld.badHandleUses -= open != nullptr ? 1 : 0; // not a bad use after all
    }
    if (open == nullptr) {
        return FALSE;
    }
    if (open->kind == Kind::file) {
        theWorld.badHandleUses += open->file.locked ? 1 : 0; // closed while holding the turn
        close(open->file.fd);
    }
    handles.erase(handle);
    return TRUE;
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
    if (!theWorld.startedByScm) {
        lastError = ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
        return FALSE;
    }
    theWorld.dispatchedName = table[0].lpServiceName;
    theWorld.tableEndsWithNullEntry = table[1].lpServiceName == nullptr && table[1].lpServiceProc == nullptr;

    std::vector<std::string> arguments = theWorld.startParameters;
    arguments.insert(arguments.begin(), theWorld.dispatchedName);
    LPSERVICE_MAIN_FUNCTIONA serviceMain = table[0].lpServiceProc;
    // The thread owns its arguments: it outlives this call.
    static std::atomic<bool> dispatcherReturned;
    dispatcherReturned = false;
    bool startsLate = theWorld.serviceStartsLate;
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
    if (theWorld.scmDriver) {
        theWorld.scmDriver();
    } else if (stub::waitForState(SERVICE_RUNNING)) {
        stub::deliverControl(SERVICE_CONTROL_STOP);
    }
    if (theWorld.connectionBreaks) {
        lastError = ERROR_BROKEN_PIPE;
        dispatcherReturned = true;
        return FALSE;
    }
    // As on Windows, the call returns once the service has reported
    // STOPPED, which may be before serviceMain has returned. A service that
    // never does is given up on after a bound, as if the connection broke.
    std::unique_lock<std::recursive_mutex> lock(stateMutex);
    if (!reportArrived.wait_for(lock, stub::stoppedBound, [] { return stoppedReported || serviceMainReturned; })) {
        theWorld.stoppedNeverReported = true;
        abandoned = true;
        fprintf(stderr, "stand-in: no STOPPED within %lld s; the dispatcher returns as on a broken connection\n",
                static_cast<long long>(stub::stoppedBound.count()));
        lastError = ERROR_BROKEN_PIPE;
        dispatcherReturned = true;
        return FALSE;
    }
    dispatcherReturned = true;
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR serviceName, LPHANDLER_FUNCTION handler)
{
    theWorld.handlerName = serviceName;
    if (fails("RegisterServiceCtrlHandlerA")) {
        return nullptr;
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
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    // After STOPPED the handle may be gone, and on Windows a call may crash.
    if (stoppedReported) {
        ++theWorld.reportsAfterStopped;
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    reportList.push_back(*status);
    timelineList.push_back("report " + std::to_string(status->dwCurrentState));
    stoppedReported = status->dwCurrentState == SERVICE_STOPPED;
    reportArrived.notify_all();
    return TRUE;
}

SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access)
{
    theWorld.managerAccess.push_back(access);
    if (fails("OpenSCManagerA")) {
        return nullptr;
    }
    // Only the local machine's active database is modelled.
    if (machineName != nullptr || databaseName != nullptr) {
        lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    return static_cast<SC_HANDLE>(addHandle({Kind::manager}));
}

SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD access, DWORD serviceType,
                         DWORD startType, DWORD errorControl, LPCSTR binaryPath, LPCSTR loadOrderGroup, LPDWORD tagId,
                         LPCSTR dependencies, LPCSTR account, LPCSTR password)
{
    theWorld.creates.push_back({serviceName, displayName, access, serviceType, startType, errorControl, binaryPath,
                                loadOrderGroup != nullptr, tagId != nullptr, dependencies != nullptr,
                                account != nullptr, password != nullptr});
    if (handleOf(manager, Kind::manager) == nullptr) {
        return nullptr;
    }
    if (fails("CreateServiceA")) {
        return nullptr;
    }
    // As Windows documents: names of at most 256 characters, without a slash or backslash.
    for (const char* name : {serviceName, displayName}) {
        if (strlen(name) > 256 || (name == serviceName && strpbrk(name, "/\\") != nullptr)) {
            lastError = ERROR_INVALID_NAME;
            return nullptr;
        }
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
    return static_cast<SC_HANDLE>(addHandle({Kind::service, serviceName}));
}

SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access)
{
    theWorld.openedServiceNames.push_back(serviceName);
    theWorld.serviceAccess.push_back(access);
    if (handleOf(manager, Kind::manager) == nullptr) {
        return nullptr;
    }
    if (fails("OpenServiceA")) {
        return nullptr;
    }
    if (theWorld.services.count(lowerCase(serviceName)) == 0) {
        lastError = ERROR_SERVICE_DOES_NOT_EXIST;
        return nullptr;
    }
    return static_cast<SC_HANDLE>(addHandle({Kind::service, serviceName}));
}

BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status)
{
    Handle* object = handleOf(service, Kind::service);
    if (object == nullptr) {
        return FALSE;
    }
    if (fails("QueryServiceStatus")) {
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
    Handle* object = handleOf(service, Kind::service);
    if (object == nullptr) {
        return FALSE;
    }
    if (fails("DeleteService")) {
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
    Handle* object = handleOf(handle, Kind::manager, Kind::service);
    if (object == nullptr) {
        return FALSE;
    }
    Guard guard(stateMutex);
    theWorld.closedHandles.push_back(object->kind == Kind::manager ? "manager" : "service:" + object->name);
    handles.erase(handle);
    return TRUE;
}

BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info)
{
    if (info == nullptr || info->cbSize != sizeof(SHELLEXECUTEINFOA)) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const char* file = info->lpFile;
    theWorld.launches.push_back({info->hwnd != nullptr, info->lpVerb ? info->lpVerb : "", file ? file : "",
                                 info->lpParameters ? info->lpParameters : "", info->lpDirectory != nullptr,
                                 info->nShow, info->fMask});
    {
        Guard guard(stateMutex);
        timelineList.push_back("launch " + theWorld.launches.back().parameters);
        reportArrived.notify_all();
    }
    if (theWorld.onLaunch) {
        theWorld.onLaunch(theWorld.launches.back().parameters);
    }
    std::string key = lowerCase(file ? file : "");
    // Only a shell of version 6 or later has the zone check.
    bool asksAboutZone = theWorld.shellVersion >= 6 && theWorld.shellVersion != stub::noDllGetVersion &&
                         theWorld.downloadedFiles.count(key) != 0 && (info->fMask & SEE_MASK_NOZONECHECKS) == 0;
    bool showsError = theWorld.missingPaths.count(key) != 0 && (info->fMask & SEE_MASK_FLAG_NO_UI) == 0;
    if (asksAboutZone || showsError) {
        // Nobody answers a window on the service's desktop: on Windows the
        // launch never returns. Here it returns after a while, counted.
        ++theWorld.promptsShown;
        std::this_thread::sleep_for(std::chrono::seconds(2));
        lastError = ERROR_CANCELLED;
        return FALSE;
    }
    // A path of MAX_PATH characters or more cannot be started: SE_ERR_FNF.
    bool started = file != nullptr && charactersIn(file) < MAX_PATH && theWorld.missingPaths.count(key) == 0;
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(started ? 42 : 2));
    lastError = started ? 0 : ERROR_FILE_NOT_FOUND;
    return started ? TRUE : FALSE;
}

namespace {

// Parses "S-1-5-32-544" into its binary form, appended to out.
void appendSid(std::string& out, const std::string& text)
{
    std::vector<uint64_t> parts;
    size_t at = 2; // past "S-"
    while (at <= text.size()) {
        size_t end = text.find('-', at);
        parts.push_back(std::stoull(text.substr(at, end - at)));
        at = end == std::string::npos ? text.size() + 1 : end + 1;
    }
    out += static_cast<char>(parts[0]);            // revision
    out += static_cast<char>(parts.size() - 2);    // sub-authority count
    for (int shift = 40; shift >= 0; shift -= 8) { // authority, big-endian
        out += static_cast<char>((parts[1] >> shift) & 0xFF);
    }
    for (size_t i = 2; i < parts.size(); ++i) {
        DWORD value = static_cast<DWORD>(parts[i]);
        out.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
}

void putWord(std::string& out, size_t at, WORD value)
{
    memcpy(&out[at], &value, sizeof value);
}

// A self-relative security descriptor in Windows' own layout: the header,
// then the owner's SID, then the DACL with its entries.
std::string selfRelative(const stub::FileSecurity& security)
{
    const size_t headerSize = 20;
    std::string out(headerSize, '\0');
    out[0] = SECURITY_DESCRIPTOR_REVISION;
    WORD control = SE_SELF_RELATIVE;
    DWORD ownerOffset = security.owner.empty() ? 0 : headerSize;
    if (!security.owner.empty()) {
        appendSid(out, security.owner);
    }
    DWORD daclOffset = 0;
    control |= security.hasDacl || security.nullDacl ? SE_DACL_PRESENT : 0;
    if (security.hasDacl) {
        while (out.size() % 4 != 0) {
            out += '\0';
        }
        daclOffset = static_cast<DWORD>(out.size());
        out += std::string(sizeof(ACL), '\0');
        out[daclOffset] = ACL_REVISION;
        for (const stub::Ace& ace : security.aces) {
            size_t start = out.size();
            out += static_cast<char>(ace.type);
            out += static_cast<char>(ace.flags);
            out += std::string(2, '\0');
            out.append(reinterpret_cast<const char*>(&ace.mask), sizeof ace.mask);
            if (ace.type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || ace.type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
                ace.type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE ||
                ace.type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE) {
                out.append(reinterpret_cast<const char*>(&ace.objectFlags), sizeof ace.objectFlags);
                for (DWORD present : {ACE_OBJECT_TYPE_PRESENT, ACE_INHERITED_OBJECT_TYPE_PRESENT}) {
                    out += std::string((ace.objectFlags & present) != 0 ? sizeof(GUID) : 0, '\x6B');
                }
            }
            appendSid(out, ace.sid);
            while ((out.size() - start) % 4 != 0) {
                out += '\0';
            }
            putWord(out, start + 2, ace.size != 0 ? ace.size : static_cast<WORD>(out.size() - start));
        }
        putWord(out, daclOffset + 2, static_cast<WORD>(out.size() - daclOffset)); // AclSize
        putWord(out, daclOffset + 4, static_cast<WORD>(security.aces.size()));    // AceCount
    }
    putWord(out, 2, control);
    memcpy(&out[4], &ownerOffset, sizeof ownerOffset);
    memcpy(&out[16], &daclOffset, sizeof daclOffset);
    return out;
}

// The descriptor's bytes, after checking that it is one this stand-in made.
const unsigned char* descriptorBytes(PSECURITY_DESCRIPTOR descriptor)
{
    const auto* bytes = static_cast<const unsigned char*>(descriptor);
    if (bytes == nullptr || bytes[0] != SECURITY_DESCRIPTOR_REVISION || reinterpret_cast<uintptr_t>(bytes) % 4 != 0) {
        return nullptr;
    }
    return bytes;
}

} // namespace

namespace stub {

FileSecurity adminsOnly()
{
    return {"S-1-5-32-544",
            true,
            {{ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, "S-1-5-18"},
             {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, "S-1-5-32-544"},
             {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, "S-1-5-32-545"}}};
}

} // namespace stub

// Only what the product asks: no file part. On a drive, . and .. are
// resolved, never above the root, as Windows does.
DWORD GetFullPathNameA(LPCSTR fileName, DWORD size, LPSTR buffer, LPSTR*)
{
    std::string name = fileName;
    bool absolute = (name.size() >= 3 && name[1] == ':' && name[2] == '\\') || name.rfind("\\\\", 0) == 0;
    std::string full = absolute ? name : theWorld.currentDirectory + "\\" + name;
    if (full.size() >= 2 && full[1] == ':') {
        std::vector<std::string> parts;
        for (size_t at = 3, end = 2; end != std::string::npos && at <= full.size(); at = end + 1) {
            end = full.find('\\', at);
            std::string part = full.substr(at, end == std::string::npos ? std::string::npos : end - at);
            if (part == ".." && !parts.empty()) {
                parts.pop_back();
            } else if (part != "." && part != ".." && !part.empty()) {
                parts.push_back(part);
            }
        }
        full = full.substr(0, 2) + "\\";
        for (size_t i = 0; i < parts.size(); ++i) {
            full += (i == 0 ? "" : "\\") + parts[i];
        }
    }
    if (charactersIn(full.c_str()) >= MAX_PATH) { // the ANSI call's limit
        lastError = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    }
    if (full.size() + 1 > size) {
        return static_cast<DWORD>(full.size() + 1);
    }
    memcpy(buffer, full.c_str(), full.size() + 1);
    return static_cast<DWORD>(full.size());
}

BOOL GetFileSecurityA(LPCSTR fileName, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor, DWORD size,
                      LPDWORD sizeNeeded)
{
    std::string key = lowerCase(fileName);
    theWorld.securityQueries.push_back(fileName);
    if (charactersIn(fileName) >= MAX_PATH) {
        lastError = ERROR_FILENAME_EXCED_RANGE;
        return FALSE;
    }
    if (key.find_first_of("\"<>|*?", 2) != std::string::npos) {
        lastError = ERROR_INVALID_NAME;
        return FALSE;
    }
    auto error = theWorld.securityErrors.find(key);
    if (failWith(error != theWorld.securityErrors.end() ? error->second : missingError(key))) {
        return FALSE;
    }
    if (requested != (OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION)) {
        lastError = ERROR_INVALID_PARAMETER; // this stand-in answers only what the product asks
        return FALSE;
    }
    auto found = theWorld.fileSecurity.find(key);
    std::string bytes = selfRelative(found != theWorld.fileSecurity.end() ? found->second : stub::adminsOnly());
    *sizeNeeded = static_cast<DWORD>(bytes.size());
    if (size < bytes.size()) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    memcpy(descriptor, bytes.data(), bytes.size());
    return TRUE;
}

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner, LPBOOL ownerDefaulted)
{
    const unsigned char* bytes = descriptorBytes(descriptor);
    if (fails("GetSecurityDescriptorOwner") || failWith(bytes == nullptr ? ERROR_INVALID_SECURITY_DESCR : 0)) {
        return FALSE;
    }
    DWORD offset;
    memcpy(&offset, bytes + 4, sizeof offset);
    *owner = offset == 0 ? nullptr : const_cast<unsigned char*>(bytes + offset);
    *ownerDefaulted = FALSE;
    return TRUE;
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL daclPresent, PACL* dacl, LPBOOL daclDefaulted)
{
    const unsigned char* bytes = descriptorBytes(descriptor);
    if (fails("GetSecurityDescriptorDacl") || failWith(bytes == nullptr ? ERROR_INVALID_SECURITY_DESCR : 0)) {
        return FALSE;
    }
    WORD control;
    DWORD offset;
    memcpy(&control, bytes + 2, sizeof control);
    memcpy(&offset, bytes + 16, sizeof offset);
    *daclPresent = (control & SE_DACL_PRESENT) != 0 ? TRUE : FALSE;
    *dacl = *daclPresent && offset != 0 ? reinterpret_cast<PACL>(const_cast<unsigned char*>(bytes + offset)) : nullptr;
    *daclDefaulted = FALSE;
    return TRUE;
}

BOOL GetAce(PACL acl, DWORD index, LPVOID* ace)
{
    if (fails("GetAce") || failWith(acl == nullptr || index >= acl->AceCount ? ERROR_INVALID_PARAMETER : 0)) {
        return FALSE;
    }
    auto* at = reinterpret_cast<unsigned char*>(acl) + sizeof(ACL);
    for (DWORD i = 0; i < index; ++i) {
        at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
    }
    *ace = at;
    return TRUE;
}

BOOL IsValidSid(PSID sid)
{
    const SID* id = static_cast<const SID*>(sid);
    return id != nullptr && id->Revision == SID_REVISION && id->SubAuthorityCount <= SID_MAX_SUB_AUTHORITIES;
}

DWORD GetLengthSid(PSID sid)
{
    return 8 + 4 * static_cast<const SID*>(sid)->SubAuthorityCount;
}

// Like Windows', meant for valid SIDs only.
BOOL EqualSid(PSID first, PSID second)
{
    return GetLengthSid(first) == GetLengthSid(second) && memcmp(first, second, GetLengthSid(first)) == 0;
}

namespace {

// A wide name as the product builds it from ANSI bytes, back in those bytes.
std::string narrow(LPCWSTR wide)
{
    std::string text;
    for (; *wide != 0; ++wide) {
        text += toAnsi(*wide);
    }
    return text;
}

// An entry as FindFirstFileW lists it: a name in UTF-8 ending in a
// backslash for a folder; a reparse point where the world gives its path a
// tag, which is left 0 otherwise, as Wine leaves it.
WIN32_FIND_DATAW foundEntry(const std::string& path, std::string name)
{
    WIN32_FIND_DATAW found = {};
    bool folder = !name.empty() && name.back() == '\\';
    name = folder ? name.substr(0, name.size() - 1) : name;
    auto tag = theWorld.reparseTags.find(lowerCase(path));
    found.dwFileAttributes = (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL) |
                             (tag != theWorld.reparseTags.end() ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    found.dwReserved0 = tag != theWorld.reparseTags.end() ? tag->second : 0;
    std::basic_string<WCHAR> wide = fromUtf8(name);
    std::copy(wide.begin(), wide.begin() + std::min<size_t>(wide.size(), MAX_PATH - 1), found.cFileName);
    return found;
}

} // namespace

namespace {

// Whether the world holds path as a folder: one whose entries it lists, or
// one listed as a folder in its parent.
bool isFolder(const std::string& path)
{
    std::string key = lowerCase(path);
    if (theWorld.folderEntries.count(key) != 0) {
        return true;
    }
    auto parent = theWorld.folderEntries.find(key.substr(0, key.rfind('\\')));
    if (parent == theWorld.folderEntries.end()) {
        return false;
    }
    std::string name = key.substr(key.rfind('\\') + 1) + "\\";
    return std::any_of(parent->second.begin(), parent->second.end(),
                       [&name](const std::string& entry) { return lowerCase(entry) == name; });
}

} // namespace

// Only what the product asks: one existing file or folder, or a folder's
// entries ("FOLDER\\*"). As on Windows, a name that ends in a backslash (a
// bare root) is never found, a name of MAX_PATH characters or more neither,
// and a listing holds . and .. but at a root, where an empty listing fails.
HANDLE FindFirstFileW(LPCWSTR fileName, WIN32_FIND_DATAW* found)
{
    std::string name = narrow(fileName);
    if (std::char_traits<WCHAR>::length(fileName) >= MAX_PATH) { // without long-path support
        lastError = ERROR_FILENAME_EXCED_RANGE;
        return INVALID_HANDLE_VALUE;
    }
    bool listing = name.size() > 2 && name.compare(name.size() - 2, 2, "\\*") == 0;
    std::string path = listing ? name.substr(0, name.size() - 2) : name;
    auto error = theWorld.findErrors.find(lowerCase(name));
    DWORD missing = missingError(path);
    if (failWith(name.back() == '\\'                  ? ERROR_FILE_NOT_FOUND
                 : error != theWorld.findErrors.end() ? error->second
                 : listing && missing != 0            ? ERROR_PATH_NOT_FOUND
                                                      : missing)) {
        return INVALID_HANDLE_VALUE;
    }
    std::vector<WIN32_FIND_DATAW> entries;
    if (!listing) {
        std::string last = path.substr(path.rfind('\\') + 1);
        entries.push_back(foundEntry(path, isFolder(path) ? last + "\\" : last));
    } else {
        // In the world's order, with . and .. (but at a root) after its
        // first entry: Windows promises no order, and so what comes first
        // and last is the world's.
        std::vector<std::string> names;
        auto listed = theWorld.folderEntries.find(lowerCase(path));
        if (listed != theWorld.folderEntries.end()) {
            names = listed->second;
        }
        if (path.size() > 2) { // not a root
            names.insert(names.begin() + (names.empty() ? 0 : 1), {".\\", "..\\"});
        }
        for (const std::string& entry : names) {
            std::string entryPath = path + "\\" + (entry.back() == '\\' ? entry.substr(0, entry.size() - 1) : entry);
            if (missingError(entryPath) == 0 || entry[0] == '.') {
                entries.push_back(foundEntry(entryPath, entry));
            }
        }
    }
    if (failWith(entries.empty() ? ERROR_FILE_NOT_FOUND : 0)) { // an empty root
        return INVALID_HANDLE_VALUE;
    }
    *found = entries.front();
    entries.erase(entries.begin());
    return addHandle({Kind::search, "", nullptr, {}, entries});
}

BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* found)
{
    Guard guard(stateMutex);
    Handle* open = handleOf(search, Kind::search);
    if (open == nullptr) {
        return FALSE;
    }
    if (fails("FindNextFileW") || failWith(open->listing.empty() ? ERROR_NO_MORE_FILES : 0)) {
        return FALSE;
    }
    *found = open->listing.front();
    open->listing.erase(open->listing.begin());
    return TRUE;
}

BOOL FindClose(HANDLE search)
{
    Guard guard(stateMutex);
    return handleOf(search, Kind::search) != nullptr && handles.erase(search) == 1 ? TRUE : FALSE;
}

UINT GetDriveTypeA(LPCSTR rootPath)
{
    auto found = theWorld.driveTypes.find(lowerCase(rootPath));
    return found != theWorld.driveTypes.end() ? found->second : DRIVE_FIXED;
}

HANDLE GetCurrentProcess()
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

BOOL OpenProcessToken(HANDLE, DWORD, PHANDLE token)
{
    if (fails("OpenProcessToken")) {
        return FALSE;
    }
    *token = addHandle({Kind::token});
    return TRUE;
}

// TokenUser only: the record, then the SID it points to.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID information, DWORD size, LPDWORD sizeNeeded)
{
    std::string sid;
    appendSid(sid, theWorld.tokenUser);
    *sizeNeeded = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    if (handleOf(token, Kind::token) == nullptr) {
        return FALSE;
    }
    if (fails("GetTokenInformation")) {
        return FALSE;
    }
    if (kind != TokenUser || size < *sizeNeeded) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    auto* user = static_cast<TOKEN_USER*>(information);
    memcpy(user + 1, sid.data(), sid.size());
    user->User.Sid = user + 1;
    user->User.Attributes = 0;
    return TRUE;
}

// A builtin SID is resolved on this machine: only Administrators', by the
// name the world gives it. As Windows does, a buffer too small for either
// name is refused with the sizes needed.
BOOL LookupAccountSidW(LPCWSTR systemName, PSID sid, LPWSTR name, LPDWORD nameLength, LPWSTR domain,
                       LPDWORD domainLength, SID_NAME_USE* use)
{
    if (fails("LookupAccountSidW")) {
        return FALSE;
    }
    std::string administrators;
    appendSid(administrators, "S-1-5-32-544");
    if (systemName != nullptr || !IsValidSid(sid) || GetLengthSid(sid) != administrators.size() ||
        memcmp(sid, administrators.data(), administrators.size()) != 0) {
        lastError = ERROR_NONE_MAPPED;
        return FALSE;
    }
    std::basic_string<WCHAR> group = fromUtf8(theWorld.administratorsGroupName);
    std::basic_string<WCHAR> builtin = fromUtf8("BUILTIN");
    if (*nameLength <= group.size() || *domainLength <= builtin.size()) {
        *nameLength = static_cast<DWORD>(group.size() + 1);
        *domainLength = static_cast<DWORD>(builtin.size() + 1);
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::copy(group.c_str(), group.c_str() + group.size() + 1, name);
    std::copy(builtin.c_str(), builtin.c_str() + builtin.size() + 1, domain);
    *nameLength = static_cast<DWORD>(group.size());
    *domainLength = static_cast<DWORD>(builtin.size());
    *use = SidTypeAlias;
    return TRUE;
}

// The device a drive letter stands for: a volume unless the world says
// otherwise. As on Windows, the name has no trailing backslash, and the
// buffer gets the target, its terminator and a final one.
DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD size)
{
    if (fails("QueryDosDeviceA")) {
        return 0;
    }
    std::string name = lowerCase(deviceName);
    if (name.size() != 2 || name[1] != ':') {
        lastError = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    auto found = theWorld.dosDevices.find(name);
    std::string target = found != theWorld.dosDevices.end() ? found->second : "\\Device\\HarddiskVolume1";
    if (target.size() + 2 > size) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    memcpy(targetPath, target.c_str(), target.size() + 1);
    targetPath[target.size() + 1] = '\0';
    return static_cast<DWORD>(target.size() + 2);
}
