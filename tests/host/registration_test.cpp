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
    // Every path releases what it opened, and only that; the verbs never
    // load the shell.
    void TearDown() override
    {
        EXPECT_TRUE(world().loadedLibraries.empty());
        EXPECT_EQ(stub::openScHandles(), 0);
        EXPECT_EQ(world().badHandleUses, 0);
        SvclaunchTest::TearDown();
    }
    void registerService(const std::string& name, DWORD state)
    {
        world().services[name] = {name, "\"C:\\svc\\svclaunch.exe\"", state};
    }
    std::string log() { return fileExists(logFile) ? readLog(logFile) : "(no log)"; }
};

// --- install ---

TEST_F(RegistrationTest, InstallRegistersAnAutoStartOwnProcessServiceUnderTheQuotedPath)
{
    world().modulePath = "C:\\Program Files\\svc\\svclaunch.exe";
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
    runVerb("install");
    ASSERT_EQ(world().creates.size(), 1u);
    EXPECT_EQ(world().creates[0].binaryPath, "\"" + world().modulePath + "\"");
    EXPECT_EQ(log(), "Installed Successfully\n");
}

// Whoever can change what a LocalSystem service runs runs code as
// LocalSystem: install registers nothing while a broad group of users who
// are not administrators can, judged from owners and DACLs as Windows reads
// them. Paths: C:\svc\svclaunch.exe and C:\svc\service.cnf; the target,
// relative to the current folder C:\work, is C:\work\box\target.exe.
TEST_F(RegistrationTest, InstallRefusesWhatBroadGroupsCanChange)
{
    using stub::Ace;
    const DWORD modify = 0x1301BF;
    const DWORD readExecute = 0x1200A9;
    const BYTE inherited = INHERITED_ACE | OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    const std::string admins = "S-1-5-32-544";
    const struct {
        const char* shape;
        const char* path;
        stub::FileSecurity security;
        const char* line; // nullptr: installed
    } cases[] = {
        {"Authenticated Users' inherited Modify, as under C:\\",
         "c:\\svc",
         {admins, true, {{true, inherited, modify, "S-1-5-11"}}},
         "Authenticated Users can change C:\\svc"},
        {"Users may add files to the folder",
         "c:\\svc",
         {admins, true, {{true, 0, readExecute | FILE_ADD_FILE, "S-1-5-32-545"}}},
         "Users can change C:\\svc"},
        {"Users may add files to a folder further up",
         "c:\\",
         {admins, true, {{true, 0, readExecute | FILE_ADD_FILE, "S-1-5-32-545"}}},
         nullptr},
        {"Users read and execute, as in Program Files",
         "c:\\svc",
         {admins, true, {{true, inherited, readExecute, "S-1-5-32-545"}}},
         nullptr},
        {"a denial before the allowance",
         "c:\\svc",
         {admins, true, {{false, 0, modify, "S-1-5-32-545"}, {true, 0, modify, "S-1-5-32-545"}}},
         nullptr},
        {"Everyone denied before Users allowed",
         "c:\\work\\box\\target.exe",
         {admins, true, {{false, 0, modify, "S-1-1-0"}, {true, 0, modify, "S-1-5-32-545"}}},
         nullptr},
        {"a denial after the allowance",
         "c:\\svc",
         {admins, true, {{true, 0, modify, "S-1-5-32-545"}, {false, 0, modify, "S-1-5-32-545"}}},
         "Users can change C:\\svc"},
        {"an inherit-only entry",
         "c:\\svc",
         {admins, true, {{true, INHERIT_ONLY_ACE | inherited, modify, "S-1-5-32-545"}}},
         nullptr},
        {"no DACL at all, as on FAT32",
         "c:\\work\\box\\target.exe",
         {admins, false, {}},
         "Everyone can change C:\\work\\box\\target.exe"},
        {"owned by Users", "c:\\svc\\service.cnf", {"S-1-5-32-545", true, {}}, "Users can change C:\\svc\\service.cnf"},
        {"a domain's Domain Users may delete entries further up",
         "c:\\work",
         {admins, true, {{true, 0, FILE_DELETE_CHILD, "S-1-5-21-1004336348-1177238915-682003330-513"}}},
         "Domain Users can change C:\\work"},
        {"a generic write for Guests on the executable",
         "c:\\svc\\svclaunch.exe",
         {admins, true, {{true, 0, GENERIC_WRITE, "S-1-5-32-546"}}},
         "Guests can change C:\\svc\\svclaunch.exe"},
        {"another account may change it: the administrator's choice",
         "c:\\svc",
         {admins, true, {{true, 0, modify, "S-1-5-21-1-2-3-1001"}}},
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shape);
        world().services.clear();
        world().creates.clear();
        world().fileSecurity = {{c.path, c.security}};
        writeFile(logFile, "");
        runVerb("install");
        if (c.line == nullptr) {
            EXPECT_EQ(world().creates.size(), 1u);
            EXPECT_EQ(log(), "Installed Successfully\n");
        } else {
            EXPECT_TRUE(world().creates.empty());
            EXPECT_EQ(log(), std::string("Was not Installed Successfully. ") + c.line + "\n");
        }
    }
    // A folder whose path holds a % would be expanded by the SCM at every start.
    world().fileSecurity.clear();
    world().creates.clear();
    world().modulePath = "C:\\%TEMP%\\svclaunch.exe";
    writeFile(logFile, "");
    runVerb("install");
    EXPECT_TRUE(world().creates.empty());
    EXPECT_EQ(log(), "Was not Installed Successfully. The SCM would expand the % in C:\\%TEMP%\\svclaunch.exe\n");
    // remove never judges: a registration may always be taken away.
    world().securityQueries.clear();
    registerService("svc", SERVICE_STOPPED);
    runVerb("remove");
    EXPECT_TRUE(world().securityQueries.empty());
}

// --- remove ---

TEST_F(RegistrationTest, RemoveDeletesAStoppedService)
{
    registerService("svc", SERVICE_STOPPED);
    runVerb("remove");
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
