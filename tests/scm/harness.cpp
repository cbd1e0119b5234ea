#include "harness.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <vector>

namespace {

struct Case {
    const char* name;
    CaseFunction function;
};

std::vector<Case>& cases()
{
    static std::vector<Case> all;
    return all;
}

int failures = 0;
std::string skipReason;
std::vector<void (*)()> cleanups;

// The exit code of a case that cannot run here, as the test presets and
// run-tests.cmd count it.
const int skippedExitCode = 77;

} // namespace

// The clean-up of leftovers between runs: services defined beside the SCM
// helpers, folders beside the case folders.
void removeLeftovers();
void removeSuiteRoot();
// One client of a stop storm, defined beside the stress cases; its exit code.
int stormClient(const char* service);
// The kit's survey of this machine's folders, defined beside the install cases.
void surveyFolders();

CaseRegistration::CaseRegistration(const char* name, CaseFunction function)
{
    cases().push_back({name, function});
}

void recordFailure(const char* file, int line, const std::string& message)
{
    ++failures;
    printf("%s:%d: %s\n", file, line, message.c_str());
    fflush(stdout);
}

bool caseFailed()
{
    return failures != 0;
}

std::string visible(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool checkEqual(const char* file, int line, const char* what, const std::string& actual, const std::string& expected)
{
    if (actual == expected) {
        return true;
    }
    recordFailure(file, line,
                  std::string(what) + "\n    is: \"" + visible(actual) + "\"\n  want: \"" + visible(expected) + "\"");
    return false;
}

bool checkEqual(const char* file, int line, const char* what, unsigned long actual, unsigned long expected)
{
    if (actual == expected) {
        return true;
    }
    recordFailure(file, line,
                  std::string(what) + " is " + std::to_string(actual) + ", want " + std::to_string(expected));
    return false;
}

void atCaseEnd(void (*cleanup)())
{
    cleanups.push_back(cleanup);
}

void skipCase(const std::string& reason)
{
    skipReason = reason;
}

// "scm_tests --list" names every case; "scm_tests NAME" runs one;
// "scm_tests --cleanup" removes whatever earlier runs left registered;
// "scm_tests --survey" prints what install makes of this machine's folders;
// "scm_tests --can-create-services" exits 0 when this prompt may, 5 when
// it is refused for want of rights (a prompt that is not elevated), and 1
// when the SCM cannot be opened for another reason, which it prints.
int main(int argc, char* argv[])
{
    if (argc == 2 && strcmp(argv[1], "--can-create-services") == 0) {
        SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_CREATE_SERVICE);
        if (manager == NULL) {
            DWORD error = GetLastError();
            if (error == ERROR_ACCESS_DENIED) {
                return 5;
            }
            printf("The Service Control Manager cannot be opened: Windows error %lu\n", error);
            return 1;
        }
        CloseServiceHandle(manager);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "--list") == 0) {
        for (const Case& c : cases()) {
            printf("%s\n", c.name);
        }
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "--storm") == 0) {
        return stormClient(argv[2]);
    }
    if (argc == 2 && strcmp(argv[1], "--cleanup") == 0) {
        removeLeftovers();
        removeSuiteRoot();
        return 0;
    }
    auto runCleanups = [] {
        for (auto it = cleanups.rbegin(); it != cleanups.rend(); ++it) {
            (*it)();
        }
    };
    if (argc == 2 && strcmp(argv[1], "--survey") == 0) {
        surveyFolders();
        runCleanups();
        return 0;
    }
    for (const Case& c : cases()) {
        if (argc == 2 && strcmp(argv[1], c.name) == 0) {
            c.function();
            runCleanups();
            if (failures == 0 && !skipReason.empty()) {
                printf("%s: skipped: %s\n", c.name, skipReason.c_str());
                return skippedExitCode;
            }
            printf("%s: %s\n", c.name, failures == 0 ? "passed" : "FAILED");
            return failures == 0 ? 0 : 1;
        }
    }
    printf("usage: scm_tests --list | --cleanup | --survey | CASE\n");
    return 2;
}
