// What the stand-in's wings share: the world, the open handles, the last
// error, the timeline and the conversions of text. Not for tests, which see
// stub_world.h.
#ifndef SVCLAUNCH_STUB_CORE_H
#define SVCLAUNCH_STUB_CORE_H

#include "stub_world.h"

#include <lm.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace standin {

extern stub::World theWorld;
extern std::recursive_mutex stateMutex;           // guards the handles, the reports and the timeline
extern std::condition_variable_any reportArrived; // a report or an entry of the timeline came
using Guard = std::lock_guard<std::recursive_mutex>;
extern thread_local DWORD lastError;

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

// The open handles: a closed one is gone, so a late use is seen.
extern std::map<void*, Handle> handles;

// A new open handle.
void* addHandle(Handle handle);
// The open handle, when it is of that kind (or the other one given);
// otherwise a bad use, counted, and ERROR_INVALID_HANDLE.
Handle* handleOf(const void* handle, Kind kind, Kind orKind);
Handle* handleOf(const void* handle, Kind kind);

// Fails a call as Windows does: the last error set, and result returned.
template <typename Result> Result failing(DWORD error, Result result)
{
    lastError = error;
    return result;
}
// The error with which the world makes call fail, if it does.
std::optional<DWORD> injected(const char* call);

// Adds an entry to the timeline (see stub::timeline).
void record(const std::string& entry);

std::string lowerCase(const std::string& text);
// UTF-8 to UTF-16 code units; a malformed byte becomes U+FFFD.
std::basic_string<WCHAR> fromUtf8(const std::string& text);
// Between UTF-16 and the world's ANSI code page, best fit where it has none.
std::string toAnsi(WCHAR c);
std::basic_string<WCHAR> fromAnsi(const char* bytes);
std::string narrow(LPCWSTR wide);
// The characters of an ANSI path, which Windows' limits count.
size_t charactersIn(const char* ansi);

// Parses "S-1-5-32-544" into its binary form, appended to out.
void appendSid(std::string& out, const std::string& text);
// Whether path, or a folder above it, is one that the world says is not
// there: ERROR_FILE_NOT_FOUND and ERROR_PATH_NOT_FOUND as Windows tells
// them apart; 0 when it is there.
DWORD missingError(const std::string& path);

// The SCM wing's own state, cleared by stub::reset.
void resetScm();

// netapi32's functions, which GetProcAddress hands out.
NET_API_STATUS WINAPI netLocalGroupGetMembers(LPCWSTR server, LPCWSTR group, DWORD level, LPBYTE* buffer,
                                              DWORD preferredLength, LPDWORD read, LPDWORD total, PDWORD_PTR resume);
NET_API_STATUS WINAPI netApiBufferFree(LPVOID buffer);

} // namespace standin

#endif
