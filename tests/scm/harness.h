// A minimal case runner for the suite that drives a real SCM: cases are
// registered by name, run one per process ("scm_tests.exe NAME"), and report
// every failed check on standard output.
#ifndef SVCLAUNCH_SCM_HARNESS_H
#define SVCLAUNCH_SCM_HARNESS_H

#include <string>

typedef void (*CaseFunction)();

struct CaseRegistration {
    CaseRegistration(const char* name, CaseFunction function);
};

#define SCM_CASE(name)                                                                                                 \
    static void name();                                                                                                \
    static CaseRegistration name##Registration(#name, name);                                                           \
    static void name()

// Records a failure with where it happened; the case goes on.
void recordFailure(const char* file, int line, const std::string& message);
bool caseFailed();

// Shows control characters, so that a CR LF difference can be seen.
std::string visible(const std::string& text);

#define CHECK(condition)                                                                                               \
    ((condition) ? true : (recordFailure(__FILE__, __LINE__, "CHECK(" #condition ") failed"), false))

#define CHECK_EQ(actual, expected) checkEqual(__FILE__, __LINE__, #actual, (actual), (expected))

// Ends the case when condition does not hold: what follows depends on it.
#define REQUIRE(condition)                                                                                             \
    do {                                                                                                               \
        if (!CHECK(condition)) {                                                                                       \
            return;                                                                                                    \
        }                                                                                                              \
    } while (0)

bool checkEqual(const char* file, int line, const char* what, const std::string& actual, const std::string& expected);
bool checkEqual(const char* file, int line, const char* what, unsigned long actual, unsigned long expected);

// Clean-up that runs after the case, failed or not.
void atCaseEnd(void (*cleanup)());

// Marks the case as one that cannot run on this system, with the reason;
// the case should return right after. Its exit code is then 77.
void skipCase(const std::string& reason);

#endif
