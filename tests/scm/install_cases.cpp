// "install" against the real SCM: what it registers and what it logs.
#include "folder.h"
#include "harness.h"

#include <lm.h>
#include <sddl.h>

#include <stdio.h>
#include <stdlib.h>

// The registration as the SCM keeps it, and its answer to a second install.
SCM_CASE(InstallRegistersAnAutoStartServiceUnderTheQuotedPath)
{
    Folder f = layOut(__func__);
    writeConfig(f, f.name + "\ntarget.exe\n");
    runSvclaunch(f, "install");

    CHECK_EQ(logOf(f), "Installed Successfully\r\n");
    CHECK_EQ(registryString(f.name, "ImagePath"), "\"" + f.exe + "\"");
    CHECK_EQ(registryString(f.name, "DisplayName"), f.name);
    CHECK_EQ(registryString(f.name, "ObjectName"), "LocalSystem");
    CHECK_EQ(registryDword(f.name, "Start"), SERVICE_AUTO_START);
    CHECK_EQ(registryDword(f.name, "Type"), SERVICE_WIN32_OWN_PROCESS);
    CHECK_EQ(registryDword(f.name, "ErrorControl"), SERVICE_ERROR_IGNORE);
    CHECK_EQ(serviceState(f.name), SERVICE_STOPPED); // install starts nothing
    runSvclaunch(f, "install");
    CHECK_EQ(logOf(f), "Installed Successfully\r\nAlready Exists\r\n"); // the SCM's 1073
}

SCM_CASE(InstallWithTheDisplayNameTakenLogsTheCodeAndAnEmptyLine)
{
    Folder f = layOut(__func__);
    removeServiceAtCaseEnd(f.name + "_Other");
    REQUIRE(CHECK_EQ(createOtherService(f.name + "_Other", f.name, "C:\\other.exe"), 0ul));
    writeConfig(f, f.name + "\ntarget.exe\n");
    runSvclaunch(f, "install");
    CHECK_EQ(logOf(f), "Was not Installed Successfully. Error Code 1078\r\n\r\n");
    checkScriptVerdict(f, false, "Was not Installed Successfully. Error Code 1078");
    CHECK_NOT_REGISTERED(f.name);
}

// The SCM starts an image path of 259 characters, MAX_PATH less one: the
// longest that install takes. Neither Windows nor Wine lets a program start
// one of 260, so that refusal is a host row.
SCM_CASE(TheScmStartsAnOwnPathOf259Characters)
{
    std::string caseFolder = suiteRoot() + "\\" + __func__ + "\\";
    const size_t exeName = std::string("\\svclaunch.exe").size();
    Folder f = layOut(__func__, std::string(259 - exeName - caseFolder.size(), 'p'));
    REQUIRE(CHECK_EQ(f.exe.size(), 259ul));
    placeTarget(f);
    writeConfig(f, f.name + "\r\ntarget.exe\r\n");
    runSvclaunch(f, "install");
    CHECK_EQ(logOf(f), "Installed Successfully\r\n");
    REQUIRE(startAndStopOnce(f));
    runSvclaunch(f, "remove");
    CHECK_NOT_REGISTERED(f.name);
}

namespace {

std::wstring widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// Runs a command line given in Unicode, as a prompt does; true when it
// ended within the bound with exit code 0.
bool runWide(std::wstring commandLine)
{
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        return false;
    }
    DWORD exitCode = 1;
    bool ended = WaitForSingleObject(process.hProcess, waitBoundMs) == WAIT_OBJECT_0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended && exitCode == 0;
}

} // namespace

