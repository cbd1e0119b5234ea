// The "install" and "remove" verbs against the service database: what they
// ask of the SCM, the one log line each leaves, and the handles they free.
#include "support.h"

namespace {

using stub::world;

class RegistrationTest : public SvclaunchTest {
protected:
    void SetUp() override
    {
        SvclaunchTest::SetUp();
        writeConfig("Svc", "target.exe");
    }
    // Every path releases what it opened, and only that; the verbs load no
    // library.
    void checkRun() override
    {
        EXPECT_TRUE(world().loadedLibraries.empty());
        SvclaunchTest::checkRun();
    }
    void registerService(const std::string& name, DWORD state)
    {
        world().services[name] = {name, "\"C:\\svc\\svclaunch.exe\"", state};
    }
    std::string log() { return fileExists(logFile) ? readLog(logFile) : "(no log)"; }

    // A shape install may meet: the descriptor of one path, what else the
    // world holds, and the line install leaves (empty: it installs).
    struct Shape {
        Shape(std::string shape_, std::string path_, stub::FileSecurity security_, std::string line_,
              std::function<void()> arrange_ = nullptr)
            : shape(shape_), path(path_), security(security_), line(line_), arrange(arrange_)
        {
        }
        Shape(std::string shape_, std::string line_, std::function<void()> arrange_)
            : Shape(shape_, "", {}, line_, arrange_)
        {
        }
        std::string shape;
        std::string path;
        stub::FileSecurity security;
        std::string line;
        std::function<void()> arrange;
    };
    void checkInstall(std::initializer_list<Shape> shapes)
    {
        for (const Shape& c : shapes) {
            nextRun();
            writeConfig("Svc", "target.exe");
            world().fileSecurity = {{c.path, c.security}};
            if (c.arrange) {
                c.arrange();
            }
            writeFile(logFile, "");
            runVerb("install");
            if (c.line.empty()) {
                EXPECT_EQ(world().creates.size(), 1u) << c.shape;
                EXPECT_EQ(log(), "Installed Successfully\n") << c.shape;
            } else {
                EXPECT_TRUE(world().creates.empty()) << c.shape;
                EXPECT_EQ(log(), "Was not Installed Successfully. " + c.line + "\n") << c.shape;
            }
        }
    }
};

// --- install ---

TEST_F(RegistrationTest, InstallRegistersAnAutoStartOwnProcessServiceUnderTheQuotedPath)
{
    world().modulePath = "C:\\Program Files\\svc\\svclaunch.exe";
    world().folderEntries["c:\\program files\\svc"] = {"svclaunch.exe", "service.cnf"};
    runVerb("install");

    EXPECT_EQ(world().managerAccess, std::vector<DWORD>{SC_MANAGER_CREATE_SERVICE});
    ASSERT_EQ(world().creates.size(), 1u);
    const stub::CreateCall& call = world().creates[0];
    EXPECT_EQ(call.name, "Svc");
    EXPECT_EQ(call.displayName, "Svc");
    EXPECT_EQ(call.access, SERVICE_ALL_ACCESS);
    EXPECT_EQ(call.serviceType, SERVICE_WIN32_OWN_PROCESS);
    EXPECT_EQ(call.startType, SERVICE_AUTO_START);
    EXPECT_EQ(call.errorControl, SERVICE_ERROR_IGNORE);
    EXPECT_EQ(call.binaryPath, "\"C:\\Program Files\\svc\\svclaunch.exe\"");
    EXPECT_FALSE(call.hasLoadOrderGroup || call.hasTagId || call.hasDependencies || call.hasAccount ||
                 call.hasPassword);
    EXPECT_EQ(log(), "Installed Successfully\n");
    EXPECT_EQ(world().closedHandles, (std::vector<std::string>{"service:Svc", "manager"}));
    // Each folder that holds what runs up to the root, then each file in it, once.
    EXPECT_EQ(world().securityQueries,
              (std::vector<std::string>{"C:\\Program Files\\svc", "C:\\Program Files", "C:\\",
                                        "C:\\Program Files\\svc\\svclaunch.exe", "C:\\Program Files\\svc\\service.cnf",
                                        "C:\\work\\box", "C:\\work", "C:\\", "C:\\work\\box\\target.exe"}));
}

TEST_F(RegistrationTest, InstallOfAnExistingNameLogsAlreadyExists)
{
    registerService("svc", SERVICE_STOPPED);
    runVerb("install");
    EXPECT_EQ(log(), "Already Exists\n");
}

TEST_F(RegistrationTest, InstallRefusedForAnotherReasonLogsTheCodeAndAnEmptyLine)
{
    world().services["other"] = {"Svc", "\"C:\\other.exe\"", SERVICE_STOPPED}; // display name taken
    runVerb("install");
    EXPECT_EQ(log(), "Was not Installed Successfully. Error Code 1078\n\n");

    world().services.clear();
    writeFile(logFile, "");
    writeConfig(std::string(257, 'n'), "target.exe"); // longer than Windows allows a service name
    runVerb("install");
    EXPECT_EQ(log(), "Was not Installed Successfully. Error Code 123\n\n");
    writeConfig("Svc", "target.exe");
    writeFile(logFile, "");
    for (DWORD code : {ERROR_ACCESS_DENIED, DWORD{1057}, DWORD{0x80070005}}) {
        world().createServiceError = code;
        runVerb("install");
    }
    EXPECT_EQ(log(), "Was not Installed Successfully. Error Code 5\n\n"
                     "Was not Installed Successfully. Error Code 1057\n\n"
                     "Was not Installed Successfully. Error Code -2147024891\n\n"); // as a signed 32-bit value
    EXPECT_EQ(world().closedHandles, (std::vector<std::string>{"manager", "manager", "manager", "manager", "manager"}));
}

TEST_F(RegistrationTest, InstallWithoutTheRightToCreateServicesLeavesNoTrace)
{
    world().openManagerError = ERROR_ACCESS_DENIED;
    runVerb("install");
    EXPECT_TRUE(world().creates.empty());
    EXPECT_EQ(log(), "(no log)");
}

TEST_F(RegistrationTest, InstallCreatesNothingWhenTheOwnPathCannotBeHadWhole)
{
    world().moduleFileNameError = ERROR_ACCESS_DENIED; // start-up stops before any mode
    runVerb("install");
    world().moduleFileNameError = 0;
    world().modulePath = "C:\\" + std::string(254, 'p') + ".exe"; // 261 characters: cut by the call
    runVerb("install");

    EXPECT_TRUE(world().creates.empty());
    EXPECT_EQ(log(), "(no log)");
    EXPECT_EQ(world().closedHandles, (std::vector<std::string>{"manager"}));
}

// No SCM can start an image path of MAX_PATH (260) characters or more.
TEST_F(RegistrationTest, InstallTakesAnOwnPathOf259CharactersAndRefuses260)
{
    world().modulePath = "C:\\" + std::string(253, 'p') + ".exe";
    ASSERT_EQ(world().modulePath.size(), 260u);
    runVerb("install");
    EXPECT_TRUE(world().creates.empty());
    EXPECT_EQ(log(), "(no log)");

    world().modulePath = "C:\\" + std::string(252, 'p') + ".exe";
    world().folderEntries["c:"] = {world().modulePath.substr(3)};
    runVerb("install");
    ASSERT_EQ(world().creates.size(), 1u);
    EXPECT_EQ(world().creates[0].binaryPath, "\"" + world().modulePath + "\"");
    EXPECT_EQ(log(), "Installed Successfully\n");
}

// Whoever can change what a LocalSystem service runs runs code as
// LocalSystem: install registers nothing while anyone but administrators
// (the account that installs and this machine's Administrator among them)
// can, judged from owners and DACLs as Windows reads them, nor what lies
// behind a link, on a share or removable media, nor a target that is no
// program. Paths: C:\svc\svclaunch.exe, C:\svc\service.cnf and
// C:\svc\service.log; the target, relative to the current folder C:\work, is
// C:\work\box\target.exe.
const DWORD modify = 0x1301BF;
const DWORD readExecute = 0x1200A9;
const BYTE inherited = INHERITED_ACE | OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
const BYTE newFilesOnly = OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE;
const BYTE allow = ACCESS_ALLOWED_ACE_TYPE;
const BYTE deny = ACCESS_DENIED_ACE_TYPE;
const char* const admins = "S-1-5-32-544";
const char* const users = "S-1-5-32-545";

// A descriptor with these entries, owned by Administrators or another; one
// with one entry.
stub::FileSecurity entries(std::vector<stub::Ace> aces, const std::string& owner = admins)
{
    return {owner, true, aces};
}

stub::FileSecurity one(BYTE type, BYTE flags, DWORD mask, const std::string& sid, DWORD objectFlags = 0)
{
    return entries({{type, flags, mask, sid, objectFlags}});
}

// What else the world holds: a path that is not there; line 2 of service.cnf.
const auto missing = [](const char* path) { return [path] { world().missingPaths.insert(path); }; };
const auto target = [](const std::string& line2) { return [line2] { writeConfig("Svc", line2); }; };

TEST_F(RegistrationTest, InstallReadsEntriesAsWindowsReadsThem)
{
    checkInstall({
        {"Authenticated Users' inherited Modify, as under C:\\", "c:\\svc", one(allow, inherited, modify, "S-1-5-11"),
         "Authenticated Users can change C:\\svc"},
        {"Users may add files to the folder", "c:\\svc", one(allow, 0, readExecute | FILE_ADD_FILE, users),
         "Users can change C:\\svc"},
        {"Users read and execute, as in Program Files", "c:\\svc", one(allow, inherited, readExecute, users), ""},
        {"a generic write for Guests on the executable", "c:\\svc\\svclaunch.exe",
         one(allow, 0, GENERIC_WRITE, "S-1-5-32-546"), "Guests can change C:\\svc\\svclaunch.exe"},
        {"a denial before the allowance", "c:\\svc", entries({{deny, 0, modify, users}, {allow, 0, modify, users}}),
         ""},
        {"a denial after the allowance", "c:\\svc", entries({{allow, 0, modify, users}, {deny, 0, modify, users}}),
         "Users can change C:\\svc"},
        {"two earlier denials that add up", "c:\\svc",
         entries({{deny, 0, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY, users},
                  {deny, 0, DELETE, users},
                  {allow, 0, modify, users}}),
         ""},
        {"an inherit-only denial takes nothing from the folder", "c:\\svc",
         entries({{deny, newFilesOnly, modify, users}, {allow, 0, modify, users}}), "Users can change C:\\svc"},
        {"a conditional denial is not credited", "c:\\svc",
         entries({{ACCESS_DENIED_CALLBACK_ACE_TYPE, 0, modify, users}, {allow, 0, modify, users}}),
         "Users can change C:\\svc"},
        {"inherited onto the file", "c:\\svc\\svclaunch.exe", one(allow, INHERITED_ACE, modify, users),
         "Users can change C:\\svc\\svclaunch.exe"},
        {"inherited onto its folder", "c:\\svc", one(allow, INHERITED_ACE, FILE_ADD_FILE, users),
         "Users can change C:\\svc"},
        {"inherited onto a folder further up", "c:\\work", one(allow, INHERITED_ACE, FILE_DELETE_CHILD, users),
         "Users can change C:\\work"},
        {"an inherit-only entry further up", "c:\\work", one(allow, INHERIT_ONLY_ACE | inherited, modify, users), ""},
        {"an entry that only new folders inherit", "c:\\svc",
         one(allow, CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, modify, users), ""},
        {"no DACL at all, as on FAT32",
         "c:\\work\\box\\target.exe",
         {admins, false, {}},
         "Everyone can change C:\\work\\box\\target.exe"},
        {"a conditional allowance", "c:\\svc", one(ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, modify, users),
         "Users can change C:\\svc"},
        {"a conditional object allowance with both GUIDs", "c:\\svc",
         one(ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, 0, modify, users, 3), "Users can change C:\\svc"},
        {"an object allowance without an object type", "c:\\svc", one(ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, modify, users),
         "Users can change C:\\svc"},
        {"an object allowance that names an object type", "c:\\svc",
         one(ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, modify, users, ACE_OBJECT_TYPE_PRESENT), ""},
        {"an object denial without an object type", "c:\\svc",
         entries({{ACCESS_DENIED_OBJECT_ACE_TYPE, 0, modify, users, 2}, {allow, 0, modify, users}}), ""},
        {"an object denial that only typed objects inherit takes nothing from new files", "c:\\svc",
         entries({{ACCESS_DENIED_OBJECT_ACE_TYPE, newFilesOnly, modify, users, ACE_INHERITED_OBJECT_TYPE_PRESENT},
                  {allow, newFilesOnly, modify, users}}),
         "Users can change C:\\svc"},
        {"an object allowance that only typed objects inherit still counts for new files", "c:\\svc",
         one(ACCESS_ALLOWED_OBJECT_ACE_TYPE, newFilesOnly, modify, users, ACE_INHERITED_OBJECT_TYPE_PRESENT),
         "Users can change C:\\svc"},
        {"a denial that new files inherit", "c:\\svc",
         entries({{deny, newFilesOnly, modify, users}, {allow, newFilesOnly, modify, users}}), ""},
        {"an object denial that names an object type", "c:\\svc",
         entries({{ACCESS_DENIED_OBJECT_ACE_TYPE, 0, modify, users, 1}, {allow, 0, modify, users}}),
         "Users can change C:\\svc"},
        {"a SID of another revision", "c:\\svc", one(allow, 0, modify, "S-2-5-32-545"),
         "Cannot tell who can change C:\\svc, Error Code 1336"},
        {"an owner without sub-authorities", "c:\\svc", entries({}, "S-1-5"),
         "Cannot tell who can change C:\\svc, Error Code 1338"},
        {"an entry of a kind not read", "c:\\svc", one(4, 0, modify, users),
         "Cannot tell who can change C:\\svc, Error Code 50"},
    });
}

TEST_F(RegistrationTest, InstallTrustsAdministratorsAlone)
{
    const std::string fakeInstaller = "S-1-5-80-956008885-1-1831038044-1853292631-2271478464";
    const std::string other = "S-1-5-21-3623811015-3361044348-30300820-1013";
    checkInstall({
        {"owned by Users", "c:\\svc\\service.cnf", entries({}, users), "Users can change C:\\svc\\service.cnf"},
        {"owned by an account of no administrator", "c:\\svc\\svclaunch.exe", entries({}, other),
         other + " can change C:\\svc\\svclaunch.exe"},
        {"an account of no administrator may change it", "c:\\svc", one(allow, 0, modify, "S-1-5-21-1-2-3-1001"),
         "S-1-5-21-1-2-3-1001 can change C:\\svc"},
        {"a domain's Domain Users may delete entries further up", "c:\\work",
         one(allow, 0, FILE_DELETE_CHILD, "S-1-5-21-1004336348-1177238915-682003330-513"),
         "Domain Users can change C:\\work"},
        {"administrators of the domain and TrustedInstaller, CREATOR OWNER, CREATOR GROUP on the folder itself, and "
         "owned by the account that installs",
         "c:\\svc",
         entries({{allow, 0, 0x1F01FF, "S-1-5-21-1-2-3-512"},
                  {allow, 0, 0x1F01FF, "S-1-5-21-1-2-3-519"},
                  {allow, 0, 0x1F01FF, "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"},
                  {allow, newFilesOnly, modify, "S-1-3-0"},
                  {allow, 0, modify, "S-1-3-1"}},
                 "S-1-5-21-7-8-9-1000"),
         ""},
        {"CREATOR GROUP's entry that new files inherit", "c:\\svc", one(allow, newFilesOnly, modify, "S-1-3-1"),
         "CREATOR GROUP can change C:\\svc"},
        {"TrustedInstaller's SID with another middle", "c:\\svc", one(allow, 0, modify, fakeInstaller),
         fakeInstaller + " can change C:\\svc"},
        {"Everyone denied, Anonymous Logon allowed", "c:\\svc",
         entries({{deny, 0, modify, "S-1-1-0"}, {allow, 0, modify, "S-1-5-7"}}), "Anonymous Logon can change C:\\svc"},
        {"Everyone denied before Users allowed", "c:\\work\\box\\target.exe",
         entries({{deny, 0, modify, "S-1-1-0"}, {allow, 0, modify, users}}), ""},
        {"an authority past 32 bits", "c:\\svc", one(allow, 0, modify, "S-1-4294967296-5"),
         "S-1-0x000100000000-5 can change C:\\svc"},
        {"owned by this machine's own Administrator", "c:\\svc", entries({}, "S-1-5-21-7-8-9-500"), ""},
        {"owned by another domain's Administrator", "c:\\svc", entries({}, "S-1-5-21-1-2-3-500"),
         "S-1-5-21-1-2-3-500 can change C:\\svc"},
        {"LOCAL SERVICE may change it", "c:\\svc", one(allow, 0, modify, "S-1-5-19"),
         "LOCAL SERVICE can change C:\\svc"},
        {"NETWORK SERVICE may change it", "c:\\svc", one(allow, 0, modify, "S-1-5-20"),
         "NETWORK SERVICE can change C:\\svc"},
    });
    // SIDs one part off TrustedInstaller's, the installing account's, Administrators' and SYSTEM's, or
    // one part longer.
    for (std::string sid :
         {"S-1-5-81-956008885-3418522649-1831038044-1853292631-2271478464",
          "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478465", "S-1-5-22-7-8-9-1000",
          "S-1-5-21-7-0-9-1000", "S-1-5-21-7-8-9-1001", "S-1-261-32-544", "S-1-16777221-18", "S-1-5-32-544-1"}) {
        checkInstall({{sid, "c:\\svc", one(allow, 0, modify, sid), sid + " can change C:\\svc"}});
    }
}

TEST_F(RegistrationTest, InstallJudgesEveryFolderUpToTheRootOnALocalFixedDiskWithoutLinks)
{
    // Full paths of 259 and 260 characters: C:\work\box\ and the name.
    const std::string longest = std::string(243, 't') + ".exe";
    const std::string tooLong = "The target's path is too long: box\\t" + longest;
    checkInstall({
        {"Users may add files to a folder further up", "c:\\", one(allow, 0, readExecute | FILE_ADD_FILE, users), ""},
        {"Everyone may delete a folder further up", "c:\\work", one(allow, 0, DELETE, "S-1-1-0"),
         "Everyone can change C:\\work"},
        {"Everyone may delete the root, which cannot be", "c:\\", one(allow, 0, DELETE, "S-1-1-0"), ""},
        {"Authenticated Users may delete the root's entries", "c:\\", one(allow, 0, FILE_DELETE_CHILD, "S-1-5-11"),
         "Authenticated Users can change C:\\"},
        {"a missing target whose folder gives Users' new files Modify", "c:\\work\\box",
         one(allow, newFilesOnly, modify, users), "Users can change C:\\work\\box",
         missing("c:\\work\\box\\target.exe")},
        {"a missing target whose folder lets Users delete entries", "c:\\work\\box",
         one(allow, 0, FILE_DELETE_CHILD, users), "Users can change C:\\work\\box",
         missing("c:\\work\\box\\target.exe")},
        {"a target whose folder is missing", "Cannot tell who can change C:\\work\\box, Error Code 2",
         missing("c:\\work\\box")},
        {"a target whose folder's folder is missing", "Cannot tell who can change C:\\work\\box, Error Code 3",
         missing("c:\\work")},
        {"a deduplicated file", "", [] { world().reparseTags["c:\\svc\\svclaunch.exe"] = 0x80000013; }},
        {"a folder that cannot be searched", "Cannot tell who can change C:\\work, Error Code 5",
         [] { world().findErrors["c:\\work"] = ERROR_ACCESS_DENIED; }},
        {"a CR in line 2", "Cannot tell who can change C:\\work\\box\\t\rx.exe, Error Code 123", target("t\rx.exe")},
        {"a quoted line 2", "The target is a document: C:\\work\\box\\\"target.exe\"", target("\"target.exe\"")},
        {"a target path of 259 characters", "", target(longest)},
        {"a target path of 260 characters", tooLong, target("t" + longest)},
        {"on removable media", "C:\\svc is not on a local fixed disk",
         [] { world().driveTypes["c:\\"] = DRIVE_REMOVABLE; }},
        {"a target on a network drive", "D:\\work\\box is not on a local fixed disk",
         [] {
             world().currentDirectory = "D:\\work";
             world().driveTypes["d:\\"] = DRIVE_REMOTE;
         }},
        {"svclaunch.exe on a share", "\\\\server\\share\\svc is not on a local fixed disk",
         [] { world().modulePath = "\\\\server\\share\\svc\\svclaunch.exe"; }},
        {"a folder whose path the SCM would expand", "The SCM would expand the % in C:\\%TEMP%\\svclaunch.exe",
         [] { world().modulePath = "C:\\%TEMP%\\svclaunch.exe"; }},
    });
    // Whatever stands for another place, at each place of the target's chain.
    for (DWORD tag : {0xA0000003u, 0xA000000Cu, 0xA000001Du, 0u}) {
        for (std::string place : {"C:\\work\\box\\target.exe", "C:\\work\\box", "C:\\work"}) {
            checkInstall({{"a link of tag " + std::to_string(tag), place + " is a link",
                           [=] { world().reparseTags["c" + place.substr(1)] = tag; }}});
        }
    }
}

// Whatever else the folders of svclaunch.exe and the target hold, besides
// these names (a folder's ending in a backslash).
const auto beside = [](const char* folder, std::vector<std::string> names) {
    return [=] {
        std::vector<std::string>& entries = world().folderEntries[folder];
        entries.insert(entries.end(), names.begin(), names.end());
    };
};

TEST_F(RegistrationTest, InstallJudgesEveryFileBesideWhatRuns)
{
    const std::string lookAlike = "h\u0101lper.dll"; // the code page spells it "halper.dll"
    checkInstall({
        {"Users may change service.log", "c:\\svc\\service.log", one(allow, 0, FILE_APPEND_DATA, users),
         "Users can change C:\\svc\\service.log"},
        {"a DLL beside svclaunch.exe that Users may write", "c:\\svc\\helper.dll",
         one(allow, 0, FILE_WRITE_DATA, users), "Users can change C:\\svc\\helper.dll",
         beside("c:\\svc", {"helper.dll"})},
        {"a DLL beside the target that Users may delete", "c:\\work\\box\\helper.dll", one(allow, 0, DELETE, users),
         "Users can change C:\\work\\box\\helper.dll", beside("c:\\work\\box", {"helper.dll"})},
        {"a link beside", "C:\\svc\\config.ini is a link",
         [] {
             beside("c:\\svc", {"config.ini"})();
             world().reparseTags["c:\\svc\\config.ini"] = 0xA000000C;
         }},
        {"a subfolder that holds nothing that runs", "c:\\svc\\logs", one(allow, 0, modify, users), "",
         beside("c:\\svc", {"logs\\"})},
        {"svclaunch.exe.local whose entries Users may delete", "c:\\svc\\svclaunch.exe.local",
         one(allow, 0, FILE_DELETE_CHILD, users), "Users can change C:\\svc\\svclaunch.exe.local",
         beside("c:\\svc", {"svclaunch.exe.local\\"})},
        {"a DLL in target.EXE.LOCAL that Users may write", "c:\\work\\box\\target.exe.local\\comctl32.dll",
         one(allow, 0, FILE_WRITE_DATA, users), "Users can change C:\\work\\box\\target.EXE.LOCAL\\comctl32.dll",
         [] {
             beside("c:\\work\\box", {"target.EXE.LOCAL\\"})();
             beside("c:\\work\\box\\target.exe.local", {"comctl32.dll"})();
         }},
        {"a .local folder in a .local folder holds nothing that runs", "c:\\work\\box\\t.local\\deeper.local",
         one(allow, 0, modify, users), "",
         [] {
             beside("c:\\work\\box", {"t.local\\"})();
             beside("c:\\work\\box\\t.local", {"deeper.local\\"})();
         }},
        {"a folder that cannot be listed", "Cannot tell who can change C:\\svc, Error Code 5",
         [] { world().findErrors["c:\\svc\\*"] = ERROR_ACCESS_DENIED; }},
        {"a listing that breaks off", "Cannot tell who can change C:\\work\\box, Error Code 59",
         [] { world().findNextError = 59; }}, // ERROR_UNEXP_NET_ERR
        {"a name the code page cannot spell, its look-alike there",
         "Cannot tell who can change C:\\svc\\halper.dll, Error Code 1113",
         beside("c:\\svc", {"halper.dll", lookAlike})},
        {"a name the code page cannot spell, no look-alike",
         "Cannot tell who can change C:\\work\\box\\halper.dll, Error Code 1113", beside("c:\\work\\box", {lookAlike})},
    });
}

// A program or a script runs itself; whatever else would run what it names
// at each start, which no judgement at install can cover.
TEST_F(RegistrationTest, InstallTakesOnlyProgramsByTheirLastExtensionInAnyCase)
{
    for (std::string program : {"T.EXE", "t.Com", "t.bAt", "t.CMD", "job.txt.exe", "v1.2\\tool.exe"}) {
        checkInstall({{program, "", target(program)}});
    }
    for (std::string shortcut : {"T.LNK", "t.Url", "t.pIf"}) {
        checkInstall({{shortcut, "The target is a shortcut: C:\\work\\box\\" + shortcut, target(shortcut)}});
    }
    for (std::string document : {"backup", "job.exe.txt", "v1.2\\tool", "job.executable", "job.ex", "notes.vbs"}) {
        checkInstall({{document, "The target is a document: C:\\work\\box\\" + document, target(document)}});
    }
    checkInstall({{"a document that is not there", "The target is a document: C:\\work\\box\\notes.txt", [] {
                       writeConfig("Svc", "notes.txt");
                       world().missingPaths.insert("c:\\work\\box\\notes.txt");
                   }}});
}

// --- remove ---

// remove never judges: a registration may always be taken away, even from
// a folder that install would refuse.
TEST_F(RegistrationTest, RemoveDeletesAStoppedService)
{
    registerService("svc", SERVICE_STOPPED);
    world().fileSecurity = {{"c:\\svc", one(allow, 0, modify, users)}};
    runVerb("remove");
    EXPECT_TRUE(world().securityQueries.empty());
    EXPECT_EQ(world().managerAccess, std::vector<DWORD>{SC_MANAGER_CONNECT});
    EXPECT_EQ(world().openedServiceNames, std::vector<std::string>{"Svc"});
    EXPECT_EQ(world().serviceAccess, std::vector<DWORD>{DELETE | SERVICE_QUERY_STATUS});
    EXPECT_TRUE(world().services.empty());
    EXPECT_EQ(log(), "Removed Successfully\n");
    EXPECT_EQ(world().closedHandles, (std::vector<std::string>{"service:Svc", "manager"}));
}

TEST_F(RegistrationTest, RemoveLeavesAServiceThatIsNotStopped)
{
    for (DWORD state : {SERVICE_RUNNING, SERVICE_START_PENDING, SERVICE_STOP_PENDING}) {
        registerService("svc", state);
        runVerb("remove");
    }
    EXPECT_EQ(world().services.size(), 1u);
    EXPECT_EQ(log(), " is still Running.\n is still Running.\n is still Running.\n");
}

TEST_F(RegistrationTest, RemoveOfAnUnregisteredNameLeavesNoTrace)
{
    registerService("other", SERVICE_STOPPED);
    runVerb("remove");
    EXPECT_EQ(world().services.size(), 1u);
    EXPECT_EQ(log(), "(no log)");
    EXPECT_EQ(world().closedHandles, std::vector<std::string>{"manager"});
}

TEST_F(RegistrationTest, RemoveActsOnTheNameNowConfigured)
{
    registerService("old", SERVICE_STOPPED);
    registerService("new", SERVICE_STOPPED);
    writeConfig("New", "target.exe");
    runVerb("remove");
    EXPECT_EQ(world().services.count("old"), 1u);
    EXPECT_EQ(world().services.count("new"), 0u);
}

TEST_F(RegistrationTest, RemoveRefusedLogsTheKnownCodesOnly)
{
    const struct {
        DWORD code;
        const char* line;
    } cases[] = {
        {ERROR_ACCESS_DENIED, "Access Denied While trying to Remove BrindlewoodService\n"},
        {ERROR_INVALID_HANDLE, "Handle invalid while trying to Remove BrindlewoodService\n"},
        {ERROR_SERVICE_MARKED_FOR_DELETE, "already marked for deletion\n"},
        {ERROR_SERVICE_DOES_NOT_EXIST, ""},
        {ERROR_NOT_ENOUGH_MEMORY, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        writeFile(logFile, "");
        registerService("svc", SERVICE_STOPPED);
        world().deleteServiceError = c.code;
        runVerb("remove");
        EXPECT_EQ(readLog(logFile), c.line);
        EXPECT_EQ(world().services.size(), 1u);
    }
}

TEST_F(RegistrationTest, RemoveFailingBeforeDeletionLeavesNoTrace)
{
    registerService("svc", SERVICE_STOPPED);
    world().openManagerError = ERROR_ACCESS_DENIED;
    runVerb("remove");
    world().openManagerError = 0;
    world().openServiceError = ERROR_ACCESS_DENIED;
    runVerb("remove");
    world().openServiceError = 0;
    world().queryStatusError = ERROR_ACCESS_DENIED;
    runVerb("remove");

    EXPECT_EQ(world().services.size(), 1u);
    EXPECT_EQ(log(), "(no log)");
    EXPECT_EQ(world().closedHandles, (std::vector<std::string>{"manager", "service:Svc", "manager"}));
}

} // namespace
