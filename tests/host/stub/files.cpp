// The files wing of the stand-in: the log, opened, written, read and
// locked as Windows does it.
#include "core.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace standin;

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
        return failing(ERROR_FILENAME_EXCED_RANGE, INVALID_HANDLE_VALUE);
    }
    DWORD readAccess = GENERIC_READ | FILE_READ_DATA;
    if ((access & ~readAccess) != FILE_APPEND_DATA || creationDisposition != OPEN_ALWAYS) {
        return failing(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    int fd = open(fileName, (readsData(access) ? O_RDWR : O_WRONLY) | O_APPEND | O_CREAT, 0644);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return failing(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    Guard guard(stateMutex);
    for (const auto& open : handles) {
        const OpenFile& other = open.second.file;
        if (open.second.kind == Kind::file && other.device == info.st_dev && other.inode == info.st_ino &&
            sharingConflicts(access, shareMode, other)) {
            close(fd);
            return failing(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
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

BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, LPDWORD written, void*)
{
    int fd;
    if (theWorld.files.onLogWrite) {
        theWorld.files.onLogWrite();
    }
    {
        Guard guard(stateMutex);
        OpenFile* open = openFileOf(file);
        if (open == nullptr) {
            return FALSE;
        }
        fd = open->fd;
        std::string text(static_cast<const char*>(buffer), size);
        record("log " + text.substr(0, text.find_last_not_of("\r\n") + 1));
    }
    ssize_t count = write(fd, buffer, size);
    *written = count > 0 ? static_cast<DWORD>(count) : 0;
    return count == static_cast<ssize_t>(size);
}

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
        return failing(ERROR_LOCK_VIOLATION, FALSE);
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
        return failing(ERROR_ACCESS_DENIED, FALSE);
    }
    if (auto error = injected("LockFileEx")) {
        return failing(*error, FALSE);
    }
    std::tie(theWorld.files.lockStart, theWorld.files.lockLength) = rangeOf(overlapped, bytesLow, bytesHigh);
    theWorld.files.lockFlags = flags;
    if (theWorld.files.appendTurnHeldElsewhere ||
        lockedByAnother(file, theWorld.files.lockStart, theWorld.files.lockLength)) {
        theWorld.files.blockingLocks += (flags & LOCKFILE_FAIL_IMMEDIATELY) == 0 ? 1 : 0;
        return failing(ERROR_LOCK_VIOLATION, FALSE);
    }
    *open = {open->fd,
             open->access,
             open->share,
             open->device,
             open->inode,
             true,
             theWorld.files.lockStart,
             theWorld.files.lockLength};
    ++theWorld.files.locksGranted;
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
        return failing(ERROR_NOT_LOCKED, FALSE);
    }
    open->locked = false;
    return TRUE;
}
