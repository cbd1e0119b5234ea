// The "install" and "remove" verbs against the service database: what they
// ask of the SCM, the one log line each leaves, and the handles they free.
#include "support.h"

#include <lm.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

using stub::world;

// text, count times over.
std::string times(int count, const std::string& text)
{
    std::string many;
    for (int i = 0; i < count; ++i) {
        many += text;
    }
    return many;
}

class RegistrationTest : public SvclaunchTest {
protected:
    void SetUp() override
    {
        SvclaunchTest::SetUp();
        writeConfig("Svc", "target.exe");
    }
    void registerService(const std::string& name, DWORD state)
    {
        world().scm.services[name] = {name, "\"C:\\svc\\svclaunch.exe\"", state};
    }
    std::string log() { return fileExists(logFile) ? readLog(logFile) : "(no log)"; }

public:
    // A shape install may meet: what the world holds, and the line install
    // leaves (empty: it installs). Built by installs() and refused().
    struct Shape {
        std::string shape;
        std::string line;
        std::function<void()> arrange;
    };

protected:
    // Runs install in the world the shape arranges, from a clean stand-in;
    // returns what went otherwise than the shape says, "" when nothing did.
    // Install loads netapi32 alone, by its full path, to read Administrators.
    std::string installAs(const Shape& c)
    {
        stub::reset();
        writeConfig("Svc", "target.exe");
        c.arrange();
        writeFile(logFile, "");
        runVerb("install");
        std::string want =
            c.line.empty() ? "Installed Successfully\n" : "Was not Installed Successfully. " + c.line + "\n";
        std::string wrong = log() != want ? "logged " + log() + " instead of " + want : "";
        wrong += world().scm.creates.size() != (c.line.empty() ? 1u : 0u) ? "created otherwise\n" : "";
        for (const std::string& loaded : world().process.loadedLibraries) {
            wrong += loaded != "C:\\WINNT\\system32\\netapi32.dll" ? "loaded " + loaded + "\n" : "";
        }
        stub::joinServiceThread();
        return wrong + stub::faultsOfTheRun();
    }
    void checkInstall(const std::vector<Shape>& shapes)
    {
        nextRun();
        for (const Shape& c : shapes) {
            EXPECT_EQ(installAs(c), "") << c.shape;
        }
        stub::reset();
    }
    // The same, each shape in a process of its own that starts from a clean
    // state, so that an install that crashes fails the test as one that
    // logs the wrong line does, and each failing shape says why.
    void checkInstallSurvives(const std::vector<Shape>& shapes)
    {
        for (const Shape& c : shapes) {
            EXPECT_EXIT(
                {
                    std::string wrong = installAs(c);
                    fprintf(stderr, "%s", wrong.c_str());
                    exit(wrong.empty() ? 0 : 1);
                },
                ::testing::ExitedWithCode(0), "")
                << c.shape;
        }
    }
};

// --- install ---

TEST_F(RegistrationTest, InstallRegistersAnAutoStartOwnProcessServiceUnderTheQuotedPath)
{
    world().process.modulePath = "C:\\Program Files\\svc\\svclaunch.exe";
    world().security.folderEntries["c:\\program files\\svc"] = {"svclaunch.exe", "service.cnf"};
    runVerb("install");

    EXPECT_EQ(world().scm.managerAccess, std::vector<DWORD>{SC_MANAGER_CREATE_SERVICE});
    ASSERT_EQ(world().scm.creates.size(), 1u);
    const stub::CreateCall& call = world().scm.creates[0];
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
    EXPECT_EQ(world().scm.closedHandles, (std::vector<std::string>{"service:Svc", "manager"}));
    // Each folder that holds what runs up to the root, then each file in it, once.
    EXPECT_EQ(world().security.securityQueries,
              (std::vector<std::string>{"C:\\Program Files\\svc", "C:\\Program Files", "C:\\",
                                        "C:\\Program Files\\svc\\svclaunch.exe", "C:\\Program Files\\svc\\service.cnf",
                                        "C:\\work\\box", "C:\\work", "C:\\", "C:\\work\\box\\target.exe"}));
}

