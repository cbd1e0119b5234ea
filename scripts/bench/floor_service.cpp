// The floors svclaunch is measured against: a service that only reports
// START_PENDING, RUNNING, STOP_PENDING and STOPPED ("noop_service.exe"),
// and, built with LAUNCH_FLOOR, the same that also starts a program with
// CreateProcess, without waiting, after RUNNING and on stop
// ("launch_service.exe"). The program is argv[1] of the registered command.
#include <windows.h>

#include <string.h>

static SERVICE_STATUS_HANDLE statusHandle;
static SERVICE_STATUS status;
static HANDLE stopEvent;
static char target[MAX_PATH + 16];

static void report(DWORD state, DWORD controls)
{
    status.dwCurrentState = state;
    status.dwControlsAccepted = controls;
    SetServiceStatus(statusHandle, &status);
}

static void launch(const char* parameter)
{
#ifdef LAUNCH_FLOOR
    char line[MAX_PATH + 32];
    if (strlen(target) + strlen(parameter) + 4 >= sizeof line) {
        return;
    }
    strcpy(line, "\"");
    strcat(line, target);
    strcat(line, "\" ");
    strcat(line, parameter);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    if (CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
#else
    (void)parameter;
#endif
}

static VOID WINAPI handler(DWORD control)
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING, SERVICE_ACCEPT_STOP);
        SetEvent(stopEvent);
    }
}

static VOID WINAPI serviceMain(DWORD, LPSTR*)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    statusHandle = RegisterServiceCtrlHandlerA("", handler);
    if (statusHandle == NULL) {
        return;
    }
    report(SERVICE_START_PENDING, 0);
    stopEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
    launch("start");
    WaitForSingleObject(stopEvent, INFINITE);
    launch("close");
    CloseHandle(stopEvent);
    report(SERVICE_STOPPED, 0);
}

int main(int argc, char* argv[])
{
    if (argc > 1 && strlen(argv[1]) < MAX_PATH) {
        strcpy(target, argv[1]);
    }
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(""), serviceMain}, {NULL, NULL}};
    StartServiceCtrlDispatcherA(table);
    return 0;
}
