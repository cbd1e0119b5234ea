// Test target: appends one line per launch to received.txt beside itself,
// "<parameters>|<current directory>", so that a test can see what it was
// given and where it ran.
#include <windows.h>

#include <string.h>

int main(int argc, char* argv[])
{
    char line[2048] = "";
    for (int i = 1; i < argc; ++i) {
        if (strlen(line) + strlen(argv[i]) + 2 >= sizeof line) {
            return 1;
        }
        if (i > 1) {
            strcat(line, " ");
        }
        strcat(line, argv[i]);
    }
    char directory[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
    if (length == 0 || length >= sizeof directory || strlen(line) + length + 3 >= sizeof line) {
        return 1;
    }
    strcat(line, "|");
    strcat(line, directory);
    strcat(line, "\r\n");

    char path[MAX_PATH];
    length = GetModuleFileNameA(NULL, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return 1;
    }
    char* slash = strrchr(path, '\\');
    if (slash == NULL || static_cast<size_t>(slash - path) + sizeof "\\received.txt" > sizeof path) {
        return 1;
    }
    strcpy(slash, "\\received.txt");

    // Appending through FILE_APPEND_DATA keeps concurrent launches' lines whole.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, NULL);
    CloseHandle(file);
    return ok ? 0 : 1;
}
