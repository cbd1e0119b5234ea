// The activity log: service.log beside the executable, one line per event.
#include "svclaunch.h"

#include <stdio.h>

// Appends message as one line. The file is opened for each entry and closed
// again, so nothing holds it between entries and other processes may append
// too; a log that cannot be opened loses the entry without a word.
void writeLog(const char* message)
{
    FILE* log = fopen(logPath, "a");
    if (log == NULL) {
        return;
    }
    // The message is written as it is, never used as a format; both parts
    // go out together when the file is closed.
    fputs(message, log);
    fputc('\n', log);
    fclose(log);
}
