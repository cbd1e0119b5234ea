// The command line as a user types it.
#include "folder.h"
#include "harness.h"

// Without a verb it is service mode, and from a prompt the SCM's
// dispatcher refuses the connection at once: nothing runs, nothing is
// logged.
SCM_CASE(FromAPromptTheDispatcherRefusesAtOnce)
{
    Folder f = layOut(__func__);
    writeConfig(f, f.name + "\ntarget.exe\n");
    runSvclaunch(f, "");
    runSvclaunch(f, "installx");
    runSvclaunch(f, "x install");
    runSvclaunch(f, "start");
    checkNoTrace(f);
}
