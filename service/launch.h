// The launch of the target program, for the service mode.
#ifndef SVCLAUNCH_LAUNCH_H
#define SVCLAUNCH_LAUNCH_H

// Starts the target program through the shell with one parameter, its
// window hidden, without waiting for it and without any window or prompt;
// what becomes of it is its own matter. Loads shell32 at the first launch.
void launchTarget(const char* parameter);

// Lets the next launch load the shell anew. A process runs its mode once;
// the host tests run many in one process, and call this between them.
void forgetShellForAnotherRun();

#endif