// Code page 1252 has no a with macron: the ANSI calls spell ...\B\u0101ckup as
// ...\Backup, a folder that someone else may have made. Run from the real
// folder, nothing may be read, registered or written in either. A folder
// that the code page spells exactly (Caf\xE9) works as any other.
SCM_CASE(LookAlikeFolderIsNeverUsedAndAnExactlySpeltOneIs)
{
    if (GetACP() != 1252) {
        skipCase("the ANSI code page is " + std::to_string(GetACP()) + ", not 1252");
        return;
    }
    Folder lookAlike = layOut(__func__, "Backup");
    placeTarget(lookAlike);
    writeConfig(lookAlike, lookAlike.name + "\r\ntarget.exe\r\n");
    std::wstring real = widen(suiteRoot() + "\\" + __func__) + L"\\B\u0101ckup";
    std::string realName = lookAlike.name + "_Real";
    removeServiceAtCaseEnd(realName);
    REQUIRE(CreateDirectoryW(real.c_str(), NULL));
    REQUIRE(CopyFileW(widen(lookAlike.exe).c_str(), (real + L"\\svclaunch.exe").c_str(), FALSE));
    HANDLE config = CreateFileW((real + L"\\service.cnf").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    std::string content = realName + "\r\ntarget.exe\r\n";
    DWORD written = 0;
    CHECK(config != INVALID_HANDLE_VALUE && WriteFile(config, content.data(), content.size(), &written, NULL));
    CloseHandle(config);

    for (const wchar_t* verb : {L" install", L"", L" remove"}) {
        CHECK(runWide(L"\"" + real + L"\\svclaunch.exe\"" + verb));
        CHECK_NOT_REGISTERED(lookAlike.name);
        CHECK_NOT_REGISTERED(realName);
    }
    CHECK(!fileExists(lookAlike.path + "\\service.log"));
    CHECK(GetFileAttributesW((real + L"\\service.log").c_str()) == INVALID_FILE_ATTRIBUTES);
    // The suite's clean-up spells folders in ANSI: this one goes here.
    DeleteFileW((real + L"\\svclaunch.exe").c_str());
    DeleteFileW((real + L"\\service.cnf").c_str());
    CHECK(RemoveDirectoryW(real.c_str()));

    Folder cafe = layOut(__func__, "Caf\xE9");
    placeTarget(cafe);
    writeConfig(cafe, cafe.name + "\r\ntarget.exe\r\n");
    runSvclaunch(cafe, "install");
    CHECK_EQ(registryString(cafe.name, "ImagePath"), "\"" + cafe.exe + "\"");
    REQUIRE(startAndStopOnce(cafe));
    runSvclaunch(cafe, "remove");
    std::string target = cafe.path + "\\target.exe";
    CHECK_EQ(logOf(cafe), "Installed Successfully\r\n" + cafe.name + " Created this file\r\nstart: " + target +
                              "\r\nstop: " + target + "\r\nRemoved Successfully\r\n");
}

namespace {

const DWORD modify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
const DWORD readExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

// Installs folder with this line 2; checks that it registered nothing and
// logged that refusal, alone.
void checkRefused(const Folder& folder, const std::string& line2, const std::string& refusal)
{
    writeConfig(folder, folder.name + "\n" + line2 + "\n");
    DeleteFileA((folder.path + "\\service.log").c_str());
    runSvclaunch(folder, "install");
    CHECK_EQ(logOf(folder), "Was not Installed Successfully. " + refusal + "\r\n");
    CHECK_NOT_REGISTERED(folder.name);
}

// Line 2's way from the folder up to its drive's root.
std::string upToRoot(const Folder& folder)
{
    std::string way;
    for (char c : folder.path) {
        way += c == '\\' ? "..\\" : "";
    }
    return way;
}

// What Wine can show only through the prefix's set-up, which needs root: a
// folder of another Unix user (shown as Anonymous Logon's) and a symbolic
// link to a folder, in C:\svclaunch-others.
std::string othersFolder(const Folder& folder)
{
    return folder.path.substr(0, 2) + "\\svclaunch-others";
}

} // namespace

// A LocalSystem service must run nothing that anyone but administrators may
// change: not its folder, svclaunch.exe, service.cnf, the target or a DLL
// beside them. Such an install registers nothing and names who and the
// path; the same folder, locked down again, installs.
SCM_CASE(InstallRefusesWhatEveryoneCanChangeAndTakesItLockedDown)
{
    Folder f = layOut(__func__);
    REQUIRE(placeTarget(f) && writeFile(f.path + "\\helper.dll", ""));
    for (const std::string& path :
         {f.path, f.exe, f.path + "\\service.cnf", f.path + "\\target.exe", f.path + "\\helper.dll"}) {
        REQUIRE(CHECK(setOwnDacl(path, modify)));
        checkRefused(f, "target.exe", "Everyone can change " + path);
        REQUIRE(CHECK(setOwnDacl(path, readExecute)));
    }
    DeleteFileA((f.path + "\\service.log").c_str());
    writeConfig(f, f.name + "\ntarget.exe\n");
    runSvclaunch(f, "install");
    CHECK_EQ(logOf(f), "Installed Successfully\r\n");
    CHECK_EQ(serviceState(f.name), SERVICE_STOPPED);
}

// Everything beneath the folders is judged, to any depth: a folder beneath
// that Everyone may change, or a file in it, is refused. A target that is a
// folder would be opened by the shell.
SCM_CASE(InstallRefusesASubfolderThatEveryoneCanChangeAndATargetFolder)
{
    Folder f = layOut(__func__);
    REQUIRE(placeTarget(f) && makeDirectories(f.path + "\\lib\\plugins") && writeFile(f.path + "\\lib\\x.dll", ""));
    for (const std::string& path : {f.path + "\\lib", f.path + "\\lib\\plugins", f.path + "\\lib\\x.dll"}) {
        REQUIRE(CHECK(setOwnDacl(path, modify)));
        checkRefused(f, "target.exe", "Everyone can change " + path);
        REQUIRE(CHECK(setOwnDacl(path, readExecute)));
    }
    REQUIRE(CHECK(makeDirectories(f.path + "\\tool.exe")));
    checkRefused(f, "tool.exe", "The target is a folder: " + f.path + "\\tool.exe");
}

namespace {

std::string substituteDrive;

void removeSubstituteDrive()
{
    DefineDosDeviceA(DDD_REMOVE_DEFINITION, substituteDrive.c_str(), NULL);
}

} // namespace

// A drive made by subst (DefineDosDevice) stands for a folder: the folders
// above it would go unjudged, so install refuses it. Wine answers
// QueryDosDevice for such a drive, but nothing can be started through it.
SCM_CASE(InstallRefusesASubstituteDrive)
{
    Folder f = layOut(__func__);
    REQUIRE(placeTarget(f));
    writeConfig(f, f.name + "\ntarget.exe\n");
    for (char letter = 'S'; letter <= 'Y' && substituteDrive.empty(); ++letter) {
        std::string drive = std::string(1, letter) + ":";
        char target[MAX_PATH];
        if (QueryDosDeviceA(drive.c_str(), target, sizeof target) == 0 &&
            DefineDosDeviceA(0, drive.c_str(), f.path.c_str())) {
            substituteDrive = drive;
            atCaseEnd(removeSubstituteDrive);
        }
    }
    REQUIRE(CHECK(!substituteDrive.empty()));
    RunResult install = runProgram(substituteDrive + "\\svclaunch.exe install");
    if (!install.started && underWine()) {
        skipCase("Wine starts nothing through a drive that DefineDosDevice made");
        return;
    }
    CHECK(install.finished);
    CHECK_EQ(logOf(f), "Was not Installed Successfully. " + substituteDrive + " is a substitute for a folder: \\??\\" +
                           f.path + "\r\n");
    CHECK_NOT_REGISTERED(f.name);
}

namespace {

// A direct member of this machine's Administrators other than the account
// that runs the case, as the accounts database lists it; "" when none.
std::string otherAdministrator()
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID administrators = NULL;
    AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                             &administrators);
    WCHAR group[GNLEN + 1];
    WCHAR domain[GNLEN + 1];
    DWORD groupLength = GNLEN + 1;
    DWORD domainLength = GNLEN + 1;
    SID_NAME_USE use;
    bool named = LookupAccountSidW(NULL, administrators, group, &groupLength, domain, &domainLength, &use);
    FreeSid(administrators);
    HANDLE token = NULL;
    BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    bool known = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                 GetTokenInformation(token, TokenUser, user, sizeof user, &size);
    CloseHandle(token);
    LPBYTE buffer = NULL;
    DWORD read = 0;
    DWORD total = 0;
    std::string found;
    if (named && known &&
        NetLocalGroupGetMembers(NULL, group, 0, &buffer, MAX_PREFERRED_LENGTH, &read, &total, NULL) == NERR_Success) {
        auto* members = reinterpret_cast<LOCALGROUP_MEMBERS_INFO_0*>(buffer);
        for (DWORD i = 0; i < read && found.empty(); ++i) {
            char* text = NULL;
            if (!EqualSid(members[i].lgrmi0_sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) &&
                ConvertSidToStringSidA(members[i].lgrmi0_sid, &text)) {
                found = text;
                LocalFree(text);
            }
        }
    }
    NetApiBufferFree(buffer);
    return found;
}

