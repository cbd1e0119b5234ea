// The "install" and "remove" verbs against the service database: what they
// ask of the SCM, the one log line each leaves, and the handles they free.
#include "support.h"

#include <ntsecapi.h>

#include <fstream>

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

public:
    // A shape install may meet: what the world holds, and the line install
    // leaves (empty: it installs). Built by installs() and refused().
    struct Shape {
        std::string shape;
        std::string line;
        std::function<void()> arrange;
    };

protected:
    void checkInstall(const std::vector<Shape>& shapes)
    {
        for (const Shape& c : shapes) {
            nextRun();
            writeConfig("Svc", "target.exe");
            c.arrange();
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
    // The same, each shape in a process of its own, so that an install that
    // crashes fails the test as one that logs the wrong line does.
    void checkInstallSurvives(const std::vector<Shape>& shapes)
    {
        for (const Shape& c : shapes) {
            EXPECT_EXIT(
                {
                    checkInstall({c});
                    nextRun();
                    exit(HasFailure() ? 1 : 0);
                },
                ::testing::ExitedWithCode(0), "")
                << c.shape;
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
        world().failingCalls["CreateServiceA"] = code;
        runVerb("install");
    }
    EXPECT_EQ(log(), "Was not Installed Successfully. Error Code 5\n\n"
                     "Was not Installed Successfully. Error Code 1057\n\n"
                     "Was not Installed Successfully. Error Code -2147024891\n\n"); // as a signed 32-bit value
    EXPECT_EQ(world().closedHandles, (std::vector<std::string>{"manager", "manager", "manager", "manager", "manager"}));
}

TEST_F(RegistrationTest, InstallWithoutTheRightToCreateServicesLeavesNoTrace)
{
    world().failingCalls["OpenSCManagerA"] = ERROR_ACCESS_DENIED;
    runVerb("install");
    EXPECT_TRUE(world().creates.empty());
    EXPECT_EQ(log(), "(no log)");
}

TEST_F(RegistrationTest, InstallCreatesNothingWhenTheOwnPathCannotBeHadWhole)
{
    world().failingCalls["GetModuleFileNameW"] = ERROR_ACCESS_DENIED; // start-up stops before any mode
    runVerb("install");
    world().failingCalls.clear();
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
        world().fileSecurity[path] = security;
        also();
    };
}
const auto missing = [](const char* path) { return [path] { world().missingPaths.insert(path); }; };
const auto target = [](const std::string& line2) { return [line2] { writeConfig("Svc", line2); }; };
const auto failing = [](const char* call, DWORD error) { return [=] { world().failingCalls[call] = error; }; };
const auto beside = [](const char* folder, std::vector<std::string> names) {
    return [=] {
        std::vector<std::string>& listed = world().folderEntries[folder];
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

// Each bit of the mask on its own, granted to Users at each place:
// service.log, a file beside what runs; C:\svc, the folder that holds it;
// C:\work, a folder above the target's; the root; and the entries that new
// files inherit from C:\svc. X where the right lets its holder change what
// runs: write a file's data, delete it, change its permissions or owner; add
// to a folder that holds one or delete its entries; rename a folder above
// away, which takes deleting it or an entry of its parent.
TEST_F(RegistrationTest, InstallRefusesEachRightExactlyWhereItChangesWhatRuns)
{
    const struct {
        DWORD right;
        const char* name;
        const char* refusedAt; // file, folder, above, root, new files
    } rights[] = {
        {FILE_WRITE_DATA, "FILE_WRITE_DATA, FILE_ADD_FILE", "XX..X"},
        {FILE_APPEND_DATA, "FILE_APPEND_DATA, FILE_ADD_SUBDIRECTORY", "XX..X"},
        {FILE_DELETE_CHILD, "FILE_DELETE_CHILD", ".XXX."},
        {DELETE, "DELETE", "XXX.X"},
        {WRITE_DAC, "WRITE_DAC", "XXXXX"},
        {WRITE_OWNER, "WRITE_OWNER", "XXXXX"},
        {GENERIC_ALL, "GENERIC_ALL", "XXXXX"},
        {GENERIC_WRITE, "GENERIC_WRITE", "XX..X"},
    };
    const struct {
        const char* path;
        BYTE flags;
        const char* named;
    } places[] = {{"c:\\svc\\service.log", 0, "C:\\svc\\service.log"},
                  {"c:\\svc", 0, "C:\\svc"},
                  {"c:\\work", 0, "C:\\work"},
                  {"c:\\", 0, "C:\\"},
                  {"c:\\svc", newFilesOnly, "C:\\svc"}};
    // Any other bit (the rights to read, execute, read and write
    // attributes and extended attributes, synchronize, READ_CONTROL,
    // ACCESS_SYSTEM_SECURITY, MAXIMUM_ALLOWED, GENERIC_READ and
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
        for (size_t place = 0; place < 5; ++place) {
            const auto& p = places[place];
            std::string shape = name + " at " + p.path + (p.flags != 0 ? " for new files" : "");
            checkInstall({refusedIf(refusedAt[place] == 'X', shape, std::string("Users can change ") + p.named,
                                    at(p.path, grant(p.flags, right)))});
        }
    }
}

// Every SID that install names, with its standing and its name in the log,
// as an entry of C:\svc that grants Modify, as one that new files inherit
// from it, and as the owner of C:\svc. CREATOR OWNER and OWNER RIGHTS
// stand for the creator and the owner, who are judged anyway; CREATOR
// GROUP for the creator's primary group, in what files inherit. The README's
// list of whom install trusts names the trusted ones and no other.
TEST_F(RegistrationTest, InstallTrustsExactlyTheAccountsTheReadmeNames)
{
    enum Stands { trusted, untrusted, creator, creatorsGroup };
    const std::string domain = "S-1-5-21-1004336348-1177238915-682003330-";
    const struct {
        std::string sid;
        const char* name;
        Stands stands;
        bool anyDomain; // its three parts after 21 may be any domain's
    } sids[] = {
        {"S-1-1-0", "Everyone", untrusted, false},
        {"S-1-2-0", "LOCAL", untrusted, false},
        {"S-1-3-0", "CREATOR OWNER", creator, false},
        {"S-1-3-1", "CREATOR GROUP", creatorsGroup, false},
        {"S-1-3-4", "OWNER RIGHTS", creator, false},
        {"S-1-5-4", "INTERACTIVE", untrusted, false},
        {"S-1-5-7", "Anonymous Logon", untrusted, false},
        {"S-1-5-11", "Authenticated Users", untrusted, false},
        {"S-1-5-13", "Terminal Server User", untrusted, false},
        {"S-1-5-15", "This Organization", untrusted, false},
        {"S-1-5-18", "SYSTEM", trusted, false},
        {"S-1-5-19", "LOCAL SERVICE", untrusted, false},
        {"S-1-5-20", "NETWORK SERVICE", untrusted, false},
        {"S-1-5-32-544", "Administrators", trusted, false},
        {"S-1-5-32-545", "Users", untrusted, false},
        {"S-1-5-32-546", "Guests", untrusted, false},
        {"S-1-5-32-547", "Power Users", untrusted, false},
        {"S-1-5-32-568", "IIS_IUSRS", untrusted, false},
        {domain + "512", "Domain Admins", trusted, true},
        {domain + "513", "Domain Users", untrusted, true},
        {domain + "514", "Domain Guests", untrusted, true},
        {domain + "519", "Enterprise Admins", trusted, true},
        {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", "TrustedInstaller", trusted, false},
        {"S-1-5-21-7-8-9-500", "this machine's own built-in Administrator", trusted, false},
        {"S-1-5-21-7-8-9-1000", "the account that runs `install`", trusted, false},
    };
    std::ifstream readme(SVCLAUNCH_README);
    std::string text;
    for (std::string word; readme >> word;) {
        text += word + " ";
    }
    size_t from = text.find("trusts administrators alone:");
    ASSERT_NE(from, std::string::npos) << SVCLAUNCH_README;
    std::string trustedText = text.substr(from, text.find(". It registers nothing", from) - from);
    for (const auto& known : sids) {
        std::string refusal = std::string(known.name) + " can change C:\\svc";
        EXPECT_EQ(trustedText.find(known.name) != std::string::npos, known.stands == trusted) << known.name;
        checkInstall({
            refusedIf(known.stands == untrusted, known.sid, refusal, at("c:\\svc", grant(0, modify, known.sid))),
            refusedIf(known.stands == untrusted || known.stands == creatorsGroup, known.sid + " for new files", refusal,
                      at("c:\\svc", grant(newFilesOnly, modify, known.sid))),
            refusedIf(known.stands != trusted, known.sid + " as owner", refusal, at("c:\\svc", entries({}, known.sid))),
        });
        // Each part after the revision changed, bit 24 added: another SID,
        // spelt out; a domain's own parts may be any domain's.
        std::vector<std::string> parts;
        for (size_t begin = 0, end = 0; end != std::string::npos; begin = end + 1) {
            end = known.sid.find('-', begin);
            parts.push_back(known.sid.substr(begin, end - begin));
        }
        for (size_t changed = 2; changed < parts.size(); ++changed) {
            std::string sid = "S";
            for (size_t i = 1; i < parts.size(); ++i) {
                sid += "-" + (i == changed ? std::to_string(std::stoull(parts[i]) + (1u << 24)) : parts[i]);
            }
            bool domainsOwn = known.anyDomain && changed >= 4 && changed <= 6;
            checkInstall({refusedIf(!(domainsOwn && known.stands == trusted), sid,
                                    (domainsOwn ? std::string(known.name) : sid) + " can change C:\\svc",
                                    at("c:\\svc", grant(0, modify, sid)))});
        }
    }
    checkInstall({
        refused("one part longer than Administrators'", "S-1-5-32-544-1 can change C:\\svc",
                at("c:\\svc", grant(0, modify, "S-1-5-32-544-1"))),
        refused("an authority past 32 bits, spelt in hexadecimal", "S-1-0x000100000000-5 can change C:\\svc",
                at("c:\\svc", grant(0, modify, "S-1-4294967296-5"))),
        refused("Everyone denied, Anonymous Logon allowed: its token holds no Everyone",
                "Anonymous Logon can change C:\\svc",
                at("c:\\svc", entries({{deny, 0, modify, "S-1-1-0"}, {allow, 0, modify, "S-1-5-7"}}))),
        installs("Everyone denied before Users allowed",
                 at("c:\\svc", entries({{deny, 0, modify, "S-1-1-0"}, {allow, 0, modify, users}}))),
    });
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
                 at("c:\\svc", entries({{deny, 0, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY, users},
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
        return [=] { world().securityErrors[path] = error; };
    };
    const DWORD unexpectedNetworkError = 59; // ERROR_UNEXP_NET_ERR
    std::vector<Shape> shapes = {
        installs("service.cnf gone since it was listed", securityError("c:\\svc\\service.cnf", ERROR_FILE_NOT_FOUND)),
        refused("a folder gone", cannotTell("C:\\svc", ERROR_FILE_NOT_FOUND),
                securityError("c:\\svc", ERROR_FILE_NOT_FOUND)),
        refused("a descriptor larger than the buffer", cannotTell("C:\\svc", ERROR_INSUFFICIENT_BUFFER),
                at("c:\\svc", entries(std::vector<stub::Ace>(1000, {allow, 0, readExecute, admins})))),
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
                [] { world().findErrors["c:\\svc\\*"] = ERROR_ACCESS_DENIED; }),
        refused("FindFirstFileW cannot find a folder of the chain", cannotTell("C:\\work", ERROR_ACCESS_DENIED),
                [] { world().findErrors["c:\\work"] = ERROR_ACCESS_DENIED; }),
        refused("FindNextFileW breaks off", cannotTell("C:\\svc", unexpectedNetworkError),
                failing("FindNextFileW", unexpectedNetworkError)),
        refused("LsaOpenPolicy fails: this machine's Administrator unknown", "S-1-5-21-7-8-9-500 can change C:\\svc",
                at("c:\\svc", entries({}, "S-1-5-21-7-8-9-500"), failing("LsaOpenPolicy", STATUS_ACCESS_DENIED))),
        refused("LsaQueryInformationPolicy fails", "S-1-5-21-7-8-9-500 can change C:\\svc",
                at("c:\\svc", entries({}, "S-1-5-21-7-8-9-500"),
                   failing("LsaQueryInformationPolicy", STATUS_ACCESS_DENIED))),
        refused("OpenProcessToken fails: the installing account unknown", "S-1-5-21-7-8-9-1000 can change C:\\svc",
                at("c:\\svc", entries({}, "S-1-5-21-7-8-9-1000"), failing("OpenProcessToken", ERROR_ACCESS_DENIED))),
        refused("GetTokenInformation fails", "S-1-5-21-7-8-9-1000 can change C:\\svc",
                at("c:\\svc", entries({}, "S-1-5-21-7-8-9-1000"), failing("GetTokenInformation", ERROR_ACCESS_DENIED))),
    };
    for (DWORD error : {ERROR_INVALID_FUNCTION, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_NOT_SUPPORTED,
                        ERROR_INVALID_NAME, ERROR_FILENAME_EXCED_RANGE}) {
        shapes.push_back(refused("GetFileSecurityA fails with " + std::to_string(error),
                                 cannotTell("C:\\svc\\service.cnf", error),
                                 securityError("c:\\svc\\service.cnf", error)));
    }
    // Every answer of GetDriveTypeA. Only a local fixed disk is judged.
    for (UINT type :
         {DRIVE_UNKNOWN, DRIVE_NO_ROOT_DIR, DRIVE_REMOVABLE, DRIVE_FIXED, DRIVE_REMOTE, DRIVE_CDROM, DRIVE_RAMDISK}) {
        auto arrange = [type] { world().driveTypes["c:\\"] = type; };
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
        installs("a deduplicated file", [=] { world().reparseTags["c:\\svc\\svclaunch.exe"] = IO_REPARSE_TAG_DEDUP; }),
        refused("a quoted line 2", "The target is a document: C:\\work\\box\\\"target.exe\"", target("\"target.exe\"")),
        installs("a target path of 259 characters", target(longest)),
        refused("a target path of 260 characters", tooLong, target("t" + longest)),
        refused("a target on a network drive", "D:\\work\\box is not on a local fixed disk",
                [] {
                    world().currentDirectory = "D:\\work";
                    world().driveTypes["d:\\"] = DRIVE_REMOTE;
                }),
        refused("svclaunch.exe on a share", "\\\\server\\share\\svc is not on a local fixed disk",
                [] { world().modulePath = "\\\\server\\share\\svc\\svclaunch.exe"; }),
        refused("a folder whose path the SCM would expand", "The SCM would expand the % in C:\\%TEMP%\\svclaunch.exe",
                [] { world().modulePath = "C:\\%TEMP%\\svclaunch.exe"; }),
    });
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
                                  [=] { world().reparseTags["c" + place.substr(1)] = tag; })});
        }
    }
}

