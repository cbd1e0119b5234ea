// What every unit test needs: a scratch directory to run the executable in,
// the stand-in reset, and the configuration and log files at hand.
#ifndef SVCLAUNCH_TEST_SUPPORT_H
#define SVCLAUNCH_TEST_SUPPORT_H

#include "stub_world.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

int svclaunchMain(int argc, char* argv[]);

// The executable as the tests place it: in the folder "box", whose files
// are named with backslashes just as the product names them.
extern const char* const exePath;
extern const char* const configFile;
extern const char* const logFile;

class SvclaunchTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Checks what the last run left behind, as the end of every test does;
    // a fixture adds its own checks.
    virtual void checkRun();
    // Checks the last run, then resets the stand-in for another run within
    // the same test, so that no run's faults are wiped unseen.
    void nextRun();

    // Runs the entry point with these arguments (argv[0] first) and checks
    // that it returned 0.
    void run(std::initializer_list<std::string> arguments);
    // Runs the executable from exePath with at most one verb.
    void runVerb(const std::string& verb = "");

    std::string scratch;
    std::string previousDirectory;
};

void writeFile(const std::string& name, const std::string& content);
std::string readFile(const std::string& name);
// A log file's content with its CR LF line ends as "\n"; a line end that is
// not CR LF fails the test.
std::string readLog(const std::string& name);
bool fileExists(const std::string& name);

// What the product did so far, as one line (see stub::timeline).
std::string timelineSeen();

// Writes the two-line configuration the usual way.
void writeConfig(const std::string& name, const std::string& target);

#endif
