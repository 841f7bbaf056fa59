#pragma once
// Who runs the program, for records that several workstations share: the machine's name and
// the user's account name.

#include <string>

// The name of this machine as its users know it (the host name; on Windows the computer name),
// or "?" when the system gives none.
std::string CurrentHostName();

// The account name of the user the program runs as, or "?" when the system gives none.
std::string CurrentUserName();
