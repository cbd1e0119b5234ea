// Start-up: where the configuration is looked for, what it may hold, and
// which mode the verb selects.
#include "support.h"

#include <stdlib.h>

namespace {

using stub::world;

bool anyModeRan()
{
    return !world().scm.dispatchedName.empty() || !world().scm.managerAccess.empty();
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
        EXPECT_EQ(world().scm.dispatchedName, "Svc");
        ASSERT_EQ(world().process.launches.size(), 2u);
        EXPECT_EQ(world().process.launches[0].file, directory + "\\target.exe");
        EXPECT_EQ(readLog(directory + "\\service.log"),
                  "Svc Created this file\nstart: " + directory + "\\target.exe\nstop: " + directory + "\\target.exe\n");
        ASSERT_EQ(remove((directory + "\\service.cnf").c_str()), 0);
    }
}

// --- what the configuration gives, or why no mode runs ---

// A usable configuration, and an argv[0] whose folder holds it: line 1 is the
// service's name, line 2 the target beneath the folder, each taken as
// written; the service logs both whole.
TEST_F(StartupTest, AUsableConfigurationGivesTheServiceItsNameAndTarget)
{
    const std::string n510(510, 'n');
    const std::string t510(510, 't');
    const std::string deep = longDirectory(247); // its service.cnf at 259 characters
    const struct {
        const char* what;
        std::string content;
        std::string name;
        std::string target;
        std::string directory;
        std::string argv0;
    } cases[] = {
        {"blanks and % kept, a third line never read", "  My %s Svc  \n bin\\tool 100%.exe \nthird\n", "  My %s Svc  ",
         " bin\\tool 100%.exe ", "box", exePath},
        {"no line end after line 2", "Svc\ntarget.exe", "Svc", "target.exe", "box", exePath},
        {"a line 1 of 509 characters", n510.substr(1) + "\ntarget.exe\n", n510.substr(1), "target.exe", "box", exePath},
        {"a line 1 of 510 characters", n510 + "\ntarget.exe\n", n510, "target.exe", "box", exePath},
        {"a line 2 of blanks", "Svc\n   \n", "Svc", "   ", "box", exePath},
        {"a byte-order mark at the start", "\xEF\xBB\xBFSvc\ntarget.exe\n", "Svc", "target.exe", "box", exePath},
        {"half a byte-order mark", "\xEF\xBBSvc\ntarget.exe\n", "\xEF\xBBSvc", "target.exe", "box", exePath},
        {"a byte-order mark in line 2", "Svc\n\xEF\xBB\xBFtarget.exe\n", "Svc", "\xEF\xBB\xBFtarget.exe", "box",
         exePath},
        {"an argv[0] of 259 characters", "Svc\nt.exe\n", "Svc", "t.exe", "box", "box\\" + std::string(255, 'x')},
        {"an argv[0] of 261 characters", "Svc\nt.exe\n", "Svc", "t.exe", "box", "box\\" + std::string(257, 'x')},
        {"an argv[0] of 1023 characters", "Svc\nt.exe\n", "Svc", "t.exe", "box", "box\\" + std::string(1019, 'x')},
        {"the longest target: its folder's service.cnf at 259 characters, a line 2 of 510", "Svc\n" + t510 + "\n",
         "Svc", t510, deep, deep + "\\x.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        nextRun();
        writeFile(c.directory + "\\service.cnf", c.content);
        remove((c.directory + "\\service.log").c_str());
        run({c.argv0});
        EXPECT_EQ(world().scm.dispatchedName, c.name);
        std::string programPath = c.directory + "\\" + c.target;
        ASSERT_EQ(world().process.launches.size(), 2u);
        EXPECT_EQ(world().process.launches[0].file, programPath);
        EXPECT_EQ(readLog(c.directory + "\\service.log"),
                  c.name + " Created this file\nstart: " + programPath + "\nstop: " + programPath + "\n");
    }
}

// No mode runs, and nothing is written, whatever the verb, without a
// usable configuration: none, fewer than two lines, an empty or over-long
// line, a NUL byte; one that Windows cannot open (a path of MAX_PATH
// characters or more); an argv[0] longer than its buffer; or a folder that
// the ANSI calls spell as a look-alike (C:\Bāckup as C:\Backup), which may be
// someone else's.
TEST_F(StartupTest, AStartUpWithoutAUsableConfigurationRunsNoMode)
{
    const std::string none = "(none)";
    const std::string usable = "Svc\ntarget.exe\n";
    const std::string deep = longDirectory(248); // its service.cnf at 260 characters
    const struct {
        const char* what;
        std::string content;
        std::string directory;
        std::string argv0;
        std::string modulePath;
    } cases[] = {
        {"no service.cnf", none, "box", exePath, "C:\\svc\\svclaunch.exe"},
        {"an empty file", "", "box", exePath, "C:\\svc\\svclaunch.exe"},
        {"one line", "Svc\n", "box", exePath, "C:\\svc\\svclaunch.exe"},
        {"one line without line end", "Svc", "box", exePath, "C:\\svc\\svclaunch.exe"},
        {"an empty line 1", "\ntarget.exe\n", "box", exePath, "C:\\svc\\svclaunch.exe"},
        {"an empty line 2", "Svc\n\nthird.exe\n", "box", exePath, "C:\\svc\\svclaunch.exe"},
        {"a line 1 of 511 characters", std::string(511, 'n') + "\ntarget.exe\n", "box", exePath,
         "C:\\svc\\svclaunch.exe"},
        {"a line 1 of 600 characters", std::string(600, 'n') + "\ntarget.exe\n", "box", exePath,
         "C:\\svc\\svclaunch.exe"},
        {"a line 2 of 511 characters", "Svc\n" + std::string(511, 't') + "\n", "box", exePath,
         "C:\\svc\\svclaunch.exe"},
        {"a NUL byte in a line", std::string("Sv\0c\ntarget.exe\n", 16), "box", exePath, "C:\\svc\\svclaunch.exe"},
        {"a service.cnf at 260 characters", usable, deep, deep + "\\x.exe", "C:\\svc\\svclaunch.exe"},
        {"an argv[0] of 1024 characters", usable, "box", "box\\" + std::string(1020, 'x'), "C:\\svc\\svclaunch.exe"},
        {"a folder spelt as a look-alike", usable, "box", exePath, "C:\\B\u0101ckup\\svclaunch.exe"},
        {"a folder beneath one spelt as a look-alike", usable, "box", exePath,
         "C:\\Program Files\\B\u0101ckup\\x\\svclaunch.exe"},
    };
    for (const auto& c : cases) {
        for (const char* verb : {"", "install", "remove"}) {
            SCOPED_TRACE(std::string(c.what) + " / verb '" + verb + "'");
            nextRun();
            std::string config = c.directory + "\\service.cnf";
            if (c.content != none) {
                writeFile(config, c.content);
            }
            world().process.modulePath = c.modulePath;
            if (*verb != '\0') {
                run({c.argv0, verb});
            } else {
                run({c.argv0});
            }
            EXPECT_FALSE(anyModeRan());
            EXPECT_FALSE(fileExists(c.directory + "\\service.log"));
            remove(config.c_str());
        }
    }
    nextRun();
    writeFile("\\service.cnf", usable);
    char* noArgv0[] = {nullptr};
    EXPECT_EQ(svclaunchMain(0, noArgv0), 0);
    EXPECT_FALSE(anyModeRan());
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

        std::string mode = !world().scm.dispatchedName.empty()                                          ? "service"
                           : world().scm.managerAccess == std::vector<DWORD>{SC_MANAGER_CREATE_SERVICE} ? "install"
                           : world().scm.managerAccess == std::vector<DWORD>{SC_MANAGER_CONNECT}        ? "remove"
                                                                                                        : "none";
        EXPECT_EQ(mode, c.mode);
    }
}

} // namespace
