// Stand-in for the part of <ntsecapi.h> that svclaunch uses: the local
// policy's account domain.
#ifndef SVCLAUNCH_STUB_NTSECAPI_H
#define SVCLAUNCH_STUB_NTSECAPI_H

#include <windows.h>

typedef LONG NTSTATUS;
typedef void* LSA_HANDLE;
struct LSA_UNICODE_STRING {
    WORD Length;
    WORD MaximumLength;
    WCHAR* Buffer;
};
struct LSA_OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    LSA_UNICODE_STRING* ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};
struct POLICY_ACCOUNT_DOMAIN_INFO {
    LSA_UNICODE_STRING DomainName;
    PSID DomainSid;
};
enum POLICY_INFORMATION_CLASS { PolicyAccountDomainInformation = 5 };
const DWORD POLICY_VIEW_LOCAL_INFORMATION = 0x1;
const NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008);
const NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000D);
const NTSTATUS STATUS_ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022);

NTSTATUS LsaOpenPolicy(LSA_UNICODE_STRING* systemName, LSA_OBJECT_ATTRIBUTES* attributes, DWORD access,
                       LSA_HANDLE* policy);
NTSTATUS LsaQueryInformationPolicy(LSA_HANDLE policy, POLICY_INFORMATION_CLASS kind, PVOID* buffer);
NTSTATUS LsaFreeMemory(PVOID buffer);
NTSTATUS LsaClose(LSA_HANDLE policy);

#endif
