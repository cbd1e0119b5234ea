// Entry point: finds the executable's directory, reads service.cnf beside it
// and runs the one mode that the verb selects.
#include "spelling.h"
#include "svclaunch.h"
#include "text.h"

#include <stdio.h>

// The files beside svclaunch.exe, each behind the backslash that joins it to
// the folder.
static const char configFileName[] = "\\service.cnf";
static const char logFileName[] = "\\service.log";

char serviceName[configValueSize];
char programPath[configValueSize];
char logPath[configValueSize];

// Longest value a configuration line may hold, line end not counted.
const int configLineMax = 510;

// Skips the byte-order mark that Notepad writes before the first line of a
// file saved as UTF-8: it is no part of the service name.
static void skipByteOrderMark(FILE* file)
{
    int first = getc(file);
    int second = getc(file);
    int third = getc(file);
    if (first != 0xEF || second != 0xBB || third != 0xBF) {
        rewind(file);
    }
}

// Reads one line of the configuration into value, without its line end.
// A missing, empty or over-long line, or one holding a NUL byte, is refused
// rather than taken in part, so a damaged file can never turn the tail of
// one line into the next value.
static bool readConfigLine(FILE* file, char* value)
{
    int length = 0;
    for (;;) {
        int c = getc(file);
        if (c == EOF || c == '\n') {
            break;
        }
        if (c == '\0' || length == configLineMax) {
            return false;
        }
        value[length++] = static_cast<char>(c);
    }
    value[length] = '\0';
    return length > 0;
}

// Fills serviceName, programPath and logPath from service.cnf in directory.
// Returns false, leaving the configuration unusable, when the file or one of
// its two lines is missing or unusable, or when a path would not fit.
static bool readConfiguration(const char* directory)
{
    char configPath[configValueSize];
    if (!joinText(configPath, sizeof configPath, directory, configFileName)) {
        return false;
    }
    FILE* file = fopen(configPath, "rt");
    if (file == NULL) {
        return false;
    }
    skipByteOrderMark(file);
    char name[configLineMax + 1];
    char target[configLineMax + 1];
    bool complete = readConfigLine(file, name) && readConfigLine(file, target);
    (void)fclose(file); // only read: a failure to close loses nothing
    return complete && joinText(serviceName, sizeof serviceName, name) &&
           joinText(programPath, sizeof programPath, directory, "\\", target) &&
           joinText(logPath, sizeof logPath, directory, logFileName);
}

// Start-up for every invocation, whether by the SCM or by a user. Without a
// usable configuration, or from a folder whose name the ANSI code page
// cannot spell, no mode runs. Nothing is printed, and the exit code is 0 on
// every path.
int main(int argc, char* argv[])
{
    char directory[configValueSize];
    if (argc < 1 || argv[0] == NULL || !joinText(directory, sizeof directory, argv[0]) || !ownPathIsExact()) {
        return 0;
    }
    cutToDirectory(directory);
    if (!readConfiguration(directory)) {
        return 0;
    }
    if (argc > 1 && equalsIgnoringAsciiCase(argv[1], "install")) {
        installService();
    } else if (argc > 1 && equalsIgnoringAsciiCase(argv[1], "remove")) {
        removeService();
    } else {
        runDispatcher();
    }
    return 0;
}
