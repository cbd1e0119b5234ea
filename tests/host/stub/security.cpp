// The security wing of the stand-in: descriptors and SIDs, listings,
// drives, the token, and this machine's accounts.
#include "core.h"

#include <algorithm>
#include <string.h>

using namespace standin;

namespace {

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

// The descriptor's bytes for call, after checking that the world lets it
// succeed and that the descriptor is one this stand-in made; NULL, with the
// last error set, when not.
const unsigned char* descriptorBytes(PSECURITY_DESCRIPTOR descriptor, const char* call)
{
    const auto* bytes = static_cast<const unsigned char*>(descriptor);
    if (auto error = injected(call)) {
        return failing(*error, nullptr);
    }
    if (bytes == nullptr || bytes[0] != SECURITY_DESCRIPTOR_REVISION || reinterpret_cast<uintptr_t>(bytes) % 4 != 0) {
        return failing(ERROR_INVALID_SECURITY_DESCR, nullptr);
    }
    return bytes;
}

// An entry as FindFirstFileW lists it: a name in UTF-8 ending in a
// backslash for a folder; a reparse point where the world gives its path a
// tag, which is left 0 otherwise, as Wine leaves it.
WIN32_FIND_DATAW foundEntry(const std::string& path, std::string name)
{
    WIN32_FIND_DATAW found = {};
    bool folder = !name.empty() && name.back() == '\\';
    name = folder ? name.substr(0, name.size() - 1) : name;
    auto tag = theWorld.security.reparseTags.find(lowerCase(path));
    found.dwFileAttributes = (folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL) |
                             (tag != theWorld.security.reparseTags.end() ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    found.dwReserved0 = tag != theWorld.security.reparseTags.end() ? tag->second : 0;
    std::basic_string<WCHAR> wide = fromUtf8(name);
    std::copy(wide.begin(), wide.begin() + std::min<size_t>(wide.size(), MAX_PATH - 1), found.cFileName);
    return found;
}

// Whether the world holds path as a folder: one whose entries it lists, or
// one listed as a folder in its parent.
bool isFolder(const std::string& path)
{
    std::string key = lowerCase(path);
    if (theWorld.security.folderEntries.count(key) != 0) {
        return true;
    }
    auto parent = theWorld.security.folderEntries.find(key.substr(0, key.rfind('\\')));
    if (parent == theWorld.security.folderEntries.end()) {
        return false;
    }
    std::string name = key.substr(key.rfind('\\') + 1) + "\\";
    return std::any_of(parent->second.begin(), parent->second.end(),
                       [&name](const std::string& entry) { return lowerCase(entry) == name; });
}

} // namespace

namespace standin {

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

// Whether path, or a folder above it, is one that the world says is not
// there: ERROR_FILE_NOT_FOUND and ERROR_PATH_NOT_FOUND as Windows tells
// them apart; 0 when it is there.
DWORD missingError(const std::string& path)
{
    std::string key = lowerCase(path);
    for (const std::string& missing : theWorld.security.missingPaths) {
        if (key == missing) {
            return ERROR_FILE_NOT_FOUND;
        }
        if (key.rfind(missing + "\\", 0) == 0) {
            return ERROR_PATH_NOT_FOUND;
        }
    }
    return 0;
}

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
    if (lowerCase(name) != lowerCase(theWorld.security.administratorsGroupName)) {
        return ERROR_NO_SUCH_ALIAS;
    }
    auto failing = theWorld.failingCalls.find("NetLocalGroupGetMembers");
    NET_API_STATUS status = failing != theWorld.failingCalls.end() ? failing->second : NERR_Success;
    if (status != NERR_Success && status != ERROR_MORE_DATA) {
        return status;
    }
    // ERROR_MORE_DATA: the buffer holds only the first half.
    const std::vector<std::string>& members = theWorld.security.administrators;
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

} // namespace standin

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
    std::string full = absolute ? name : theWorld.security.currentDirectory + "\\" + name;
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
        return failing(ERROR_FILENAME_EXCED_RANGE, 0);
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
    theWorld.security.securityQueries.push_back(fileName);
    if (charactersIn(fileName) >= MAX_PATH) {
        return failing(ERROR_FILENAME_EXCED_RANGE, FALSE);
    }
    if (key.find_first_of("\"<>|*?", 2) != std::string::npos) {
        return failing(ERROR_INVALID_NAME, FALSE);
    }
    auto error = theWorld.security.securityErrors.find(key);
    if (DWORD fault = error != theWorld.security.securityErrors.end() ? error->second : missingError(key)) {
        return failing(fault, FALSE);
    }
    if (requested != (OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION)) {
        return failing(ERROR_INVALID_PARAMETER, FALSE); // this stand-in answers only what the product asks
    }
    auto found = theWorld.security.fileSecurity.find(key);
    std::string bytes =
        selfRelative(found != theWorld.security.fileSecurity.end() ? found->second : stub::adminsOnly());
    *sizeNeeded = static_cast<DWORD>(bytes.size());
    if (size < bytes.size()) {
        return failing(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    memcpy(descriptor, bytes.data(), bytes.size());
    return TRUE;
}

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner, LPBOOL ownerDefaulted)
{
    const unsigned char* bytes = descriptorBytes(descriptor, "GetSecurityDescriptorOwner");
    if (bytes == nullptr) {
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
    const unsigned char* bytes = descriptorBytes(descriptor, "GetSecurityDescriptorDacl");
    if (bytes == nullptr) {
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
    if (auto error = injected("GetAce")) {
        return failing(*error, FALSE);
    }
    if (acl == nullptr || index >= acl->AceCount) {
        return failing(ERROR_INVALID_PARAMETER, FALSE);
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

// Only what the product asks: one existing file or folder, or a folder's
// entries ("FOLDER\\*"). As on Windows, a name that ends in a backslash (a
// bare root) is never found, a name of MAX_PATH characters or more neither,
// and a listing holds . and .. but at a root, where an empty listing fails.
HANDLE FindFirstFileW(LPCWSTR fileName, WIN32_FIND_DATAW* found)
{
    std::string name = narrow(fileName);
    if (std::char_traits<WCHAR>::length(fileName) >= MAX_PATH) { // without long-path support
        return failing(ERROR_FILENAME_EXCED_RANGE, INVALID_HANDLE_VALUE);
    }
    bool listing = name.size() > 2 && name.compare(name.size() - 2, 2, "\\*") == 0;
    std::string path = listing ? name.substr(0, name.size() - 2) : name;
    auto error = theWorld.security.findErrors.find(lowerCase(name));
    DWORD missing = missingError(path);
    DWORD fault = name.back() == '\\'                           ? ERROR_FILE_NOT_FOUND
                  : error != theWorld.security.findErrors.end() ? error->second
                  : listing && missing != 0                     ? ERROR_PATH_NOT_FOUND
                                                                : missing;
    if (fault != 0) {
        return failing(fault, INVALID_HANDLE_VALUE);
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
        auto listed = theWorld.security.folderEntries.find(lowerCase(path));
        if (listed != theWorld.security.folderEntries.end()) {
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
    if (entries.empty()) { // an empty root
        return failing(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
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
    if (auto error = injected("FindNextFileW")) {
        return failing(*error, FALSE);
    }
    if (open->listing.empty()) {
        return failing(ERROR_NO_MORE_FILES, FALSE);
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
    auto found = theWorld.security.driveTypes.find(lowerCase(rootPath));
    return found != theWorld.security.driveTypes.end() ? found->second : DRIVE_FIXED;
}

// The device a drive letter stands for: a volume unless the world says
// otherwise. As on Windows, the name has no trailing backslash, and the
// buffer gets the target, its terminator and a final one.
DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD size)
{
    if (auto error = injected("QueryDosDeviceA")) {
        return failing(*error, 0);
    }
    std::string name = lowerCase(deviceName);
    if (name.size() != 2 || name[1] != ':') {
        return failing(ERROR_FILE_NOT_FOUND, 0);
    }
    auto found = theWorld.security.dosDevices.find(name);
    std::string target = found != theWorld.security.dosDevices.end() ? found->second : "\\Device\\HarddiskVolume1";
    if (target.size() + 2 > size) {
        return failing(ERROR_INSUFFICIENT_BUFFER, 0);
    }
    memcpy(targetPath, target.c_str(), target.size() + 1);
    targetPath[target.size() + 1] = '\0';
    return static_cast<DWORD>(target.size() + 2);
}

HANDLE GetCurrentProcess()
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

BOOL OpenProcessToken(HANDLE, DWORD, PHANDLE token)
{
    if (auto error = injected("OpenProcessToken")) {
        return failing(*error, FALSE);
    }
    *token = addHandle({Kind::token});
    return TRUE;
}

// TokenUser only: the record, then the SID it points to.
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID information, DWORD size, LPDWORD sizeNeeded)
{
    std::string sid;
    appendSid(sid, theWorld.security.tokenUser);
    *sizeNeeded = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
    if (handleOf(token, Kind::token) == nullptr) {
        return FALSE;
    }
    if (auto error = injected("GetTokenInformation")) {
        return failing(*error, FALSE);
    }
    if (kind != TokenUser || size < *sizeNeeded) {
        return failing(ERROR_INSUFFICIENT_BUFFER, FALSE);
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
    if (auto error = injected("LookupAccountSidW")) {
        return failing(*error, FALSE);
    }
    std::string administrators;
    appendSid(administrators, "S-1-5-32-544");
    if (systemName != nullptr || !IsValidSid(sid) || GetLengthSid(sid) != administrators.size() ||
        memcmp(sid, administrators.data(), administrators.size()) != 0) {
        return failing(ERROR_NONE_MAPPED, FALSE);
    }
    std::basic_string<WCHAR> group = fromUtf8(theWorld.security.administratorsGroupName);
    std::basic_string<WCHAR> builtin = fromUtf8("BUILTIN");
    if (*nameLength <= group.size() || *domainLength <= builtin.size()) {
        *nameLength = static_cast<DWORD>(group.size() + 1);
        *domainLength = static_cast<DWORD>(builtin.size() + 1);
        return failing(ERROR_INSUFFICIENT_BUFFER, FALSE);
    }
    std::copy(group.c_str(), group.c_str() + group.size() + 1, name);
    std::copy(builtin.c_str(), builtin.c_str() + builtin.size() + 1, domain);
    *nameLength = static_cast<DWORD>(group.size());
    *domainLength = static_cast<DWORD>(builtin.size());
    *use = SidTypeAlias;
    return TRUE;
}
