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
