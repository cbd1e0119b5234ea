#include "support.h"

#include <fstream>
#include <sstream>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const exePath = "box\\svclaunch.exe";
const char* const configFile = "box\\service.cnf";
const char* const logFile = "box\\service.log";

void SvclaunchTest::SetUp()
{
    char buffer[4096];
    ASSERT_NE(getcwd(buffer, sizeof buffer), nullptr);
    previousDirectory = buffer;
    char pattern[] = "/tmp/svclaunch-unit-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    scratch = pattern;
    ASSERT_EQ(chdir(scratch.c_str()), 0);
    stub::reset();
}

void SvclaunchTest::checkRun()
{
    stub::joinServiceThread();
    EXPECT_EQ(stub::faultsOfTheRun(), "") << timelineSeen();
}

std::string timelineSeen()
{
    std::string seen;
    for (const std::string& entry : stub::timeline()) {
        seen += (seen.empty() ? "" : ", ") + entry;
    }
    return "[" + seen + "]";
}

void SvclaunchTest::nextRun()
{
    checkRun();
    stub::reset();
}

void SvclaunchTest::TearDown()
{
    checkRun();
    stub::reset();
    ASSERT_EQ(chdir(previousDirectory.c_str()), 0);
    std::string command = "rm -rf '" + scratch + "'";
    ASSERT_EQ(system(command.c_str()), 0);
}

void SvclaunchTest::run(std::initializer_list<std::string> arguments)
{
    std::vector<std::string> copies(arguments);
    std::vector<char*> argv;
    for (std::string& argument : copies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    EXPECT_EQ(svclaunchMain(static_cast<int>(copies.size()), argv.data()), 0);
}

void SvclaunchTest::runVerb(const std::string& verb)
{
    if (verb.empty()) {
        run({exePath});
    } else {
        run({exePath, verb});
    }
}

void writeFile(const std::string& name, const std::string& content)
{
    std::ofstream file(name, std::ios::binary);
    file << content;
    ASSERT_TRUE(file.good()) << name;
}

std::string readFile(const std::string& name)
{
    std::ifstream file(name, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string readLog(const std::string& name)
{
    std::string raw = readFile(name);
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
            continue;
        }
        if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r')) {
            ADD_FAILURE() << name << ": a line end without CR at byte " << i;
        }
        text += raw[i];
    }
    return text;
}

bool fileExists(const std::string& name)
{
    struct stat info;
    return stat(name.c_str(), &info) == 0;
}

void writeConfig(const std::string& name, const std::string& target)
{
    writeFile(configFile, name + "\n" + target + "\n");
}
