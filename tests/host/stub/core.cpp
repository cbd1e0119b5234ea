// The stand-in's shared core: the world, the handle table, the last error
// and the timeline (see core.h).
#include "core.h"

#include <algorithm>
#include <ctype.h>
#include <unistd.h>

namespace standin {

stub::World theWorld;
std::recursive_mutex stateMutex;
std::condition_variable_any reportArrived;
thread_local DWORD lastError;
std::map<void*, Handle> handles;

namespace {

intptr_t nextHandle = 0x7000;
std::vector<std::string> timelineList;

} // namespace

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
        return failing(ERROR_INVALID_HANDLE, nullptr);
    }
    return &found->second;
}

Handle* handleOf(const void* handle, Kind kind)
{
    return handleOf(handle, kind, kind);
}

std::optional<DWORD> injected(const char* call)
{
    auto failing = theWorld.failingCalls.find(call);
    return failing != theWorld.failingCalls.end() ? std::optional<DWORD>(failing->second) : std::nullopt;
}

void record(const std::string& entry)
{
    Guard guard(stateMutex);
    timelineList.push_back(entry);
    reportArrived.notify_all();
}

std::string lowerCase(const std::string& text)
{
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return tolower(c); });
    return lower;
}

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
    if (theWorld.process.ansiCodePage == 932 && c >= firstHiragana && c <= lastHiragana) {
        return {static_cast<char>(hiraganaLead), static_cast<char>(firstHiraganaTrail + (c - firstHiragana))};
    }
    bool latin1 = theWorld.process.ansiCodePage == 1252 && c >= 0xA0 && c <= 0xFF;
    return std::string(1, c < 0x80 || latin1 ? static_cast<char>(c) : c == 0x0101 ? 'a' : '?');
}

// Bytes in the stand-in's ANSI code page back to UTF-16.
std::basic_string<WCHAR> fromAnsi(const char* bytes)
{
    std::basic_string<WCHAR> wide;
    for (const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes); *b != 0; ++b) {
        if (theWorld.process.ansiCodePage == 932 && *b == hiraganaLead && b[1] >= firstHiraganaTrail &&
            b[1] <= firstHiraganaTrail + (lastHiragana - firstHiragana)) {
            wide += static_cast<WCHAR>(firstHiragana + (*++b - firstHiraganaTrail));
        } else {
            wide += theWorld.process.ansiCodePage == 932 && *b >= 0x80 ? WCHAR{0xFFFD} : WCHAR{*b};
        }
    }
    return wide;
}

// A wide name as the product builds it from ANSI bytes, back in those bytes.
std::string narrow(LPCWSTR wide)
{
    std::string text;
    for (; *wide != 0; ++wide) {
        text += toAnsi(*wide);
    }
    return text;
}

// The characters of an ANSI path, which Windows' limits count.
size_t charactersIn(const char* ansi)
{
    return fromAnsi(ansi).size();
}

} // namespace standin

using namespace standin;

namespace stub {

World& world()
{
    return theWorld;
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
    timelineList.clear();
    resetScm();
    theWorld = World();
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
        {theWorld.scm.reportsAfterStopped != 0, "SetServiceStatus was called after STOPPED"},
        {theWorld.scm.stoppedNeverReported, "the service never reported STOPPED"},
        {theWorld.scm.waitsGivenUp != 0, "a wait that nothing ended"},
        {theWorld.process.promptsShown != 0, "a launch showed a window on the service's desktop"},
        {theWorld.files.blockingLocks != 0, "a lock on the log would wait for another writer's"},
        {theWorld.process.loadsSearchingPath != 0, "a library was loaded with the DLL search reaching PATH"},
    };
    std::string faults;
    for (const auto& check : checks) {
        faults += check.fault ? std::string(check.what) + "\n" : "";
    }
    return faults;
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

} // namespace stub

DWORD GetLastError()
{
    return lastError;
}

// Events, files and the token; a file that still holds the log's turn is
// a fault, as on Windows, where the lock would outlive the entry.
BOOL CloseHandle(HANDLE handle)
{
    Guard guard(stateMutex);
    auto found = handles.find(handle);
    Kind kind = found != handles.end() ? found->second.kind : Kind::manager;
    if (kind != Kind::event && kind != Kind::file && kind != Kind::token) {
        ++theWorld.badHandleUses;
        return failing(ERROR_INVALID_HANDLE, FALSE);
    }
    if (kind == Kind::file) {
        theWorld.badHandleUses += found->second.file.locked ? 1 : 0;
        close(found->second.file.fd);
    }
    handles.erase(found);
    return TRUE;
}