TEST_F(RegistrationTest, InstallJudgesEveryFileBesideWhatRuns)
{
    const std::string lookAlike = "h\u0101lper.dll"; // the code page spells it "halper.dll"
    checkInstall({
        refused("a DLL beside svclaunch.exe that Users may write", "Users can change C:\\svc\\helper.dll",
                at("c:\\svc\\helper.dll", grant(0, FILE_WRITE_DATA), beside("c:\\svc", {"helper.dll"}))),
        refused("a DLL beside the target that Users may delete", "Users can change C:\\work\\box\\helper.dll",
                at("c:\\work\\box\\helper.dll", grant(0, DELETE), beside("c:\\work\\box", {"helper.dll"}))),
        refused("a link beside", "C:\\svc\\config.ini is a link",
                [=] {
                    beside("c:\\svc", {"config.ini"})();
                    world().reparseTags["c:\\svc\\config.ini"] = IO_REPARSE_TAG_SYMLINK;
                }),
        installs("a subfolder that holds nothing that runs",
                 at("c:\\svc\\logs", grant(0, modify), beside("c:\\svc", {"logs\\"}))),
        refused("svclaunch.exe.local whose entries Users may delete", "Users can change C:\\svc\\svclaunch.exe.local",
                at("c:\\svc\\svclaunch.exe.local", grant(0, FILE_DELETE_CHILD),
                   beside("c:\\svc", {"svclaunch.exe.local\\"}))),
        refused("a DLL in target.EXE.LOCAL that Users may write",
                "Users can change C:\\work\\box\\target.EXE.LOCAL\\comctl32.dll",
                at("c:\\work\\box\\target.exe.local\\comctl32.dll", grant(0, FILE_WRITE_DATA),
                   [] {
                       beside("c:\\work\\box", {"target.EXE.LOCAL\\"})();
                       beside("c:\\work\\box\\target.exe.local", {"comctl32.dll"})();
                   })),
        installs("a .local folder in a .local folder holds nothing that runs",
                 at("c:\\work\\box\\t.local\\deeper.local", grant(0, modify),
                    [] {
                        beside("c:\\work\\box", {"t.local\\"})();
                        beside("c:\\work\\box\\t.local", {"deeper.local\\"})();
                    })),
        refused("a name the code page cannot spell, its look-alike there",
                cannotTell("C:\\svc\\halper.dll", ERROR_NO_UNICODE_TRANSLATION),
                beside("c:\\svc", {"halper.dll", lookAlike})),
        refused("a name the code page cannot spell, no look-alike",
                cannotTell("C:\\work\\box\\halper.dll", ERROR_NO_UNICODE_TRANSLATION),
                beside("c:\\work\\box", {lookAlike})),
    });
}

