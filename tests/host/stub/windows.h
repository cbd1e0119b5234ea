// Stand-in for the part of <windows.h> that svclaunch uses, for host builds.
// Declarations only; the behaviour lives in winstub.cpp and is steered by
// the tests through stub_world.h.
#ifndef SVCLAUNCH_STUB_WINDOWS_H
#define SVCLAUNCH_STUB_WINDOWS_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define VOID void
#define TRUE 1
#define FALSE 0

typedef uint32_t DWORD;
typedef int BOOL;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef intptr_t INT_PTR;
typedef void* LPVOID;
typedef void* PVOID;
typedef char* LPSTR;
typedef uint16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef BOOL* LPBOOL;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef unsigned long ULONG;
typedef long LONG;
typedef long HRESULT;
typedef void* PSID;
typedef void* PSECURITY_DESCRIPTOR;
typedef DWORD SECURITY_INFORMATION;

struct SC_HANDLE__;
typedef SC_HANDLE__* SC_HANDLE;
struct SERVICE_STATUS_HANDLE__;
typedef SERVICE_STATUS_HANDLE__* SERVICE_STATUS_HANDLE;
struct HWND__;
typedef HWND__* HWND;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef int INT;
typedef unsigned int UINT;
const UINT MAX_PATH = 260;
typedef int(WINAPI* FARPROC)();
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

const UINT CP_ACP = 0;

const DWORD INFINITE = 0xFFFFFFFF;
const DWORD WAIT_OBJECT_0 = 0;
const DWORD WAIT_TIMEOUT = 0x102;
const DWORD WAIT_FAILED = 0xFFFFFFFF;

const DWORD NO_ERROR = 0;
const LONG ERROR_SUCCESS = 0;
const DWORD ERROR_INVALID_FUNCTION = 1;
const DWORD ERROR_FILE_NOT_FOUND = 2;
const DWORD ERROR_PATH_NOT_FOUND = 3;
const DWORD ERROR_ACCESS_DENIED = 5;
const DWORD ERROR_INVALID_HANDLE = 6;
const DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
const DWORD ERROR_SHARING_VIOLATION = 32;
const DWORD ERROR_LOCK_VIOLATION = 33;
const DWORD ERROR_INVALID_PARAMETER = 87;
const DWORD ERROR_INSUFFICIENT_BUFFER = 122;
const DWORD ERROR_INVALID_NAME = 123;
const DWORD ERROR_NOT_LOCKED = 158;
const DWORD ERROR_FILENAME_EXCED_RANGE = 206;
const DWORD ERROR_BROKEN_PIPE = 109;
const DWORD ERROR_NOT_SUPPORTED = 50;
const DWORD ERROR_NO_MORE_FILES = 18;
const DWORD ERROR_MOD_NOT_FOUND = 126;
const DWORD ERROR_PROC_NOT_FOUND = 127;
const DWORD ERROR_CANCELLED = 1223;
const DWORD ERROR_MORE_DATA = 234;
const DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
const DWORD ERROR_NONE_MAPPED = 1332;
const DWORD ERROR_NO_SUCH_ALIAS = 1376;
const DWORD ERROR_INVALID_LEVEL = 124;
const DWORD ERROR_INVALID_ACL = 1336;
const DWORD ERROR_INVALID_SECURITY_DESCR = 1338;
const DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
const DWORD ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
const DWORD ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
const DWORD ERROR_SERVICE_EXISTS = 1073;
const DWORD ERROR_DUPLICATE_SERVICE_NAME = 1078;

const DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
const DWORD SERVICE_WIN32_SHARE_PROCESS = 0x20;
const DWORD SERVICE_WIN32 = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS;
const DWORD SERVICE_AUTO_START = 2;
const DWORD SERVICE_ERROR_IGNORE = 0;

const DWORD SERVICE_STOPPED = 1;
const DWORD SERVICE_START_PENDING = 2;
const DWORD SERVICE_STOP_PENDING = 3;
const DWORD SERVICE_RUNNING = 4;

const DWORD SERVICE_ACCEPT_STOP = 1;
const DWORD SERVICE_ACCEPT_SHUTDOWN = 4;

const DWORD SERVICE_CONTROL_STOP = 1;
const DWORD SERVICE_CONTROL_PAUSE = 2;
const DWORD SERVICE_CONTROL_CONTINUE = 3;
const DWORD SERVICE_CONTROL_INTERROGATE = 4;
const DWORD SERVICE_CONTROL_SHUTDOWN = 5;

const DWORD DELETE = 0x10000;
const DWORD SERVICE_QUERY_STATUS = 0x4;
const DWORD SERVICE_ALL_ACCESS = 0xF01FF;
const DWORD SC_MANAGER_CONNECT = 0x1;
const DWORD SC_MANAGER_CREATE_SERVICE = 0x2;

const int SW_HIDE = 0;
const HRESULT S_OK = 0;

