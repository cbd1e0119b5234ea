// Start-up: where the configuration is looked for, what it may hold, and
// which mode the verb selects.
#include "support.h"

#include <stdlib.h>

namespace {

using stub::world;

bool anyModeRan()
{
    return !world().dispatchedName.empty() || !world().managerAccess.empty();
}

// A directory name of exactly length characters, built from real folders
// joined by forward slashes (which the product does not treat as
// separators); every folder but the last is created.
std::string longDirectory(size_t length)
{
    std::string directory;
    while (directory.size() + 201 < length) {
        directory += std::string(200, 'd') + "/";
    }
    std::string parent = directory;
    directory += std::string(length - directory.size(), 'e');
    if (!parent.empty()) {
        EXPECT_EQ(system(("mkdir -p '" + parent + "'").c_str()), 0);
    }
    return directory;
}

class StartupTest : public SvclaunchTest {};

// --- the directory taken from argv[0] ---

struct DirectoryCase {
    const char* argv0;
    const char* directory;
};

TEST_F(StartupTest, ConfigurationAndLogLieInTheDirectoryCutFromArgv0)
{
    const DirectoryCase cases[] = {
        {"C:\\svc\\host.exe", "C:\\svc"},   // the usual full path
        {"C:\\a\\b\\host.exe", "C:\\a\\b"}, // only the last backslash cuts
        {"C:\\host.exe", "C:"},             // a backslash at index 2 is cut
        {".\\host", ".\\host"},             // one at index 1 is never looked at
        {"\\host.exe", "\\host.exe"},       // nor one at index 0
        {"host", "host"},                   // a bare name is its own directory
        {"", ""},                           // empty: the file is "\service.cnf"
        {"sub/host.exe", "sub/host.exe"},   // a forward slash is no separator
    };
    ASSERT_EQ(system("mkdir sub"), 0);
    for (const DirectoryCase& c : cases) {
        SCOPED_TRACE(c.argv0);
        nextRun();
        std::string directory = c.directory;
        writeFile(directory + "\\service.cnf", "Svc\ntarget.exe\n");
        run({c.argv0});
        EXPECT_EQ(world().dispatchedName, "Svc");
        ASSERT_EQ(world().launches.size(), 2u);
        EXPECT_EQ(world().launches[0].file, directory + "\\target.exe");
        EXPECT_EQ(readLog(directory + "\\service.log"),
                  "Svc Created this file\nstart: " + directory + "\\target.exe\nstop: " + directory + "\\target.exe\n");
        ASSERT_EQ(remove((directory + "\\service.cnf").c_str()), 0);
    }
}

TEST_F(StartupTest, NothingRunsWithoutArgv0)
{
    writeFile("\\service.cnf", "Svc\ntarget.exe\n");
    char* argv[] = {nullptr};
    EXPECT_EQ(svclaunchMain(0, argv), 0);
    EXPECT_FALSE(anyModeRan());
}

// --- the shapes of service.cnf ---

TEST_F(StartupTest, ValuesAreTakenAsWrittenWithBlanksAndPercentKept)
{
    writeFile(configFile, "  My %s Svc  \n bin\\tool 100%.exe \nthird line is never read\n");
    runVerb();
    EXPECT_EQ(world().dispatchedName, "  My %s Svc  ");
    ASSERT_EQ(world().launches.size(), 2u);
    EXPECT_EQ(world().launches[0].file, "box\\ bin\\tool 100%.exe ");
    EXPECT_EQ(readLog(logFile), "  My %s Svc   Created this file\n"
                                "start: box\\ bin\\tool 100%.exe \n"
                                "stop: box\\ bin\\tool 100%.exe \n");
}

TEST_F(StartupTest, LastLineNeedsNoLineEnd)
{
    writeFile(configFile, "Svc\ntarget.exe");
    runVerb();
    ASSERT_EQ(world().launches.size(), 2u);
    EXPECT_EQ(world().launches[0].file, "box\\target.exe");
}

TEST_F(StartupTest, LineOf510CharactersIsReadWholeAndTheNextLineFollows)
{
    std::string name(510, 'n');
    writeConfig(name, "target.exe");
    runVerb();
    EXPECT_EQ(world().dispatchedName, name);
    ASSERT_EQ(world().launches.size(), 2u);
    EXPECT_EQ(world().launches[0].file, "box\\target.exe");
}

TEST_F(StartupTest, UnusableConfigurationRunsNoModeAndWritesNothing)
{
    const struct {
        const char* what;
        std::string content;
    } cases[] = {
        {"empty file", ""},
        {"one line", "Svc\n"},
        {"one line without line end", "Svc"},
        {"empty first line", "\ntarget.exe\n"},
        {"empty second line", "Svc\n\nthird.exe\n"},
        {"first line of 511 characters", std::string(511, 'n') + "\ntarget.exe\n"},
        {"first line of 600 characters", std::string(600, 'n') + "\ntarget.exe\n"},
        {"second line of 511 characters", "Svc\n" + std::string(511, 't') + "\n"},
        {"NUL byte in a line", std::string("Sv\0c\ntarget.exe\n", 16)},
    };
    for (const auto& c : cases) {
        for (const char* verb : {"", "install", "remove"}) {
            SCOPED_TRACE(std::string(c.what) + " / verb '" + verb + "'");
            nextRun();
            writeFile(configFile, c.content);
            runVerb(verb);
            EXPECT_FALSE(anyModeRan());
            EXPECT_FALSE(fileExists(logFile));
        }
    }
}

// Notepad's "UTF-8 with BOM": the mark at the very start of the file is
// skipped; anywhere else, or incomplete, it is part of the value.
TEST_F(StartupTest, ByteOrderMarkAtTheStartIsSkipped)
{
    const struct {
        std::string content;
        const char* name;
        const char* target;
    } cases[] = {
        {"\xEF\xBB\xBFSvc\ntarget.exe\n", "Svc", "box\\target.exe"},
        {"\xEF\xBBSvc\ntarget.exe\n", "\xEF\xBBSvc", "box\\target.exe"},
        {"Svc\n\xEF\xBB\xBFtarget.exe\n", "Svc", "box\\\xEF\xBB\xBFtarget.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        nextRun();
        writeFile(configFile, c.content);
        runVerb();
        EXPECT_EQ(world().dispatchedName, c.name);
        ASSERT_EQ(world().launches.size(), 2u);
        EXPECT_EQ(world().launches[0].file, c.target);
    }
}

// The ANSI calls spell a folder the code page cannot spell as a look-alike
// (C:\Bāckup as C:\Backup), which may be someone else's folder.
TEST_F(StartupTest, OwnPathTheCodePageCannotSpellRunsNoMode)
{
    writeConfig("Svc", "target.exe");
    const struct {
        const char* modulePath;
        bool runs;
    } cases[] = {
        {"C:\\B\u0101ckup\\svclaunch.exe", false},
        {"C:\\Program Files\\Backup\\B\u0101ckup\\svclaunch.exe", false},
        {"C:\\Caf\u00E9\\svclaunch.exe", true},
        {"C:\\Backup\\svclaunch.exe", true},
    };
    for (const auto& c : cases) {
        for (const char* verb : {"", "install", "remove"}) {
            SCOPED_TRACE(std::string(c.modulePath) + " / verb '" + verb + "'");
            nextRun();
            world().modulePath = c.modulePath;
            runVerb(verb);
            EXPECT_EQ(anyModeRan(), c.runs);
            if (!c.runs) {
                EXPECT_FALSE(fileExists(logFile));
            }
        }
    }
}

TEST_F(StartupTest, MissingConfigurationRunsNoMode)
{
    for (const char* verb : {"", "install", "remove"}) {
        nextRun();
        runVerb(verb);
        EXPECT_FALSE(anyModeRan()) << verb;
    }
    EXPECT_FALSE(fileExists(logFile));
}

TEST_F(StartupTest, SecondLineOfBlanksIsAValue)
{
    writeConfig("Svc", "   ");
    runVerb();
    ASSERT_EQ(world().launches.size(), 2u);
    EXPECT_EQ(world().launches[0].file, "box\\   ");
}

// --- paths at the edge of their buffers ---

TEST_F(StartupTest, Argv0MustFitItsBuffer)
{
    writeConfig("Svc", "target.exe");
    run({"box\\" + std::string(1019, 'x')}); // 1023 characters
    EXPECT_EQ(world().dispatchedName, "Svc");
    nextRun();
    run({"box\\" + std::string(1020, 'x')}); // 1024 characters
    EXPECT_FALSE(anyModeRan());
}

TEST_F(StartupTest, Argv0AroundTheWindowsPathLimitIsTakenWhole)
{
    writeConfig("Svc", "target.exe");
    for (size_t length : {259u, 260u, 261u}) {
        nextRun();
        std::string argv0 = "box\\" + std::string(length - 4, 'x');
        ASSERT_EQ(argv0.size(), length);
        run({argv0});
        EXPECT_EQ(world().dispatchedName, "Svc") << length;
    }
}

// As on Windows without long-path support, a configuration path of
// MAX_PATH (260) characters or more cannot be opened.
TEST_F(StartupTest, ConfigurationPathStopsAtTheWindowsPathLimit)
{
    for (size_t length : {259u, 260u}) {
        SCOPED_TRACE(length);
        nextRun();
        std::string directory = longDirectory(length - 12); // + "\service.cnf"
        writeFile(directory + "\\service.cnf", "Svc\nt.exe\n");
        run({directory + "\\x.exe"});
        EXPECT_EQ(anyModeRan(), length == 259);
    }
}

// The longest target path that can arise: the longest folder whose
// service.cnf can still be opened, and a line 2 of 510 characters.
TEST_F(StartupTest, LongestProgramPathIsLaunchedAndLoggedWhole)
{
    std::string directory = longDirectory(247);
    std::string target(510, 't');
    writeFile(directory + "\\service.cnf", "Svc\n" + target + "\n");
    run({directory + "\\x.exe"});
    std::string programPath = directory + "\\" + target;
    ASSERT_EQ(programPath.size(), 758u);
    ASSERT_EQ(world().launches.size(), 2u);
    EXPECT_EQ(world().launches[0].file, programPath);
    EXPECT_EQ(readLog(directory + "\\service.log"),
              "Svc Created this file\nstart: " + programPath + "\nstop: " + programPath + "\n");
}

TEST_F(StartupTest, LongestNameIsLoggedWhole)
{
    std::string name(510, 'n');
    writeConfig(name, "target.exe");
    runVerb();
    EXPECT_EQ(readLog(logFile).substr(0, 529), name + " Created this file\n");
}

// --- the verb ---

TEST_F(StartupTest, VerbSelectsTheModeWithoutRegardToCase)
{
    writeConfig("Svc", "target.exe");
    const struct {
        std::vector<std::string> extra;
        const char* mode;
    } cases[] = {
        {{"install"}, "install"},
        {{"INSTALL"}, "install"},
        {{"InStAlL"}, "install"},
        {{"remove"}, "remove"},
        {{"REMOVE"}, "remove"},
        {{}, "service"},
        {{"installx"}, "service"},
        {{" remove"}, "service"},
        {{"start"}, "service"},
        {{"x", "install"}, "service"}, // a verb counts only as the first argument
        {{"\xDDNSTALL"}, "service"},   // dotted capital I in code page 1254: not ASCII
        {{"\xFDnstall"}, "service"},   // dotless small i in code page 1254
        {{"install", "remove"}, "install"},
    };
    for (const auto& c : cases) {
        std::string label = c.extra.empty() ? "(none)" : c.extra[0];
        SCOPED_TRACE(label);
        nextRun();
        std::vector<std::string> arguments{exePath};
        arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        EXPECT_EQ(svclaunchMain(static_cast<int>(arguments.size()), argv.data()), 0);

        std::string mode = !world().dispatchedName.empty()                                          ? "service"
                           : world().managerAccess == std::vector<DWORD>{SC_MANAGER_CREATE_SERVICE} ? "install"
                           : world().managerAccess == std::vector<DWORD>{SC_MANAGER_CONNECT}        ? "remove"
                                                                                                    : "none";
        EXPECT_EQ(mode, c.mode);
    }
}

} // namespace
