#pragma once
// The running processes of the machine.

#include <string>
#include <vector>

// Image names of the running processes (file names without directory). On Linux each process
// contributes its process name, the base name of its executable and of its first argument, since
// a Windows program under a compatibility layer shows its .exe name only in some of them.
// An unreadable process list gives an empty result.
std::vector<std::string> RunningImageNames();

// True when some running process has the image name `imageName`, compared whole and without
// regard to case.
bool IsProcessRunning(const std::string& imageName);

// True when two image names are the same, compared whole and without regard to case: ASCII
// letters on Linux, every letter on Windows (as Windows compares file names).
bool SameImageName(const std::string& a, const std::string& b);

// The system's id of the calling process.
int CurrentProcessId();
// True when a process with the system's id `processId` exists on this machine (one of another
// user's included); false for an id of no process, or one not above 0.
bool IsProcessIdRunning(int processId);
// This machine's name, as a database client names its host to the server (MON$REMOTE_HOST);
// empty when the system does not tell.
std::string LocalHostName();
