// Fuzzes start-up: arbitrary service.cnf content, argv[0] and verb, run
// through the real entry point and whichever mode it chooses, on the Win32
// stand-in whose SCM answers are fuzzed too.
#include "stub_world.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

int svclaunchMain(int argc, char* argv[]);

namespace {

const size_t argv0Max = 40000;

// The folder the product will take from argv0; only the parts of that rule
// that decide where this harness puts the configuration file.
std::string directoryOf(const std::string& argv0)
{
    for (size_t i = argv0.size(); i-- > 2;) {
        if (argv0[i] == '\\') {
            return argv0.substr(0, i);
        }
    }
    return argv0;
}

// A name this machine can hold as one file in the current folder.
bool isPlainFileName(const std::string& name)
{
    return !name.empty() && name.size() < 250 && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

DWORD fuzzedError(FuzzedDataProvider& data)
{
    static const DWORD codes[] = {0, 0, 0, 5, 6, 1060, 1072, 1073, 1078, 87};
    return codes[data.ConsumeIntegralInRange<size_t>(0, sizeof codes / sizeof codes[0] - 1)];
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char pattern[] = "/tmp/svclaunch-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) {
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    stub::reset();
    stub::World& world = stub::world();
    for (const char* call : {"OpenSCManagerA", "CreateServiceA", "OpenServiceA", "DeleteService"}) {
        if (DWORD error = fuzzedError(data)) {
            world.failingCalls[call] = error;
        }
    }
    if (!data.ConsumeBool()) {
        world.failingCalls["RegisterServiceCtrlHandlerA"] = ERROR_INVALID_HANDLE;
    }
    world.scm.startedByScm = data.ConsumeBool();
    world.scm.connectionBreaks = data.ConsumeBool();
    world.scm.serviceStartsLate = world.scm.connectionBreaks && data.ConsumeBool();
    // The SCM's part: stop the service once it runs, or, when its connection
    // breaks, nothing at all. A service that cannot register never runs.
    bool waitsToStop = world.failingCalls.count("RegisterServiceCtrlHandlerA") == 0 && !world.scm.connectionBreaks;
    world.scm.scmDriver = [waitsToStop] {
        if (waitsToStop && stub::waitForState(SERVICE_RUNNING)) {
            stub::deliverControl(SERVICE_CONTROL_STOP);
        }
    };
    if (data.ConsumeBool()) {
        world.scm.services["svc"] = {"Svc", "\"C:\\svc.exe\"", data.ConsumeBool() ? SERVICE_STOPPED : SERVICE_RUNNING};
    }
    // The own path in UTF-8: mostly plain ASCII of any length, at times one
    // that the code page spells only by a look-alike, or exactly.
    static const char* const modulePaths[] = {"C:\\B\xC4\x81"
                                              "ckup\\svclaunch.exe",
                                              "C:\\Caf\xC3\xA9\\svclaunch.exe"};
    world.process.modulePath = data.ConsumeRandomLengthString(300);
    for (char& c : world.process.modulePath) {
        c = c & 0x7F ? static_cast<char>(c & 0x7F) : 'x';
    }
    if (data.ConsumeIntegralInRange(0, 7) == 0) {
        world.process.modulePath = modulePaths[data.ConsumeBool()];
    }

    static const char* const verbs[] = {"install", "REMOVE", "Install", "remove", "start", ""};
    std::string verb = verbs[data.ConsumeIntegralInRange<size_t>(0, 5)];
    std::string argv0 = data.ConsumeRandomLengthString(argv0Max);
    if (data.ConsumeBool()) {
        argv0 = "box\\" + argv0;
    }
    argv0 = argv0.c_str(); // a command line argument ends at its first NUL
    std::string configuration = data.ConsumeRemainingBytesAsString();

    std::string directory = directoryOf(argv0);
    std::string configFile = directory + "\\service.cnf";
    std::string logFile = directory + "\\service.log";
    bool placed = isPlainFileName(configFile);
    if (placed) {
        FILE* file = fopen(configFile.c_str(), "wb");
        if (file == nullptr) {
            return 0;
        }
        fwrite(configuration.data(), 1, configuration.size(), file);
        fclose(file);
    }

    std::vector<char*> argv{argv0.data()};
    if (!verb.empty()) {
        argv.push_back(verb.data());
    }
    argv.push_back(nullptr);
    if (svclaunchMain(static_cast<int>(argv.size() - 1), argv.data()) != 0) {
        abort();
    }
    stub::joinServiceThread(); // a service thread left behind by a broken connection
    // The faults every unit test checks for, from the same list.
    std::string faults = stub::faultsOfTheRun();
    if (!faults.empty()) {
        fprintf(stderr, "%s", faults.c_str());
        abort();
    }
    if (placed) {
        remove(configFile.c_str());
        remove(logFile.c_str());
    }
    return 0;
}