// Makes sid the owner of path, which an administrator may do for another
// account with the restore privilege.
bool setOwner(const std::string& path, const std::string& sid)
{
    HANDLE token = NULL;
    TOKEN_PRIVILEGES restore = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    bool enabled = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token) &&
                   LookupPrivilegeValueA(NULL, SE_RESTORE_NAME, &restore.Privileges[0].Luid) &&
                   AdjustTokenPrivileges(token, FALSE, &restore, 0, NULL, NULL) && GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    PSID owner = NULL;
    SECURITY_DESCRIPTOR descriptor;
    bool set = enabled && ConvertStringSidToSidA(sid.c_str(), &owner) &&
               InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorOwner(&descriptor, owner, FALSE) &&
               SetFileSecurityA(path.c_str(), OWNER_SECURITY_INFORMATION, &descriptor);
    LocalFree(owner);
    return set;
}

} // namespace

// Install trusts every direct member of this machine's Administrators, as
// its accounts database lists them: a target owned by a member other than
// the installing account installs. Wine lists no members.
SCM_CASE(InstallTrustsAMemberOfAdministratorsAsTheTargetsOwner)
{
    std::string member = otherAdministrator();
    if (member.empty()) {
        skipCase(underWine() ? "Wine lists no members of Administrators"
                             : "Administrators has no member here but the account that runs the case");
        return;
    }
    Folder f = layOut(__func__);
    REQUIRE(placeTarget(f));
    REQUIRE(CHECK(setOwner(f.path + "\\target.exe", member)));
    writeConfig(f, f.name + "\ntarget.exe\n");
    runSvclaunch(f, "install");
    CHECK_EQ(logOf(f), "Installed Successfully\r\n");
}

