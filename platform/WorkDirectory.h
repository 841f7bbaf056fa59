#pragma once
// The work directory lives under a temporary directory that other users can write to, so the
// run checks what stands at its name before it uses it.

#include <string>

enum class WorkDirectoryState {
    Missing,  // nothing there yet
    Owned,    // an entry of the current user that is not a link
    Unsafe,   // a link, or an entry of another user: not to be touched
};

// Looks at the entry itself, never through a link.
WorkDirectoryState InspectWorkDirectory(const std::string& path);

// Makes an existing directory of ours readable and writable by its owner only; the result is
// ignored like every other result of preparing the directory.
void RestrictToOwner(const std::string& path);
