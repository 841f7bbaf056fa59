#pragma once
// The programs that hold a file open, for the message of a file that cannot be replaced. For the
// Win32 sources only.

#include <string>
#include <vector>

#include "platform/FileSystem.h"

// The programs that hold `path` open, as the Restart Manager names them. Nothing when it cannot
// tell: rstrtmgr.dll is missing (it came with Vista), the file is held on another machine (over
// the network only the server knows), or the system refuses.
std::vector<FileHolder> HoldersOf(const std::string& path);