// Wine cannot make a junction: there the target lies behind the set-up's
// symbolic link.
SCM_CASE(InstallRefusesALinkInTheChain)
{
    Folder f = layOut(__func__);
    REQUIRE(placeTarget(f));
    if (!underWine()) {
        REQUIRE(CHECK(makeDirectories(f.path + "\\real")));
        runCommandLine("cmd /c mklink /J \"" + f.path + "\\link\" \"" + f.path + "\\real\" >nul");
        checkRefused(f, "link\\target.exe", f.path + "\\link is a link");
        RemoveDirectoryA((f.path + "\\link").c_str());
    } else if (fileExists(othersFolder(f) + "\\link")) {
        checkRefused(f, upToRoot(f) + "svclaunch-others\\link\\target.exe", othersFolder(f) + "\\link is a link");
    } else {
        skipCase("no symbolic link here (a prefix that the suite's set-up did not make)");
    }
}

SCM_CASE(InstallRefusesWhatAnotherAccountOwnsOrCanChange)
{
    Folder f = layOut(__func__);
    REQUIRE(placeTarget(f));
    const std::string account = "S-1-5-21-1-2-3-1001"; // resolves to no account
    if (!underWine()) {
        REQUIRE(CHECK(setOwnDacl(f.path + "\\target.exe", modify, false, account.c_str())));
        checkRefused(f, "target.exe", account + " can change " + f.path + "\\target.exe");
        REQUIRE(CHECK(setOwnDacl(f.path + "\\target.exe", readExecute)));
    } else if (fileExists(othersFolder(f) + "\\foreign")) {
        checkRefused(f, upToRoot(f) + "svclaunch-others\\foreign\\target.exe",
                     "ANONYMOUS LOGON can change " + othersFolder(f) + "\\foreign");
    } else {
        skipCase("no folder of another Unix user here (the set-up was not root)");
    }
}

// A folder above that Everyone may delete can be renamed away and another
// put in its place; Wine's mode bits cannot say that alone.
SCM_CASE(InstallRefusesAFolderAboveThatEveryoneMayDelete)
{
    if (underWine()) {
        skipCase("Wine cannot let Everyone delete a folder and nothing else");
        return;
    }
    Folder f = layOut(__func__, "inner");
    std::string above = suiteRoot() + "\\" + __func__;
    REQUIRE(CHECK(placeTarget(f) && setOwnDacl(f.path, readExecute, true) && setOwnDacl(above, DELETE)));
    checkRefused(f, "target.exe", "Everyone can change " + above);
}

// The kit's report, not a check: what install makes of the folders of a
// real machine, for a look at what the rule would refuse there. A program
// that is not there, in the system folder and in each folder directly under
// Program Files, is judged with that folder's chain and everything beneath
// it; each verdict is printed with the time the install took.
void surveyFolders()
{
    Folder f = layOut("Survey");
    // The 64-bit Program Files, also for a 32-bit suite on 64-bit Windows.
    const char* programFiles = getenv("ProgramW6432") != NULL ? getenv("ProgramW6432") : getenv("ProgramFiles");
    std::string parent = programFiles != NULL ? programFiles : "C:\\Program Files";
    std::vector<std::string> folders = {systemDirectory()};
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((parent + "\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && found.cFileName[0] != '.') {
            folders.push_back(parent + "\\" + found.cFileName);
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    for (const std::string& folder : folders) {
        if (_strnicmp(folder.c_str(), f.path.c_str(), 3) != 0) {
            printf("survey: %s: on another drive, not judged\n", folder.c_str());
            continue;
        }
        writeConfig(f, f.name + "\n" + upToRoot(f) + folder.substr(3) + "\\svclaunch-survey.exe\n");
        DeleteFileA((f.path + "\\service.log").c_str());
        DWORD start = GetTickCount();
        runSvclaunch(f, "install");
        DWORD took = GetTickCount() - start;
        std::string verdict = logOf(f);
        printf("survey: %s: %s (%lu ms)\n", folder.c_str(), visible(verdict).c_str(), static_cast<unsigned long>(took));
        if (verdict == "Installed Successfully\r\n") {
            runSvclaunch(f, "remove");
        }
    }
}