const DWORD GENERIC_READ = 0x80000000;
const DWORD GENERIC_WRITE = 0x40000000;
const DWORD FILE_READ_DATA = 0x1;
const DWORD FILE_WRITE_DATA = 0x2;
const DWORD FILE_APPEND_DATA = 0x4;
const DWORD FILE_SHARE_READ = 0x1;
const DWORD FILE_SHARE_WRITE = 0x2;
const DWORD FILE_SHARE_DELETE = 0x4;
const DWORD OPEN_ALWAYS = 4;
const DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
const DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
const DWORD LOCKFILE_FAIL_IMMEDIATELY = 0x1;
const DWORD LOCKFILE_EXCLUSIVE_LOCK = 0x2;

const DWORD FILE_ADD_FILE = 0x2;
const DWORD FILE_ADD_SUBDIRECTORY = 0x4;
const DWORD FILE_DELETE_CHILD = 0x40;
const DWORD FILE_WRITE_ATTRIBUTES = 0x100;
const DWORD WRITE_DAC = 0x40000;
const DWORD WRITE_OWNER = 0x80000;
const DWORD GENERIC_ALL = 0x10000000;
const DWORD FILE_ALL_ACCESS = 0x1F01FF;
const DWORD FILE_GENERIC_READ = 0x120089;
const DWORD FILE_GENERIC_WRITE = 0x120116;
const DWORD FILE_GENERIC_EXECUTE = 0x1200A0;

const DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
const DWORD IO_REPARSE_TAG_MOUNT_POINT = 0xA0000003;
const DWORD IO_REPARSE_TAG_SYMLINK = 0xA000000C;
const DWORD IO_REPARSE_TAG_DEDUP = 0x80000013;
const DWORD IO_REPARSE_TAG_LX_SYMLINK = 0xA000001D;
#define IsReparseTagNameSurrogate(tag) (((tag)&0x20000000) != 0)
const UINT DRIVE_UNKNOWN = 0;
const UINT DRIVE_NO_ROOT_DIR = 1;
const UINT DRIVE_REMOVABLE = 2;
const UINT DRIVE_FIXED = 3;
const UINT DRIVE_REMOTE = 4;
const UINT DRIVE_CDROM = 5;
const UINT DRIVE_RAMDISK = 6;
const DWORD LOAD_LIBRARY_SEARCH_DEFAULT_DIRS = 0x1000;
const DWORD TOKEN_QUERY = 0x8;

const DWORD OWNER_SECURITY_INFORMATION = 0x1;
const DWORD DACL_SECURITY_INFORMATION = 0x4;
const BYTE ACCESS_ALLOWED_ACE_TYPE = 0;
const BYTE ACCESS_DENIED_ACE_TYPE = 1;
const BYTE SYSTEM_AUDIT_ACE_TYPE = 2;
const BYTE SYSTEM_ALARM_ACE_TYPE = 3;
const BYTE ACCESS_ALLOWED_COMPOUND_ACE_TYPE = 4;
const BYTE ACCESS_ALLOWED_OBJECT_ACE_TYPE = 5;
const BYTE ACCESS_DENIED_OBJECT_ACE_TYPE = 6;
const BYTE SYSTEM_AUDIT_OBJECT_ACE_TYPE = 7;
const BYTE SYSTEM_ALARM_OBJECT_ACE_TYPE = 8;
const BYTE ACCESS_ALLOWED_CALLBACK_ACE_TYPE = 9;
const BYTE ACCESS_DENIED_CALLBACK_ACE_TYPE = 10;
const BYTE ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE = 11;
const BYTE ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE = 12;
const BYTE SYSTEM_AUDIT_CALLBACK_ACE_TYPE = 13;
const BYTE SYSTEM_ALARM_CALLBACK_ACE_TYPE = 14;
const BYTE SYSTEM_AUDIT_CALLBACK_OBJECT_ACE_TYPE = 15;
const BYTE SYSTEM_ALARM_CALLBACK_OBJECT_ACE_TYPE = 16;
const BYTE SYSTEM_MANDATORY_LABEL_ACE_TYPE = 17;
const BYTE SYSTEM_RESOURCE_ATTRIBUTE_ACE_TYPE = 18;
const BYTE SYSTEM_SCOPED_POLICY_ID_ACE_TYPE = 19;
const BYTE SYSTEM_PROCESS_TRUST_LABEL_ACE_TYPE = 20;
const BYTE SYSTEM_ACCESS_FILTER_ACE_TYPE = 21;
const DWORD ACE_OBJECT_TYPE_PRESENT = 0x1;
const DWORD ACE_INHERITED_OBJECT_TYPE_PRESENT = 0x2;
const BYTE OBJECT_INHERIT_ACE = 0x1;
const BYTE CONTAINER_INHERIT_ACE = 0x2;
const BYTE NO_PROPAGATE_INHERIT_ACE = 0x4;
const BYTE INHERIT_ONLY_ACE = 0x8;
const BYTE INHERITED_ACE = 0x10;
const BYTE SID_REVISION = 1;
const BYTE ACL_REVISION = 2;
const BYTE SECURITY_DESCRIPTOR_REVISION = 1;
const WORD SE_DACL_PRESENT = 0x4;
const WORD SE_SELF_RELATIVE = 0x8000;
struct GUID {
    BYTE bytes[16];
};
const BYTE SID_MAX_SUB_AUTHORITIES = 15;
const size_t SECURITY_MAX_SID_SIZE = 68;
const DWORD SECURITY_BUILTIN_DOMAIN_RID = 32;
const DWORD DOMAIN_ALIAS_RID_ADMINS = 544;