// A program or a script runs itself; whatever else would run what it names
// at each start, which no judgement at install can cover.
TEST_F(RegistrationTest, InstallTakesOnlyProgramsByTheirLastExtensionInAnyCase)
{
    std::vector<Shape> shapes;
    for (std::string program : {"T.EXE", "t.Com", "t.bAt", "t.CMD", "job.txt.exe", "v1.2\\tool.exe"}) {
        shapes.push_back(installs(program, target(program)));
    }
    for (std::string shortcut : {"T.LNK", "t.Url", "t.pIf"}) {
        shapes.push_back(refused(shortcut, "The target is a shortcut: C:\\work\\box\\" + shortcut, target(shortcut)));
    }
    for (std::string document : {"backup", "job.exe.txt", "v1.2\\tool", "job.executable", "job.ex", "notes.vbs"}) {
        shapes.push_back(refused(document, "The target is a document: C:\\work\\box\\" + document, target(document)));
    }
    shapes.push_back(refused("a document that is not there", "The target is a document: C:\\work\\box\\notes.txt", [] {
        writeConfig("Svc", "notes.txt");
        world().missingPaths.insert("c:\\work\\box\\notes.txt");
    }));
    checkInstall(shapes);
}

// --- remove ---

// remove never judges: a registration may always be taken away, even from
// a folder that install would refuse.
TEST_F(RegistrationTest, RemoveDeletesAStoppedService)
{
    registerService("svc", SERVICE_STOPPED);
    world().fileSecurity = {{"c:\\svc", grant(0, modify)}};
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
        world().failingCalls["DeleteService"] = c.code;
        runVerb("remove");
        EXPECT_EQ(readLog(logFile), c.line);
        EXPECT_EQ(world().services.size(), 1u);
    }
}

TEST_F(RegistrationTest, RemoveFailingBeforeDeletionLeavesNoTrace)
{
    registerService("svc", SERVICE_STOPPED);
    for (const char* call : {"OpenSCManagerA", "OpenServiceA", "QueryServiceStatus"}) {
        world().failingCalls = {{call, ERROR_ACCESS_DENIED}};
        runVerb("remove");
    }

    EXPECT_EQ(world().services.size(), 1u);
    EXPECT_EQ(log(), "(no log)");
    EXPECT_EQ(world().closedHandles, (std::vector<std::string>{"manager", "service:Svc", "manager"}));
}

} // namespace
