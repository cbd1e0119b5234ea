// The association that LocalSystem's shell follows to open a document. The
// installing account's own classes are not read: the service does not run
// as that account, and its shell never sees them.
#include "opener.h"
#include "svclaunch.h"
#include "text.h"

#include <string.h>

// SYSTEM's classes, under HKEY_USERS; NT 4.0 keeps LocalSystem's profile
// under .DEFAULT only. Then the machine's, under HKEY_LOCAL_MACHINE.
const char systemClasses[] = "S-1-5-18\\Software\\Classes";
const char defaultClasses[] = ".DEFAULT\\Software\\Classes";
const char* const machineClasses = systemClasses + 9; // "Software\\Classes"
// The program that SYSTEM itself chose for a kind, under HKEY_USERS.
const char systemChoices[] = "S-1-5-18\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";

// Reads the text value name (NULL: the key's default) of the key
// first\second followed by third, under root, into out (size bytes): a
// REG_SZ as stored, a REG_EXPAND_SZ expanded. A missing key or value, or one
// that is empty or not text, is ERROR_FILE_NOT_FOUND; one that does not fit
// is refused. Keys are opened for reading only, in this executable's own
// registry view, which the service reads too.
static LONG readText(HKEY root, const char* first, const char* second, const char* third, const char* name, char* out,
                     DWORD size)
{
    char path[configValueSize];
    char raw[configValueSize];
    if (!joinText(path, sizeof path, first, "\\", second) || !appendText(path, sizeof path, third)) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    HKEY key = NULL;
    LONG error = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    DWORD type = REG_NONE;
    DWORD length = sizeof raw - 1; // room for the terminator that Windows may leave out
    error = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE*>(raw), &length);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS) {
        return error;
    }
    raw[length] = '\0';
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || raw[0] == '\0') {
        return ERROR_FILE_NOT_FOUND;
    }
    if (type == REG_SZ) {
        return joinText(out, size, raw) ? ERROR_SUCCESS : ERROR_MORE_DATA;
    }
    // The ANSI call may need one byte beyond what it counts.
    DWORD stored = ExpandEnvironmentStringsA(raw, out, size - 1);
    if (stored == 0) {
        return static_cast<LONG>(GetLastError());
    }
    return stored <= size - 1 ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

// Reads a value from SYSTEM's classes (userClasses), or where they lack it
// from the machine's.
static LONG readClassText(const char* userClasses, const char* key, const char* tail, char* out, DWORD size)
{
    LONG error = readText(HKEY_USERS, userClasses, key, tail, NULL, out, size);
    return error == ERROR_FILE_NOT_FOUND ? readText(HKEY_LOCAL_MACHINE, machineClasses, key, tail, NULL, out, size)
                                         : error;
}

DWORD findDocumentOpener(const char* document, char* program, size_t size)
{
    const char* extension = extensionOf(document);
    if (extension == NULL) {
        return ERROR_NO_ASSOCIATION;
    }
    HKEY key = NULL;
    LONG error = RegOpenKeyExA(HKEY_USERS, systemClasses, 0, KEY_QUERY_VALUE, &key);
    if (error == ERROR_SUCCESS) {
        RegCloseKey(key);
    } else if (error != ERROR_FILE_NOT_FOUND) {
        return static_cast<DWORD>(error);
    }
    const char* userClasses = error == ERROR_SUCCESS ? systemClasses : defaultClasses;

    char className[configValueSize];
    char command[configValueSize];
    error = readText(HKEY_USERS, systemChoices, extension, "\\UserChoice", "ProgId", className, sizeof className);
    if (error == ERROR_FILE_NOT_FOUND) {
        error = readClassText(userClasses, extension, "", className, sizeof className);
    }
    if (error == ERROR_SUCCESS) {
        error = readClassText(userClasses, className, "\\shell\\open\\command", command, sizeof command);
    }
    if (error != ERROR_SUCCESS) {
        return error == ERROR_FILE_NOT_FOUND ? ERROR_NO_ASSOCIATION : static_cast<DWORD>(error);
    }
    // The program is the command's first token: what is in quotes, or what
    // comes before the first blank.
    char* token = command + (command[0] == '"' ? 1 : 0);
    token[strcspn(token, command[0] == '"' ? "\"" : " \t")] = '\0';
    if (!joinText(program, size, token)) {
        return ERROR_MORE_DATA;
    }
    // "%1" or "%L": the document itself, judged already as the target.
    if (equalsIgnoringAsciiCase(program, "%1") || equalsIgnoringAsciiCase(program, "%l")) {
        program[0] = '\0';
        return NO_ERROR;
    }
    bool fullPath =
        ((program[0] | 0x20) >= 'a' && (program[0] | 0x20) <= 'z') && program[1] == ':' && program[2] == '\\';
    return fullPath ? NO_ERROR : ERROR_BAD_PATHNAME;
}