typedef struct _SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY;

typedef struct _SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[1];
} SID;

typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES;

typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER;

enum TOKEN_INFORMATION_CLASS { TokenUser = 1 };
enum SID_NAME_USE { SidTypeUser = 1, SidTypeGroup, SidTypeDomain, SidTypeAlias };

// Only the fields the product reads.
typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    DWORD dwReserved0; // the reparse tag, for a reparse point
    WCHAR cFileName[MAX_PATH];
} WIN32_FIND_DATAW;

typedef struct _ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
} ACL, *PACL;

typedef struct _ACE_HEADER {
    BYTE AceType;
    BYTE AceFlags;
    WORD AceSize;
} ACE_HEADER;

typedef struct _ACCESS_ALLOWED_ACE {
    ACE_HEADER Header;
    DWORD Mask;
    DWORD SidStart;
} ACCESS_ALLOWED_ACE;

typedef struct _OVERLAPPED {
    uintptr_t Internal;
    uintptr_t InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

struct HKEY__;
typedef HKEY__* HKEY;
typedef struct _SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
} SERVICE_STATUS, *LPSERVICE_STATUS;

typedef VOID(WINAPI* LPSERVICE_MAIN_FUNCTIONA)(DWORD, LPSTR*);
typedef VOID(WINAPI* LPHANDLER_FUNCTION)(DWORD);

typedef struct _SERVICE_TABLE_ENTRYA {
    LPSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
} SERVICE_TABLE_ENTRYA;

typedef struct _CRITICAL_SECTION {
    void* lock;
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

DWORD GetLastError();
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR bytes, int size,
                        LPCSTR defaultChar, LPBOOL usedDefaultChar);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int byteLength, LPWSTR wide, int size);
HMODULE LoadLibraryA(LPCSTR fileName);
DWORD GetFullPathNameA(LPCSTR fileName, DWORD size, LPSTR buffer, LPSTR* filePart);

BOOL GetFileSecurityA(LPCSTR fileName, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor, DWORD size,
                      LPDWORD sizeNeeded);
BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID* owner, LPBOOL ownerDefaulted);
BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL daclPresent, PACL* dacl, LPBOOL daclDefaulted);
BOOL GetAce(PACL acl, DWORD index, LPVOID* ace);
BOOL IsValidSid(PSID sid);
DWORD GetLengthSid(PSID sid);
BOOL EqualSid(PSID first, PSID second);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
HMODULE GetModuleHandleA(LPCSTR moduleName);
HANDLE FindFirstFileW(LPCWSTR fileName, WIN32_FIND_DATAW* found);
BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* found);
BOOL FindClose(HANDLE search);
UINT GetDriveTypeA(LPCSTR rootPath);
DWORD QueryDosDeviceA(LPCSTR deviceName, LPSTR targetPath, DWORD size);
BOOL LookupAccountSidW(LPCWSTR systemName, PSID sid, LPWSTR name, LPDWORD nameLength, LPWSTR domain,
                       LPDWORD domainLength, SID_NAME_USE* use);
HANDLE GetCurrentProcess();
BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID information, DWORD size,
                         LPDWORD sizeNeeded);

HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES attributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, LPDWORD written, void* overlapped);
BOOL ReadFile(HANDLE file, void* buffer, DWORD size, LPDWORD read, void* overlapped);
BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped);
BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytesLow, DWORD bytesHigh, LPOVERLAPPED overlapped);
void Sleep(DWORD milliseconds);
DWORD GetTickCount();
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL CloseHandle(HANDLE handle);

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);

BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(LPCSTR serviceName, LPHANDLER_FUNCTION handler);
BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);

SC_HANDLE OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD access);
SC_HANDLE CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD access, DWORD serviceType,
                         DWORD startType, DWORD errorControl, LPCSTR binaryPath, LPCSTR loadOrderGroup, LPDWORD tagId,
                         LPCSTR dependencies, LPCSTR account, LPCSTR password);
SC_HANDLE OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access);
BOOL QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status);
BOOL DeleteService(SC_HANDLE service);
BOOL CloseServiceHandle(SC_HANDLE handle);

#endif
