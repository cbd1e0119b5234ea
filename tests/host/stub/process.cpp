// The process wing of the stand-in: its module path, the ANSI code page,
// the system DLLs it may load, and the shell that launches the target.
#include "core.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <chrono>
#include <string.h>
#include <thread>

using namespace standin;

namespace {

HMODULE const shell32 = reinterpret_cast<HMODULE>(0x5E11);
HMODULE const kernel32 = reinterpret_cast<HMODULE>(0x6E31);
HMODULE const netapi32 = reinterpret_cast<HMODULE>(0x7E7A);

// Copies a path of length characters as Windows XP and later do: one that
// does not fit is cut to size - 1 characters and the whole size is returned.
template <typename Char> DWORD copyModulePath(const Char* path, size_t length, Char* out, DWORD size)
{
    if (length >= size) {
        std::copy(path, path + size - 1, out);
        out[size - 1] = 0;
        return failing(ERROR_INSUFFICIENT_BUFFER, size);
    }
    std::copy(path, path + length + 1, out);
    return static_cast<DWORD>(length);
}

BOOL WINAPI setDefaultDllDirectories(DWORD flags)
{
    theWorld.process.dllSearchFlags = flags;
    return TRUE;
}

// shell32's DllGetVersion, reporting the world's shell version. It needs
// its size field set, as Windows' does.
HRESULT WINAPI shellDllGetVersion(DLLVERSIONINFO* version)
{
    if (version == nullptr || version->cbSize != sizeof(DLLVERSIONINFO)) {
        return static_cast<HRESULT>(0x80070057); // E_INVALIDARG
    }
    version->dwMajorVersion = theWorld.process.shellVersion;
    version->dwMinorVersion = 0;
    return S_OK;
}

} // namespace

DWORD GetModuleFileNameW(HMODULE, LPWSTR fileName, DWORD size)
{
    if (auto error = injected("GetModuleFileNameW")) {
        return failing(*error, 0);
    }
    std::basic_string<WCHAR> path = fromUtf8(theWorld.process.modulePath);
    return copyModulePath(path.c_str(), path.size(), fileName, size);
}

// Only what the product asks: the ANSI code page, whole terminated strings.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR bytes, int size, LPCSTR, LPBOOL)
{
    if (codePage != CP_ACP || flags != 0 || wideLength != -1) {
        return failing(ERROR_INVALID_PARAMETER, 0);
    }
    std::string ansi;
    for (; *wide != 0; ++wide) {
        ansi += toAnsi(*wide);
    }
    if (ansi.size() + 1 > static_cast<size_t>(size)) {
        return failing(ERROR_INSUFFICIENT_BUFFER, 0);
    }
    memcpy(bytes, ansi.c_str(), ansi.size() + 1);
    return static_cast<int>(ansi.size() + 1);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int byteLength, LPWSTR wide, int size)
{
    if (codePage != CP_ACP || flags != 0 || byteLength != -1) {
        return failing(ERROR_INVALID_PARAMETER, 0);
    }
    std::basic_string<WCHAR> text = fromAnsi(bytes);
    if (text.size() + 1 > static_cast<size_t>(size)) {
        return failing(ERROR_INSUFFICIENT_BUFFER, 0);
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
    theWorld.process.loadedLibraries.push_back(fileName);
    if (theWorld.process.kernelLimitsDllSearch && theWorld.process.dllSearchFlags != LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) {
        ++theWorld.process.loadsSearchingPath;
    }
    const struct {
        const char* path;
        HMODULE module;
    } libraries[] = {{"c:\\winnt\\system32\\shell32.dll", shell32}, {"c:\\winnt\\system32\\netapi32.dll", netapi32}};
    for (const auto& library : libraries) {
        if (lowerCase(fileName) == library.path &&
            theWorld.process.unloadableLibraries.count(std::string(library.path).substr(18)) == 0) {
            return library.module;
        }
    }
    return failing(ERROR_MOD_NOT_FOUND, nullptr);
}

HMODULE GetModuleHandleA(LPCSTR moduleName)
{
    return lowerCase(moduleName) == "kernel32.dll" ? kernel32 : nullptr;
}

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
        {shell32, "DllGetVersion", address(&shellDllGetVersion),
         theWorld.process.shellVersion != stub::noDllGetVersion},
        {kernel32, "SetDefaultDllDirectories", address(&setDefaultDllDirectories),
         theWorld.process.kernelLimitsDllSearch},
        {netapi32, "NetLocalGroupGetMembers", address(&netLocalGroupGetMembers), true},
        {netapi32, "NetApiBufferFree", address(&netApiBufferFree), true},
    };
    for (const auto& exported : exports) {
        if (exported.module == module && strcmp(exported.name, procName) == 0 && exported.present) {
            return exported.address;
        }
    }
    return failing(ERROR_PROC_NOT_FOUND, nullptr);
}

BOOL ShellExecuteExA(SHELLEXECUTEINFOA* info)
{
    if (info == nullptr || info->cbSize != sizeof(SHELLEXECUTEINFOA)) {
        return failing(ERROR_INVALID_PARAMETER, FALSE);
    }
    const char* file = info->lpFile;
    theWorld.process.launches.push_back({info->hwnd != nullptr, info->lpVerb ? info->lpVerb : "", file ? file : "",
                                         info->lpParameters ? info->lpParameters : "", info->lpDirectory != nullptr,
                                         info->nShow, info->fMask});
    record("launch " + theWorld.process.launches.back().parameters);
    if (theWorld.process.onLaunch) {
        theWorld.process.onLaunch(theWorld.process.launches.back().parameters);
    }
    std::string key = lowerCase(file ? file : "");
    // Only a shell of version 6 or later has the zone check.
    bool asksAboutZone = theWorld.process.shellVersion >= 6 && theWorld.process.shellVersion != stub::noDllGetVersion &&
                         theWorld.process.downloadedFiles.count(key) != 0 && (info->fMask & SEE_MASK_NOZONECHECKS) == 0;
    bool showsError = theWorld.security.missingPaths.count(key) != 0 && (info->fMask & SEE_MASK_FLAG_NO_UI) == 0;
    if (asksAboutZone || showsError) {
        // Nobody answers a window on the service's desktop: on Windows the
        // launch never returns. Here it returns after a while, counted.
        ++theWorld.process.promptsShown;
        std::this_thread::sleep_for(std::chrono::seconds(2));
        return failing(ERROR_CANCELLED, FALSE);
    }
    // A path of MAX_PATH characters or more cannot be started: SE_ERR_FNF.
    bool started = file != nullptr && charactersIn(file) < MAX_PATH && theWorld.security.missingPaths.count(key) == 0;
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<intptr_t>(started ? 42 : 2));
    return failing(started ? 0 : ERROR_FILE_NOT_FOUND, started ? TRUE : FALSE);
}