// What the SCM's answer to the creation makes install log: another service
// of the name, or any other refusal (a display name taken, a name Windows
// does not allow, an error code of any size, logged as a signed 32-bit
// value and followed by an empty line). Without the right to create
// services, install leaves no trace.
TEST_F(RegistrationTest, InstallLogsTheScmsAnswer)
{
    const struct {
        const char* what;
        std::function<void()> arrange;
        const char* log;
    } cases[] = {
        {"a service of the name exists", [this] { registerService("svc", SERVICE_STOPPED); }, "Already Exists\n"},
        {"its display name is taken",
         [] {
             world().scm.services["other"] = {"Svc", "\"C:\\other.exe\"", SERVICE_STOPPED};
         },
         "Was not Installed Successfully. Error Code 1078\n\n"},
        {"a name longer than Windows allows", [] { writeConfig(std::string(257, 'n'), "target.exe"); },
         "Was not Installed Successfully. Error Code 123\n\n"},
        {"creation denied", [] { world().failingCalls["CreateServiceA"] = ERROR_ACCESS_DENIED; },
         "Was not Installed Successfully. Error Code 5\n\n"},
        {"an error past 31 bits", [] { world().failingCalls["CreateServiceA"] = 0x80070005; },
         "Was not Installed Successfully. Error Code -2147024891\n\n"},
        {"the SCM cannot be opened to create services",
         [] { world().failingCalls["OpenSCManagerA"] = ERROR_ACCESS_DENIED; }, "(no log)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        nextRun();
        remove(logFile);
        writeConfig("Svc", "target.exe");
        c.arrange();
        runVerb("install");
        EXPECT_EQ(log(), c.log);
        EXPECT_EQ(world().scm.creates.size(), c.log == std::string("(no log)") ? 0u : 1u);
        EXPECT_EQ(world().scm.closedHandles.size(), c.log == std::string("(no log)") ? 0u : 1u);
    }
}

// The own path, as the SCM will start it: read whole, in a double-byte code
// page too, where a path of fewer than MAX_PATH characters may take twice
// as many bytes; refused with a line from MAX_PATH (260) characters on,
// since no SCM can start such a path. A call that fails (start-up then
// stops before any mode) leaves no trace.
TEST_F(RegistrationTest, InstallTakesAnOwnPathOfFewerThan260CharactersInAnyCodePage)
{
    const std::string hiragana = "\u3042"; // two bytes in code page 932
    const struct {
        std::string folder; // under C:\, in UTF-8
        UINT codePage;
        bool installs;
    } paths[] = {
        {std::string(242, 'p'), 1252, true},       // 259 characters with \svclaunch.exe
        {std::string(243, 'p'), 1252, false},      // 260
        {std::string(244, 'p'), 1252, false},      // 261
        {"p" + times(241, hiragana), 932, true},   // 259 characters in 499 bytes
        {"p" + times(1005, hiragana), 932, false}, // 1023 characters, the longest start-up takes, in 2033 bytes
    };
    for (const auto& p : paths) {
        nextRun();
        world().process.ansiCodePage = p.codePage;
        world().process.modulePath = "C:\\" + p.folder + "\\svclaunch.exe";
        writeFile(logFile, "");
        runVerb("install");
        EXPECT_EQ(world().scm.creates.size(), p.installs ? 1u : 0u) << p.folder.size();
        std::string spelt = "C:\\p" + std::string(p.codePage == 932 ? "" : p.folder.substr(1));
        for (size_t i = 1; p.codePage == 932 && i < p.folder.size(); i += hiragana.size()) {
            spelt += "\x82\xA0";
        }
        spelt += "\\svclaunch.exe";
        EXPECT_EQ(log(), p.installs
                             ? "Installed Successfully\n"
                             : "Was not Installed Successfully. The executable's path is too long: " + spelt + "\n");
    }
    nextRun();
    remove(logFile);
    world().failingCalls["GetModuleFileNameW"] = ERROR_ACCESS_DENIED;
    runVerb("install");
    EXPECT_EQ(log(), "(no log)");
    EXPECT_TRUE(world().scm.managerAccess.empty());
}

// Whoever can change what a LocalSystem service runs runs code as
// LocalSystem: install registers nothing while anyone but administrators
// (the account that installs and this machine's Administrator among them)
// can, judged from owners and DACLs as Windows reads them, nor what lies
// behind a link, on a share or removable media, nor a target that is no
// program. Paths: C:\svc\svclaunch.exe, C:\svc\service.cnf and
// C:\svc\service.log; the target, relative to the current folder C:\work, is
// C:\work\box\target.exe. The answers are Windows' own, as its documentation
// of file rights, SIDs, entries and calls gives them.
const DWORD modify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
const DWORD readExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
const BYTE newFilesOnly = OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE;
const BYTE allow = ACCESS_ALLOWED_ACE_TYPE;
const BYTE deny = ACCESS_DENIED_ACE_TYPE;
const DWORD objectType = ACE_OBJECT_TYPE_PRESENT;
const DWORD inheritedObjectType = ACE_INHERITED_OBJECT_TYPE_PRESENT;
const char* const admins = "S-1-5-32-544";
const char* const users = "S-1-5-32-545";

// A descriptor with these entries, owned by Administrators or another; one
// that grants Users mask.
stub::FileSecurity entries(std::vector<stub::Ace> aces, const std::string& owner = admins)
{
    return {owner, true, aces};
}

stub::FileSecurity grant(BYTE flags, DWORD mask, const std::string& sid = users)
{
    return entries({{allow, flags, mask, sid}});
}

// What the world holds: the descriptor of a path (and whatever else also
// arranges); a path that is not there; line 2 of service.cnf; a call that
// fails; whatever else the folders of svclaunch.exe and the target hold
// (a folder's name ending in a backslash).
std::function<void()> at(
    const std::string& path, const stub::FileSecurity& security, std::function<void()> also = [] {})
{
    return [=] {
        world().security.fileSecurity[path] = security;
        also();
    };
}
const auto missing = [](const char* path) { return [path] { world().security.missingPaths.insert(path); }; };
const auto target = [](const std::string& line2) { return [line2] { writeConfig("Svc", line2); }; };
const auto failing = [](const char* call, DWORD error) { return [=] { world().failingCalls[call] = error; }; };
const auto beside = [](const char* folder, std::vector<std::string> names) {
    return [=] {
        std::vector<std::string>& listed = world().security.folderEntries[folder];
        listed.insert(listed.end(), names.begin(), names.end());
    };
};

RegistrationTest::Shape installs(const std::string& shape, std::function<void()> arrange)
{
    return {shape, "", arrange};
}

RegistrationTest::Shape refused(const std::string& shape, const std::string& line, std::function<void()> arrange)
{
    return {shape, line, arrange};
}

// A table's row: refused with line where refusedThere, else installs.
RegistrationTest::Shape refusedIf(bool refusedThere, const std::string& shape, const std::string& line,
                                  std::function<void()> arrange)
{
    return {shape, refusedThere ? line : "", arrange};
}

std::string cannotTell(const std::string& path, DWORD error)
{
    return "Cannot tell who can change " + path + ", Error Code " + std::to_string(error);
}

// A tree beneath C:\svc: sub\ with x.dll and deeper\ in it, and in sub\ a
// folder of 257 characters, the longest whose entries can be listed, with
// a file of 259 characters, the longest path there is.
const std::string deepFolder = "c:\\svc\\sub\\" + std::string(246, 'd');
const std::string deepFile = deepFolder + "\\f";
void plantTree()
{
    world().security.folderEntries["c:\\svc"].push_back("sub\\");
    world().security.folderEntries["c:\\svc\\sub"] = {"x.dll", "deeper\\", deepFolder.substr(11) + "\\"};
    world().security.folderEntries[deepFolder] = {"f"};
}
// How the log spells a path of the world.
std::string named(const std::string& path)
{
    return "C" + path.substr(1);
}

// Each bit of the mask on its own, granted to Users at each place: a file
// that runs or is read (service.log beside svclaunch.exe; x.dll and the
// longest path beneath it, at depth 2 and deeper); a folder that holds one
// (C:\svc, and each folder beneath it); C:\work, a folder above the
// target's; the root; and the entries that new files inherit from C:\svc.
// X where the right lets its holder change what runs: write a file's data
// or attributes, delete it, change its permissions or owner; add to a folder
// that holds one, delete its entries, or by its attributes make the folder a
// junction; rename a folder above away, which takes deleting it or an entry
// of its parent.
enum PlaceKind { file, holder, above, root, newFiles };
const struct {
    DWORD right;
    const char* name;
    const char* refusedAt; // file, holder, above, root, new files
} rights[] = {
    {FILE_WRITE_DATA, "FILE_WRITE_DATA, FILE_ADD_FILE", "XX..X"},
    {FILE_APPEND_DATA, "FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY", "XX..X"},
    {FILE_DELETE_CHILD, "FILE_DELETE_CHILD", ".XXX."},
    {FILE_WRITE_ATTRIBUTES, "FILE_WRITE_ATTRIBUTES", "XX..X"},
    {DELETE, "DELETE", "XXX.X"},
    {WRITE_DAC, "WRITE_DAC", "XXXXX"},
    {WRITE_OWNER, "WRITE_OWNER", "XXXXX"},
    {GENERIC_ALL, "GENERIC_ALL", "XXXXX"},
    {GENERIC_WRITE, "GENERIC_WRITE", "XX..X"},
};
const struct {
    std::string path;
    PlaceKind kind;
} places[] = {{"c:\\svc\\service.log", file},
              {"c:\\svc\\sub\\x.dll", file},
              {deepFile, file},
              {"c:\\svc", holder},
              {"c:\\svc\\sub", holder},
              {"c:\\svc\\sub\\deeper", holder},
              {deepFolder, holder},
              {"c:\\work", above},
              {"c:\\", root},
              {"c:\\svc", newFiles}};

TEST_F(RegistrationTest, InstallRefusesEachRightExactlyWhereItChangesWhatRuns)
{
    // Any other bit (the rights to read, execute, read attributes and
    // extended attributes, write extended attributes, synchronize,
    // READ_CONTROL, ACCESS_SYSTEM_SECURITY, MAXIMUM_ALLOWED, GENERIC_READ and
    // GENERIC_EXECUTE, and the bits no file or folder defines) changes
    // nothing that runs.
    for (int bit = 0; bit < 32; ++bit) {
        const DWORD right = DWORD{1} << bit;
        std::string name = "bit " + std::to_string(bit);
        const char* refusedAt = ".....";
        for (const auto& known : rights) {
            if (known.right == right) {
                name = known.name;
                refusedAt = known.refusedAt;
            }
        }
        for (const auto& p : places) {
            BYTE flags = p.kind == newFiles ? newFilesOnly : 0;
            std::string shape = name + " at " + p.path + (flags != 0 ? " for new files" : "");
            checkInstall({refusedIf(refusedAt[p.kind] == 'X', shape, "Users can change " + named(p.path),
                                    at(p.path, grant(flags, right), plantTree))});
        }
    }
}

// Each right that matters at a place, allowed to Users after a denial to
// them: of exactly that right, or more, installs; of another right only, or
// of part of an allowance of several rights that matter there, is refused,
// since a right remains.
TEST_F(RegistrationTest, InstallCreditsADenialWithExactlyTheRightsItTakes)
{
    const DWORD readData = FILE_READ_DATA; // matters nowhere
    for (const auto& r : rights) {
        for (const auto& p : places) {
            if (r.refusedAt[p.kind] != 'X' || p.kind == root || p.path != places[p.kind == file ? 0 : 3].path) {
                continue;
            }
            DWORD other = 0; // another right that matters there
            for (const auto& o : rights) {
                other = other == 0 && o.right != r.right && o.refusedAt[p.kind] == 'X' ? o.right : other;
            }
            BYTE flags = p.kind == newFiles ? newFilesOnly : 0;
            auto deniedThen = [&](DWORD denied, DWORD allowed) {
                return at(p.path, entries({{deny, flags, denied, users}, {allow, flags, allowed, users}}));
            };
            std::string shape = std::string(r.name) + " at " + p.path + (flags != 0 ? " for new files" : "");
            std::string refusal = "Users can change " + named(p.path);
            checkInstall(
                {installs(shape + ", denied exactly", deniedThen(r.right, r.right)),
                 installs(shape + ", denied with more", deniedThen(r.right | readData | other, r.right)),
                 refused(shape + ", another right denied", refusal, deniedThen(readData, r.right)),
                 refused(shape + ", denied from a wider allowance", refusal, deniedThen(r.right, r.right | other))});
        }
    }
}

// The unsafe entry first, in the middle and last of a listing, at each
// depth of the walk.
TEST_F(RegistrationTest, InstallJudgesEachEntryOfAListingWhereverItComes)
{
    for (const std::string& folder : {std::string("c:\\svc"), std::string("c:\\svc\\sub"), deepFolder}) {
        for (size_t position = 0; position < 3; ++position) {
            std::vector<std::string> listing = {"a", "b"}; // short enough for the deepest folder
            listing.insert(listing.begin() + static_cast<long>(position), "x");
            checkInstall(
                {refused(folder + ", entry " + std::to_string(position), "Users can change " + named(folder) + "\\x",
                         at(folder + "\\x", grant(0, FILE_WRITE_DATA), [folder, listing] {
                             plantTree();
                             world().security.folderEntries[folder] = listing;
                             if (folder == "c:\\svc") {
                                 world().security.folderEntries[folder].push_back("sub\\");
                             }
                         }))});
        }
    }
}

// What the README says between <!-- MARK --> and <!-- /MARK -->, its
// lines joined by blanks.
std::string readmeBlock(const std::string& mark)
{
    std::ifstream readme(SVCLAUNCH_README);
    std::string text;
    for (std::string word; readme >> word;) {
        text += word + " ";
    }
    size_t from = text.find("<!-- " + mark + " -->");
    size_t to = text.find("<!-- /" + mark + " -->");
    EXPECT_TRUE(from != std::string::npos && to != std::string::npos) << mark;
    return from != std::string::npos && to != std::string::npos ? text.substr(from, to - from) : "";
}

// Every SID on Microsoft's "Well-known SIDs" page, by its documented value
// (a domain's of a domain none of whose accounts are administrators here),
// as the owner of C:\svc and with Modify there. Only the SIDs that the
// README trusts install, and an entry for CREATOR OWNER, CREATOR GROUP or
// OWNER RIGHTS, which Windows puts in no token; every other is refused and
// named as the README's list of names has it, or spelt out.
TEST_F(RegistrationTest, InstallJudgesEveryWellKnownSidAsTheReadmeSays)
{
    const std::string trustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    std::vector<std::string> sids = {"S-1-0-0",     "S-1-1-0",     "S-1-2-0",     "S-1-2-1",        "S-1-3-0",
                                     "S-1-3-1",     "S-1-3-2",     "S-1-3-3",     "S-1-3-4",        "S-1-5-33",
                                     "S-1-5-64-10", "S-1-5-64-14", "S-1-5-64-21", "S-1-5-65-1",     "S-1-5-80-0",
                                     "S-1-5-113",   "S-1-5-114",   "S-1-5-1000",  trustedInstaller, "S-1-15-2-1",
                                     "S-1-15-2-2",  "S-1-18-1",    "S-1-18-2"};
    for (int rid = 1; rid <= 20; ++rid) {
        sids.push_back("S-1-5-" + std::to_string(rid));
    }
    for (int alias = 544; alias <= 583; ++alias) {
        sids.push_back("S-1-5-32-" + std::to_string(alias));
    }
    for (int rid = 498; rid <= 527; ++rid) {
        sids.push_back("S-1-5-21-3-4-5-" + std::to_string(rid));
    }
    for (int rid : {553, 571, 572}) {
        sids.push_back("S-1-5-21-3-4-5-" + std::to_string(rid));
    }
    for (int label : {0, 4096, 8192, 8448, 12288, 16384, 20480, 28672}) {
        sids.push_back("S-1-16-" + std::to_string(label));
    }
    // Whom the README trusts, by the names Windows gives them.
    const std::map<std::string, std::string> fixed = {
        {"S-1-5-18", "SYSTEM"}, {"S-1-5-32-544", "Administrators"}, {trustedInstaller, "TrustedInstaller"}};
    std::string trustedList = readmeBlock("trusted");
    std::map<std::string, std::string> names;
    std::string namedList = readmeBlock("named");
    for (size_t at = namedList.find("S-1-"); at != std::string::npos; at = namedList.find("S-1-", at + 1)) {
        size_t blank = namedList.find(' ', at);
        size_t end = namedList.find_first_of(",.", blank);
        names[namedList.substr(at, blank - at)] = namedList.substr(blank + 1, end - blank - 1);
    }
    for (const auto& name : names) {
        bool trusted = fixed.count(name.first) != 0;
        EXPECT_EQ(trustedList.find(name.second) != std::string::npos, trusted) << name.second;
        EXPECT_TRUE(!trusted || fixed.at(name.first) == name.second) << name.second;
    }
    for (const std::string& sid : sids) {
        bool trusted = fixed.count(sid) != 0 && trustedList.find(fixed.at(sid)) != std::string::npos;
        bool grantsNobody = sid == "S-1-3-0" || sid == "S-1-3-1" || sid == "S-1-3-4";
        std::string refusal = (names.count(sid) != 0 ? names[sid] : sid) + " can change C:\\svc";
        checkInstall({refusedIf(!trusted, sid + " as owner", refusal, at("c:\\svc", entries({}, sid))),
                      refusedIf(!trusted && !grantsNobody, sid + " with Modify", refusal,
                                at("c:\\svc", grant(0, modify, sid)))});
    }
    // Each named SID with one part changed, bit 24 added, or one part more:
    // another SID, spelt out.
    for (const auto& name : names) {
        std::vector<std::string> parts;
        for (size_t begin = 0, end = 0; end != std::string::npos; begin = end + 1) {
            end = name.first.find('-', begin);
            parts.push_back(name.first.substr(begin, end - begin));
        }
        std::vector<std::string> others = {name.first + "-1"};
        for (size_t changed = 2; changed < parts.size(); ++changed) {
            std::string sid = "S";
            for (size_t i = 1; i < parts.size(); ++i) {
                sid += "-" + (i == changed ? std::to_string(std::stoull(parts[i]) + (1u << 24)) : parts[i]);
            }
            others.push_back(sid);
        }
        for (const std::string& sid : others) {
            checkInstall({refused(sid, sid + " can change C:\\svc", at("c:\\svc", grant(0, modify, sid)))});
        }
    }
    checkInstall({
        refused("an authority past 32 bits, spelt in hexadecimal", "S-1-0x000100000000-5 can change C:\\svc",
                at("c:\\svc", grant(0, modify, "S-1-4294967296-5"))),
        refused("Everyone denied, ANONYMOUS LOGON allowed: its token holds no Everyone",
                "ANONYMOUS LOGON can change C:\\svc",
                at("c:\\svc", entries({{deny, 0, modify, "S-1-1-0"}, {allow, 0, modify, "S-1-5-7"}}))),
        installs("Everyone denied before Users allowed",
                 at("c:\\svc", entries({{deny, 0, modify, "S-1-1-0"}, {allow, 0, modify, users}}))),
        installs("the account that runs install", at("c:\\svc", entries({}, "S-1-5-21-7-8-9-1000"))),
        refused("CREATOR GROUP in what new files inherit", "CREATOR GROUP can change C:\\svc",
                at("c:\\svc", grant(newFilesOnly, modify, "S-1-3-1"))),
        installs("CREATOR OWNER in what new files inherit", at("c:\\svc", grant(newFilesOnly, modify, "S-1-3-0"))),
    });
}

// Administrators as this machine counts them: every direct member of its
// Administrators group, by SID, whatever it is (this machine's account, a
// domain's account, a domain's group); not a member of such a group, since
// only a domain controller could say who those are. Domain Admins and
// Enterprise Admins, of the machine's domain or another, are trusted only
// where they are members. Each account is tried as the owner of C:\svc and
// with Modify there.
TEST_F(RegistrationTest, InstallTrustsTheDirectMembersOfAdministrators)
{
    const std::string local = "S-1-5-21-7-8-9-";
    const std::string domain = "S-1-5-21-1004336348-1177238915-682003330-";
    const std::string foreign = "S-1-5-21-3-4-5-";
    const std::vector<std::string> members = {local + "500", local + "1001", domain + "1107", domain + "1200"};
    struct Account {
        std::string sid;
        std::string who;
        bool member;
    };
    std::vector<Account> accounts = {
        {local + "1001", "an administrator's own account on this machine", true},
        {domain + "1107", "a domain account added to Administrators", true},
        {domain + "1200", "a domain group added to Administrators", true},
        {domain + "1300", "a member of that group", false},
        {local + "1002", "a user of this machine", false},
    };
    // Domain Admins (512) and Enterprise Admins (519) of the machine's domain
    // and of another, each as a member and not.
    for (const std::string& of : {domain, foreign}) {
        for (const char* rid : {"512", "519"}) {
            for (bool member : {true, false}) {
                accounts.push_back({of + rid, of + rid + (member ? ", a member" : ", no member"), member});
            }
        }
    }
    for (const Account& a : accounts) {
        std::vector<std::string> listed = members;
        if (a.member && std::find(listed.begin(), listed.end(), a.sid) == listed.end()) {
            listed.push_back(a.sid);
        }
        auto arrange = [listed](const stub::FileSecurity& security) {
            return at("c:\\svc", security, [listed] { world().security.administrators = listed; });
        };
        std::string refusal = a.sid + " can change C:\\svc";
        checkInstall({refusedIf(!a.member, a.who + " as owner", refusal, arrange(entries({}, a.sid))),
                      refusedIf(!a.member, a.who + " with Modify", refusal, arrange(grant(0, modify, a.sid)))});
    }
    // The group's name is looked up, as it differs by language; the list is
    // read whole, however long.
    std::vector<std::string> thousand;
    for (int i = 0; i < 1000; ++i) {
        thousand.push_back(domain + std::to_string(2000 + i));
    }
    checkInstall({
        installs("a member of Administratoren",
                 at("c:\\svc", entries({}, local + "500"),
                    [] { world().security.administratorsGroupName = "Administratoren"; })),
        installs("a member of a group whose name is as long as a group's may be",
                 at("c:\\svc", entries({}, local + "500"),
                    [] { world().security.administratorsGroupName = std::string(GNLEN, 'A'); })),
        installs("the last of 1,000 members", at("c:\\svc", entries({}, domain + "2999"),
                                                 [thousand] { world().security.administrators = thousand; })),
        refused("no members", local + "500 can change C:\\svc",
                at("c:\\svc", entries({}, local + "500"), [] { world().security.administrators.clear(); })),
    });
}

// Where the members cannot be read whole, install still judges, trusting
// only SYSTEM, Administrators, TrustedInstaller and the account that runs
// it; a member, this machine's Administrator here, is then refused and
// named. Each shape runs in a process of its own.
TEST_F(RegistrationTest, InstallTrustsOnlyTheFixedAccountsWhereAdministratorsCannotBeRead)
{
    const std::string member = "S-1-5-21-7-8-9-500";
    const struct {
        const char* shape;
        std::function<void()> arrange;
    } failures[] = {
        {"LookupAccountSidW finds no name", failing("LookupAccountSidW", ERROR_NONE_MAPPED)},
        {"LookupAccountSidW is denied", failing("LookupAccountSidW", ERROR_ACCESS_DENIED)},
        {"a group's name longer than a group's may be",
         [] { world().security.administratorsGroupName = std::string(257, 'A'); }},
        {"netapi32 cannot be loaded", [] { world().process.unloadableLibraries.insert("netapi32.dll"); }},
        {"NetLocalGroupGetMembers is denied", failing("NetLocalGroupGetMembers", ERROR_ACCESS_DENIED)},
        {"NetLocalGroupGetMembers finds no such computer", failing("NetLocalGroupGetMembers", NERR_InvalidComputer)},
        {"NetLocalGroupGetMembers finds no such group", failing("NetLocalGroupGetMembers", ERROR_NO_SUCH_ALIAS)},
        {"NetLocalGroupGetMembers gives the first half of the list",
         [] {
             world().security.administrators = {"S-1-5-21-7-8-9-500", "S-1-5-21-7-8-9-1001"};
             world().failingCalls["NetLocalGroupGetMembers"] = ERROR_MORE_DATA;
         }},
    };
    std::vector<Shape> shapes;
    for (const auto& f : failures) {
        auto arrange = f.arrange;
        for (const std::string& owner : {member, std::string("S-1-5-32-544"), std::string("S-1-5-21-7-8-9-1000")}) {
            shapes.push_back(refusedIf(owner == member, std::string(f.shape) + ", owner " + owner,
                                       owner + " can change C:\\svc", at("c:\\svc", entries({}, owner), arrange)));
        }
    }
    checkInstallSurvives(shapes);
}

// Each entry type that Windows defines, 0 to 21, and two it does not: as the
// one entry of C:\svc, granting Users Modify; and as an entry that denies
// them Modify before a plain grant; each on C:\svc itself and in what new
// files inherit from it. R: refused, naming Users; I: installs; ?: an entry
// this program does not read, so who can change C:\svc cannot be told. A
// conditional grant may hold; a conditional denial may not. An object entry
// that names an object type is a directory object's; one whose only type is
// the type of object that inherits it is never inherited by files.
TEST_F(RegistrationTest, InstallReadsEachEntryTypeAsWindowsDoes)
{
    struct Type {
        BYTE type;
        DWORD objectFlags;
        std::string name;
        const char* read; // as a grant: at C:\svc, for new files; as a denial: the same
    };
    std::vector<Type> types = {
        {ACCESS_ALLOWED_ACE_TYPE, 0, "ACCESS_ALLOWED", "RRRR"},
        {ACCESS_DENIED_ACE_TYPE, 0, "ACCESS_DENIED", "IIII"},
        {ACCESS_ALLOWED_OBJECT_ACE_TYPE, 0, "ACCESS_ALLOWED_OBJECT", "RRRR"},
        {ACCESS_ALLOWED_OBJECT_ACE_TYPE, objectType, "ACCESS_ALLOWED_OBJECT, object type", "IIRR"},
        {ACCESS_ALLOWED_OBJECT_ACE_TYPE, inheritedObjectType, "ACCESS_ALLOWED_OBJECT, inherited type", "RRRR"},
        {ACCESS_ALLOWED_OBJECT_ACE_TYPE, objectType | inheritedObjectType, "ACCESS_ALLOWED_OBJECT, both", "IIRR"},
        {ACCESS_DENIED_OBJECT_ACE_TYPE, 0, "ACCESS_DENIED_OBJECT", "IIII"},
        {ACCESS_DENIED_OBJECT_ACE_TYPE, objectType, "ACCESS_DENIED_OBJECT, object type", "IIRR"},
        {ACCESS_DENIED_OBJECT_ACE_TYPE, inheritedObjectType, "ACCESS_DENIED_OBJECT, inherited type", "IIIR"},
        {ACCESS_DENIED_OBJECT_ACE_TYPE, objectType | inheritedObjectType, "ACCESS_DENIED_OBJECT, both", "IIRR"},
        {ACCESS_ALLOWED_CALLBACK_ACE_TYPE, 0, "ACCESS_ALLOWED_CALLBACK", "RRRR"},
        {ACCESS_DENIED_CALLBACK_ACE_TYPE, 0, "ACCESS_DENIED_CALLBACK", "IIRR"},
        {ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, 0, "ACCESS_ALLOWED_CALLBACK_OBJECT", "RRRR"},
        {ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE, objectType | inheritedObjectType,
         "ACCESS_ALLOWED_CALLBACK_OBJECT, both", "RRRR"},
        {ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE, 0, "ACCESS_DENIED_CALLBACK_OBJECT", "IIRR"},
        {ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE, objectType | inheritedObjectType,
         "ACCESS_DENIED_CALLBACK_OBJECT, both", "IIRR"},
    };
    // Audit and alarm entries, the compound grant, the mandatory label,
    // resource attribute, scoped policy, trust label and access filter
    // entries, and types that Windows does not define.
    const BYTE undefinedType = 22;
    const BYTE lastType = 255;
    for (BYTE type :
         {SYSTEM_AUDIT_ACE_TYPE, SYSTEM_ALARM_ACE_TYPE, ACCESS_ALLOWED_COMPOUND_ACE_TYPE, SYSTEM_AUDIT_OBJECT_ACE_TYPE,
          SYSTEM_ALARM_OBJECT_ACE_TYPE, SYSTEM_AUDIT_CALLBACK_ACE_TYPE, SYSTEM_ALARM_CALLBACK_ACE_TYPE,
          SYSTEM_AUDIT_CALLBACK_OBJECT_ACE_TYPE, SYSTEM_ALARM_CALLBACK_OBJECT_ACE_TYPE, SYSTEM_MANDATORY_LABEL_ACE_TYPE,
          SYSTEM_RESOURCE_ATTRIBUTE_ACE_TYPE, SYSTEM_SCOPED_POLICY_ID_ACE_TYPE, SYSTEM_PROCESS_TRUST_LABEL_ACE_TYPE,
          SYSTEM_ACCESS_FILTER_ACE_TYPE, undefinedType, lastType}) {
        types.push_back({type, 0, "type " + std::to_string(type), "????"});
    }
    for (const auto& t : types) {
        for (int form = 0; form < 4; ++form) {
            BYTE flags = form % 2 == 0 ? 0 : newFilesOnly;
            stub::Ace entry = {t.type, flags, modify, users, t.objectFlags};
            std::vector<stub::Ace> aces = {entry};
            if (form >= 2) {
                aces.push_back({allow, flags, modify, users});
            }
            std::string shape = t.name + (form >= 2 ? " before a grant" : "") + (flags ? " for new files" : "");
            std::string line =
                t.read[form] == '?' ? cannotTell("C:\\svc", ERROR_NOT_SUPPORTED) : "Users can change C:\\svc";
            checkInstall({refusedIf(t.read[form] != 'I', shape, line, at("c:\\svc", entries(aces)))});
        }
    }
    checkInstall({
        refused("a denial after the grant", "Users can change C:\\svc",
                at("c:\\svc", entries({{allow, 0, modify, users}, {deny, 0, modify, users}}))),
        installs("two earlier denials that add up",
                 at("c:\\svc", entries({{deny, 0, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_WRITE_ATTRIBUTES, users},
                                        {deny, 0, DELETE, users},
                                        {allow, 0, modify, users}}))),
    });
}

// Each flag of an entry, on a grant of Modify to Users and on a denial of it
// before such a grant: on service.log, and in what new files inherit from
// C:\svc (there with INHERIT_ONLY_ACE, so that C:\svc itself is not what is
// judged). Only OBJECT_INHERIT_ACE reaches new files; only INHERIT_ONLY_ACE
// keeps an entry off its own object.
TEST_F(RegistrationTest, InstallReadsEachEntryFlagAsWindowsDoes)
{
    const struct {
        BYTE flag;
        const char* name;
        const char* read; // grant on service.log, grant for new files, denial on it, denial for new files
    } flags[] = {{OBJECT_INHERIT_ACE, "OI", "RRII"},
                 {CONTAINER_INHERIT_ACE, "CI", "RIIR"},
                 {NO_PROPAGATE_INHERIT_ACE, "NP", "RIIR"},
                 {INHERIT_ONLY_ACE, "IO", "IIRR"},
                 {INHERITED_ACE, "INHERITED", "RIIR"}};
    for (const auto& f : flags) {
        for (int form = 0; form < 4; ++form) {
            bool newFiles = form % 2 == 1;
            const char* path = newFiles ? "c:\\svc" : "c:\\svc\\service.log";
            BYTE flag = static_cast<BYTE>(f.flag | (newFiles ? INHERIT_ONLY_ACE : 0));
            std::vector<stub::Ace> aces = {{form < 2 ? allow : deny, flag, modify, users}};
            if (form >= 2) {
                aces.push_back({allow, static_cast<BYTE>(newFiles ? newFilesOnly : 0), modify, users});
            }
            std::string shape = std::string(form < 2 ? "a grant " : "a denial ") + f.name + " at " + path;
            std::string named = newFiles ? "C:\\svc" : "C:\\svc\\service.log";
            checkInstall({refusedIf(f.read[form] == 'R', shape, "Users can change " + named, at(path, entries(aces)))});
        }
    }
}

// Every way in which the calls that judge a file can fail, each as its
// documentation says it can: install refuses and says why, or names
// Everyone, or names an account it can no longer tell trusted; it never
// installs and never crashes. A file that is gone since it was listed is no
// file to judge.
TEST_F(RegistrationTest, InstallRefusesWhenACallOfTheJudgeFails)
{
    const auto securityError = [](const char* path, DWORD error) {
        return [=] { world().security.securityErrors[path] = error; };
    };
    const DWORD unexpectedNetworkError = 59; // ERROR_UNEXP_NET_ERR
    std::vector<Shape> shapes = {
        installs("service.cnf gone since it was listed", securityError("c:\\svc\\service.cnf", ERROR_FILE_NOT_FOUND)),
        refused("a folder gone", cannotTell("C:\\svc", ERROR_FILE_NOT_FOUND),
                securityError("c:\\svc", ERROR_FILE_NOT_FOUND)),
        refused("an owner without sub-authorities", cannotTell("C:\\svc", ERROR_INVALID_SECURITY_DESCR),
                at("c:\\svc", entries({}, "S-1-5"))),
        refused("no owner", cannotTell("C:\\svc", ERROR_INVALID_SECURITY_DESCR), at("c:\\svc", entries({}, ""))),
        refused("GetSecurityDescriptorOwner fails", cannotTell("C:\\svc", ERROR_INVALID_SECURITY_DESCR),
                failing("GetSecurityDescriptorOwner", ERROR_INVALID_SECURITY_DESCR)),
        refused("GetSecurityDescriptorDacl fails", cannotTell("C:\\svc", ERROR_INVALID_SECURITY_DESCR),
                failing("GetSecurityDescriptorDacl", ERROR_INVALID_SECURITY_DESCR)),
        refused("no DACL, as on FAT32", "Everyone can change C:\\svc\\service.log",
                at("c:\\svc\\service.log", {admins, false, {}})),
        refused("a DACL that is present but NULL", "Everyone can change C:\\svc",
                at("c:\\svc", {admins, false, {}, true})),
        refused("GetAce fails with an error", cannotTell("C:\\svc", ERROR_INVALID_PARAMETER),
                failing("GetAce", ERROR_INVALID_PARAMETER)),
        refused("GetAce fails without one", cannotTell("C:\\svc", ERROR_INVALID_ACL), failing("GetAce", NO_ERROR)),
        refused("an entry too short for its SID", cannotTell("C:\\svc", ERROR_INVALID_ACL),
                at("c:\\svc", entries({{allow, 0, modify, users, 0, 16}}))),
        refused("an entry too short for its mask", cannotTell("C:\\svc", ERROR_INVALID_ACL),
                at("c:\\svc", entries({{allow, 0, modify, users, 0, 6}}))),
        refused("a SID of another revision", cannotTell("C:\\svc", ERROR_INVALID_ACL),
                at("c:\\svc", grant(0, modify, "S-2-5-32-545"))),
        refused("FindFirstFileW cannot list a folder", cannotTell("C:\\svc", ERROR_ACCESS_DENIED),
                [] { world().security.findErrors["c:\\svc\\*"] = ERROR_ACCESS_DENIED; }),
        refused("FindFirstFileW cannot find a folder of the chain", cannotTell("C:\\work", ERROR_ACCESS_DENIED),
                [] { world().security.findErrors["c:\\work"] = ERROR_ACCESS_DENIED; }),
        refused("FindNextFileW breaks off", cannotTell("C:\\svc", unexpectedNetworkError),
                failing("FindNextFileW", unexpectedNetworkError)),
        refused("QueryDosDeviceA fails", cannotTell("C:", ERROR_ACCESS_DENIED),
                failing("QueryDosDeviceA", ERROR_ACCESS_DENIED)),
        refused("OpenProcessToken fails: the installing account unknown", "S-1-5-21-7-8-9-1000 can change C:\\svc",
                at("c:\\svc", entries({}, "S-1-5-21-7-8-9-1000"), failing("OpenProcessToken", ERROR_ACCESS_DENIED))),
        refused("GetTokenInformation fails", "S-1-5-21-7-8-9-1000 can change C:\\svc",
                at("c:\\svc", entries({}, "S-1-5-21-7-8-9-1000"), failing("GetTokenInformation", ERROR_ACCESS_DENIED))),
    };
    // Descriptors across 4 KB and at the 16 KB the judge reads: a header,
    // an owner and an empty DACL take 44 bytes, an entry for Administrators
    // 24, one for SYSTEM 20.
    for (size_t bytes : {4092, 4096, 4100, 16380, 16384, 16388}) {
        size_t forSystem = (bytes - 44) % 24 / 4 == 5 ? 1 : ((bytes - 44) % 24) / 4 == 4 ? 2 : 0;
        std::vector<stub::Ace> aces((bytes - 44 - 20 * forSystem) / 24, {allow, 0, readExecute, admins});
        aces.insert(aces.end(), forSystem, {allow, 0, FILE_ALL_ACCESS, "S-1-5-18"});
        shapes.push_back(refusedIf(bytes > 16384, "a descriptor of " + std::to_string(bytes) + " bytes",
                                   cannotTell("C:\\svc", ERROR_INSUFFICIENT_BUFFER), at("c:\\svc", entries(aces))));
    }
    for (DWORD error : {ERROR_INVALID_FUNCTION, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_NOT_SUPPORTED,
                        ERROR_INVALID_NAME, ERROR_FILENAME_EXCED_RANGE}) {
        shapes.push_back(refused("GetFileSecurityA fails with " + std::to_string(error),
                                 cannotTell("C:\\svc\\service.cnf", error),
                                 securityError("c:\\svc\\service.cnf", error)));
    }
    // Every answer of GetDriveTypeA. Only a local fixed disk is judged.
    for (UINT type :
         {DRIVE_UNKNOWN, DRIVE_NO_ROOT_DIR, DRIVE_REMOVABLE, DRIVE_FIXED, DRIVE_REMOTE, DRIVE_CDROM, DRIVE_RAMDISK}) {
        auto arrange = [type] { world().security.driveTypes["c:\\"] = type; };
        shapes.push_back(refusedIf(type != DRIVE_FIXED, "drive type " + std::to_string(type),
                                   "C:\\svc is not on a local fixed disk", arrange));
    }
    checkInstallSurvives(shapes);
}

TEST_F(RegistrationTest, InstallJudgesEveryFolderUpToTheRootOnALocalFixedDiskWithoutLinks)
{
    // Full paths of 259 and 260 characters: C:\work\box\ and the name.
    const std::string longest = std::string(243, 't') + ".exe";
    const std::string tooLong = "The target's path is too long: box\\t" + longest;
    checkInstall({
        installs("a target that is not there yet", missing("c:\\work\\box\\target.exe")),
        refused("a target whose folder is missing", cannotTell("C:\\work\\box", ERROR_FILE_NOT_FOUND),
                missing("c:\\work\\box")),
        refused("a target whose folder's folder is missing", cannotTell("C:\\work\\box", ERROR_PATH_NOT_FOUND),
                missing("c:\\work")),
        installs("a deduplicated file",
                 [=] { world().security.reparseTags["c:\\svc\\svclaunch.exe"] = IO_REPARSE_TAG_DEDUP; }),
        refused("a quoted line 2", "The target is a document: C:\\work\\box\\\"target.exe\"", target("\"target.exe\"")),
        installs("a target path of 259 characters", target(longest)),
        refused("a target path of 260 characters", tooLong, target("t" + longest)),
        refused("a target path of 261 characters", "The target's path is too long: box\\tt" + longest,
                target("tt" + longest)),
        refused("a target on a network drive", "D:\\work\\box is not on a local fixed disk",
                [] {
                    world().security.currentDirectory = "D:\\work";
                    world().security.driveTypes["d:\\"] = DRIVE_REMOTE;
                }),
        refused("svclaunch.exe on a share", "\\\\server\\share\\svc is not on a local fixed disk",
                [] { world().process.modulePath = "\\\\server\\share\\svc\\svclaunch.exe"; }),
        refused("a folder whose path the SCM would expand", "The SCM would expand the % in C:\\%TEMP%\\svclaunch.exe",
                [] { world().process.modulePath = "C:\\%TEMP%\\svclaunch.exe"; }),
        // Beneath a root lies the whole disk; a drive that stands for a
        // folder hides the folders above it.
        refused("svclaunch.exe at a drive's root", "A drive's root holds the whole disk: C:\\",
                [] { world().process.modulePath = "C:\\svclaunch.exe"; }),
        refused("the target at a drive's root", "A drive's root holds the whole disk: C:\\",
                target("..\\..\\target.exe")),
        refused("svclaunch.exe on a subst drive", "S: is a substitute for a folder: \\??\\C:\\real",
                [] {
                    world().process.modulePath = "S:\\svc\\svclaunch.exe";
                    world().security.dosDevices["s:"] = "\\??\\C:\\real";
                }),
        refused("the target on a drive made by DefineDosDevice", "T: is a substitute for a folder: \\DosDevices\\D:\\x",
                [] {
                    world().security.currentDirectory = "T:\\work";
                    world().security.dosDevices["t:"] = "\\DosDevices\\D:\\x";
                }),
        installs("svclaunch.exe on another volume",
                 [] {
                     world().process.modulePath = "D:\\svc\\svclaunch.exe";
                     world().security.dosDevices["d:"] = "\\Device\\HarddiskVolume2";
                 }),
        refused("a drive whose target is longer than any path", cannotTell("C:", ERROR_INSUFFICIENT_BUFFER),
                [] { world().security.dosDevices["c:"] = "\\??\\C:\\" + std::string(1100, 'x'); }),
    });
    // Characters outside ASCII that the code page spells, and a blank, are
    // those of a name like any other.
    checkInstall({installs("caf\xE9.exe in code page 1252", target("caf\xE9.exe")),
                  installs("a name in hiragana in code page 932",
                           [] {
                               world().process.ansiCodePage = 932;
                               writeConfig("Svc", "\x82\xA0\x82\xA2.exe");
                           }),
                  installs("a blank", target("my tool.exe"))});
    // Every character that Windows allows in no file name, a CR among them,
    // and two it allows.
    for (char c : std::string("\x01\r\x1f\"*:<>?|+")) {
        std::string line2 = std::string(1, c) + "x.exe";
        checkInstall({refusedIf(c != '|' && c != '+', line2, cannotTell("C:\\work\\box\\" + line2, ERROR_INVALID_NAME),
                                target(line2))});
    }
    // Whatever stands for another place, a Unix link as Wine shows it (no
    // tag) among them, at each place of the target's chain.
    for (DWORD tag : {IO_REPARSE_TAG_MOUNT_POINT, IO_REPARSE_TAG_SYMLINK, IO_REPARSE_TAG_LX_SYMLINK, DWORD{0}}) {
        for (std::string place : {"C:\\work\\box\\target.exe", "C:\\work\\box", "C:\\work"}) {
            checkInstall({refused("a link of tag " + std::to_string(tag), place + " is a link",
                                  [=] { world().security.reparseTags["c" + place.substr(1)] = tag; })});
        }
    }
}

// Beneath both folders, to any depth, every file is judged as what runs
// (programs and runtimes load code from subfolders: side-by-side
// assemblies, cultures, plug-ins, an interpreter's library) and every folder
// as one that holds it. A link anywhere is refused, not followed; a folder
// that cannot be listed, a name the code page cannot spell and a path longer
// than the ANSI calls take are refused. The tree is plantTree's, beneath
// C:\svc; the listings hold . and .. after their first entry.
TEST_F(RegistrationTest, InstallJudgesEverythingBeneathBothFolders)
{
    const std::string lookAlike = "h\u0101lper.dll"; // the code page spells it "halper.dll"
    const auto tree = [](std::function<void()> also) {
        return [also] {
            plantTree();
            also();
        };
    };
    const auto link = [](const std::string& path) {
        return [path] { world().security.reparseTags[path] = IO_REPARSE_TAG_MOUNT_POINT; };
    };
    std::vector<Shape> shapes = {
        refused("a DLL beside the target that Users may delete", "Users can change C:\\work\\box\\helper.dll",
                at("c:\\work\\box\\helper.dll", grant(0, DELETE), beside("c:\\work\\box", {"helper.dll"}))),
        refused("a subfolder beside the target that Users may change", "Users can change C:\\work\\box\\lib",
                at("c:\\work\\box\\lib", grant(0, modify), beside("c:\\work\\box", {"lib\\"}))),
        refused("a .local folder in a .local folder that Users may change",
                "Users can change C:\\work\\box\\target.exe.local\\deeper.local",
                at("c:\\work\\box\\target.exe.local\\deeper.local", grant(0, modify),
                   [] {
                       beside("c:\\work\\box", {"target.exe.local\\"})();
                       beside("c:\\work\\box\\target.exe.local", {"deeper.local\\"})();
                   })),
        refused("a name that begins with two dots", "Users can change C:\\svc\\..x.dll",
                at("c:\\svc\\..x.dll", grant(0, modify), beside("c:\\svc", {"..x.dll"}))),
        refused("the only entry of a folder", "Users can change C:\\svc\\one\\only.dll",
                at("c:\\svc\\one\\only.dll", grant(0, modify),
                   [] {
                       beside("c:\\svc", {"one\\"})();
                       beside("c:\\svc\\one", {"only.dll"})();
                   })),
        refused("a folder beneath that cannot be listed", cannotTell("C:\\svc\\sub\\deeper", ERROR_ACCESS_DENIED),
                tree([] { world().security.findErrors["c:\\svc\\sub\\deeper\\*"] = ERROR_ACCESS_DENIED; })),
        refused("a name beneath that the code page cannot spell",
                cannotTell("C:\\svc\\sub\\deeper\\halper.dll", ERROR_NO_UNICODE_TRANSLATION),
                tree(beside("c:\\svc\\sub\\deeper", {lookAlike}))),
        refused("a folder of 258 characters, which no listing takes",
                cannotTell("C:\\svc\\sub\\" + std::string(247, 'd'), ERROR_FILENAME_EXCED_RANGE),
                tree(beside("c:\\svc\\sub", {std::string(247, 'd') + "\\"}))),
        refused("an entry of 260 characters", cannotTell(named(deepFolder) + "\\gg", ERROR_FILENAME_EXCED_RANGE),
                tree(beside(deepFolder.c_str(), {"gg"}))),
        refused("a target that is a folder", "The target is a folder: C:\\work\\box\\target.exe",
                [] { world().security.folderEntries["c:\\work\\box"] = {"target.exe\\"}; }),
    };
    // In code page 932 a path of fewer than MAX_PATH characters may take
    // twice as many bytes. Beneath C:\svc\s and 120 hiragana (248 bytes),
    // a name of 269 or 270 bytes is spelt whole, the path then judged (and
    // refused: it has 264 characters); one of 271 does not fit, and its
    // folder is named.
    const std::string folderName = "s" + times(120, "\u3042");
    const std::string folderBytes = "C:\\svc\\s" + times(120, "\x82\xA0");
    for (const std::string& name : {"x" + times(134, "\u3042"), times(135, "\u3042"), "x" + times(135, "\u3042")}) {
        bool fits = name.size() < 3 * 135 + 1;
        std::string nameBytes = name[0] == 'x' ? "x" + times(fits ? 134 : 135, "\x82\xA0") : times(135, "\x82\xA0");
        std::string key = "c" + folderBytes.substr(1);
        shapes.push_back(
            refused("a name of " + std::to_string(nameBytes.size()) + " bytes in code page 932",
                    cannotTell(fits ? folderBytes + "\\" + nameBytes : folderBytes, ERROR_FILENAME_EXCED_RANGE), [=] {
                        world().process.ansiCodePage = 932;
                        beside("c:\\svc", {folderName + "\\"})();
                        world().security.folderEntries[key] = {name};
                    }));
    }
    // A link at each depth, a file or a folder; and a link beside the target.
    for (const std::string& path :
         {std::string("c:\\svc\\service.cnf"), std::string("c:\\svc\\sub"), std::string("c:\\svc\\sub\\x.dll"),
          std::string("c:\\svc\\sub\\deeper"), deepFolder, deepFile, std::string("c:\\work\\box\\target.exe")}) {
        shapes.push_back(refused("a link at " + path, named(path) + " is a link", tree(link(path))));
    }
    checkInstall(shapes);
}

// A folder that lies within the other, or is the other, is judged once with
// it: spelt alike up to a backslash, since a folder may tell letter case
// apart and C:\svc2 is no part of C:\svc. The target's folder must be there
// all the same. Each row counts how often the target's folder and the
// target were judged.
TEST_F(RegistrationTest, InstallJudgesAFolderWithinTheOtherOnce)
{
    const struct {
        const char* shape;
        std::string line2;
        std::string modulePath;
        std::string targetFolder;
        std::function<void()> arrange;
    } rows[] = {
        {"the same folder", "..\\..\\svc\\target.exe", "C:\\svc\\svclaunch.exe", "C:\\svc",
         beside("c:\\svc", {"target.exe"})},
        {"the same folder in another case", "..\\..\\SVC\\target.exe", "C:\\svc\\svclaunch.exe", "C:\\SVC",
         beside("c:\\svc", {"target.exe"})},
        {"a folder beneath", "..\\..\\svc\\bin\\target.exe", "C:\\svc\\svclaunch.exe", "C:\\svc\\bin",
         [] {
             beside("c:\\svc", {"bin\\"})();
             beside("c:\\svc\\bin", {"target.exe"})();
         }},
        {"a folder above", "target.exe", "C:\\work\\box\\bin\\svclaunch.exe", "C:\\work\\box",
         [] {
             beside("c:\\work\\box", {"bin\\"})();
             beside("c:\\work\\box\\bin", {"svclaunch.exe"})();
         }},
        {"a folder beside, its name longer", "..\\..\\svc2\\target.exe", "C:\\svc\\svclaunch.exe", "C:\\svc2",
         beside("c:\\svc2", {"target.exe"})},
        {"a folder beside, its name shorter", "target.exe", "C:\\work\\boxes\\svclaunch.exe", "C:\\work\\box", [] {}},
        {"a folder on another drive", "target.exe", "D:\\svc\\svclaunch.exe", "C:\\work\\box", [] {}},
    };
    for (const auto& r : rows) {
        nextRun();
        writeConfig("Svc", r.line2);
        writeFile(logFile, "");
        world().process.modulePath = r.modulePath;
        r.arrange();
        runVerb("install");
        EXPECT_EQ(log(), "Installed Successfully\n") << r.shape;
        std::string targetPath = r.targetFolder + "\\target.exe";
        const auto& judged = world().security.securityQueries;
        EXPECT_EQ(std::count(judged.begin(), judged.end(), r.targetFolder), 1) << r.shape;
        EXPECT_EQ(std::count(judged.begin(), judged.end(), targetPath), 1) << r.shape;
    }
    checkInstall({refused("a folder beneath that is not there", cannotTell("C:\\svc\\gone", ERROR_FILE_NOT_FOUND), [] {
        writeConfig("Svc", "..\\..\\svc\\gone\\target.exe");
        world().security.missingPaths.insert("c:\\svc\\gone");
    })});
}

// A program or a script runs itself; whatever else would run what it names
// at each start, which no judgement at install can cover. Every extension
// of a default PATHEXT, every one that Outlook's documentation blocks as
// able to run code, and those that a default Windows opens through an
// association, each in mixed case: only .exe, .com, .bat and .cmd are
// programs, and of the rest .lnk, .url and .pif are shortcuts. The
// extension is the last dot's of the name, not of a folder.
TEST_F(RegistrationTest, InstallTakesOnlyProgramsByTheirLastExtensionInAnyCase)
{
    // By their documented names, a blank between each.
    std::istringstream extensions(
        "com exe bat cmd vbs vbe js jse wsf wsh msc ps1 psm1 psd1 ps1xml ps2 ps2xml psc1 psc2 msh msh1 msh2 "
        "mshxml msh1xml msh2xml msi msp mst msu scr cpl hta reg inf lnk url pif appref-ms application "
        "settingcontent-ms library-ms search-ms searchconnector-ms diagcab diagcfg diagpkg appx appxbundle "
        "msix msixbundle appinstaller ade adp app bas cer chm cnt crt csh der fxp gadget grp hlp hpj htc img "
        "ins iso isp its jar jnlp ksh mad maf mag mam maq mar mas mat mau mav maw mcf mda mdb mde mdt mdw mdz "
        "ops osd pcd pl plg prf prg printerexport pst py pyc pyo pyw pyz pyzw scf sct shb shs theme tmp vb "
        "vbp vhd vhdx vsmacros vsw webpnp website ws wsc xbap xll xnk dll sys ocx drv txt ini");

    std::vector<Shape> shapes;
    for (std::string extension; extensions >> extension;) {
        std::string name = "t.";
        for (size_t i = 0; i < extension.size(); ++i) {
            name += i % 2 == 0 ? static_cast<char>(toupper(extension[i])) : extension[i];
        }
        bool program = extension == "exe" || extension == "com" || extension == "bat" || extension == "cmd";
        bool shortcut = extension == "lnk" || extension == "url" || extension == "pif";
        std::string line = std::string(shortcut ? "The target is a shortcut: " : "The target is a document: ") +
                           "C:\\work\\box\\" + name;
        shapes.push_back(refusedIf(!program, name, line, target(name)));
    }
    for (std::string program : {"job.txt.exe", "v1.2\\tool.exe"}) {
        shapes.push_back(installs(program, target(program)));
    }
    for (std::string document : {"backup", "job.exe.txt", "v1.2\\tool", "job.executable", "job.ex"}) {
        shapes.push_back(refused(document, "The target is a document: C:\\work\\box\\" + document, target(document)));
    }
    shapes.push_back(refused("a document that is not there", "The target is a document: C:\\work\\box\\notes.txt", [] {
        writeConfig("Svc", "notes.txt");
        world().security.missingPaths.insert("c:\\work\\box\\notes.txt");
    }));
    checkInstall(shapes);
}

// --- remove ---

// What remove does with the service of the name now configured, and the one
// line it leaves: it deletes a stopped service, leaves one that is not
// stopped, and logs only the refusals it knows. It judges nothing: a
// registration may always be taken away, even from a folder that install
// would refuse. Every path releases what it opened, in reverse order.
TEST_F(RegistrationTest, RemoveDeletesOnlyAStoppedServiceAndLogsWhatItKnows)
{
    const std::vector<std::string> both = {"service:New", "manager"};
    const struct {
        const char* what;
        DWORD state; // of the service "svc"; 0: none of that name
        const char* failingCall;
        DWORD error;
        const char* line;
        bool deleted;
        std::vector<std::string> closed;
    } cases[] = {
        {"a stopped service", SERVICE_STOPPED, "", 0, "Removed Successfully\n", true, both},
        {"a running service", SERVICE_RUNNING, "", 0, " is still Running.\n", false, both},
        {"a service starting", SERVICE_START_PENDING, "", 0, " is still Running.\n", false, both},
        {"a service stopping", SERVICE_STOP_PENDING, "", 0, " is still Running.\n", false, both},
        {"no service of that name", 0, "", 0, "", false, {"manager"}},
        {"deletion denied", SERVICE_STOPPED, "DeleteService", ERROR_ACCESS_DENIED,
         "Access Denied While trying to Remove BrindlewoodService\n", false, both},
        {"a handle refused", SERVICE_STOPPED, "DeleteService", ERROR_INVALID_HANDLE,
         "Handle invalid while trying to Remove BrindlewoodService\n", false, both},
        {"already marked for deletion", SERVICE_STOPPED, "DeleteService", ERROR_SERVICE_MARKED_FOR_DELETE,
         "already marked for deletion\n", false, both},
        {"deletion refused otherwise", SERVICE_STOPPED, "DeleteService", ERROR_NOT_ENOUGH_MEMORY, "", false, both},
        {"the SCM cannot be opened", SERVICE_STOPPED, "OpenSCManagerA", ERROR_ACCESS_DENIED, "", false, {}},
        {"the service cannot be opened", SERVICE_STOPPED, "OpenServiceA", ERROR_ACCESS_DENIED, "", false, {"manager"}},
        {"its status cannot be read", SERVICE_STOPPED, "QueryServiceStatus", ERROR_ACCESS_DENIED, "", false, both},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        nextRun();
        writeConfig("New", "target.exe"); // the name now configured, whatever was installed
        writeFile(logFile, "");
        world().security.fileSecurity = {{"c:\\svc", grant(0, modify)}};
        registerService("old", SERVICE_STOPPED);
        if (c.state != 0) {
            registerService("new", c.state);
        }
        if (*c.failingCall != '\0') {
            world().failingCalls[c.failingCall] = c.error;
        }
        runVerb("remove");
        EXPECT_EQ(readLog(logFile), c.line);
        EXPECT_EQ(world().scm.services.count("new"), c.state != 0 && !c.deleted ? 1u : 0u);
        EXPECT_EQ(world().scm.services.count("old"), 1u);
        EXPECT_EQ(world().scm.closedHandles, c.closed);
        EXPECT_TRUE(world().security.securityQueries.empty());
        EXPECT_TRUE(world().process.loadedLibraries.empty());
    }
    EXPECT_EQ(world().scm.managerAccess, std::vector<DWORD>{SC_MANAGER_CONNECT});
    EXPECT_EQ(world().scm.serviceAccess, std::vector<DWORD>{DELETE | SERVICE_QUERY_STATUS});
}

} // namespace
