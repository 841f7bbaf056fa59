#pragma once
// What the Win32 halves share about links, which Wine shows in ways of its own: a Unix link to a
// file looks like the file itself, one that points nowhere like no file at all. For the Win32
// sources only; windows.h stays out of this header (a HANDLE is a void*, a DWORD an unsigned
// long).

#include <functional>
#include <string>

// The name the open `handle` ended at lies elsewhere than `path` (another directory or another
// name): a link on the way to it. False when the system cannot tell.
bool LandedElsewhere(void* handle, const std::string& path);

// Opens a file by `open(disposition)`, creating it only as a new name: OPEN_ALWAYS would create
// the file that a link pointing nowhere names, CREATE_NEW never follows one. The handle, or
// INVALID_HANDLE_VALUE with the last error set (ERROR_CANT_ACCESS_FILE for such a link).
void* OpenOrCreateNew(const std::function<void*(unsigned long disposition)>& open);
