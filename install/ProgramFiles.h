#pragma once
// Copies the suite's executables ("*.exe") and report templates ("Reports/*.fr3") of an unpacked
// package into the owner's program directory.

#include <string>

#include "install/Status.h"

// The archiver in the program directory that unpacks the run's packages ("rar.exe"), and whether
// a later package of the run still needs it. A package never replaces the archiver that a later
// package still needs: its own archiver waits beside it (PendingArchiverPath) and is put in place
// with the run's last package, or at the next start when the run ended before that.
struct ArchiverUse {
    std::string path;  // empty: no program file is treated as the archiver
    bool neededLater = false;
};

// Where a package's archiver waits while the old one is still needed.
std::string PendingArchiverPath(const std::string& archiverPath);

// Returns the number of files found. A failed copy gets its error line in the journal and is
// reported to the owner as a failed item. Progress: `view.overall` counts the files, `view.file`
// names the one in hand. A file in use (on Windows a running program, the updater itself
// included, or a loaded library) is moved aside and replaced, and the journal says so; one that
// another program holds open is waited for (kHeldFileWaitSeconds), then fails naming that program
// when the system can tell.
int InstallProgramFiles(IOwner& owner, const std::string& workDir, const ProgressView& view,
                        const ArchiverUse& archiver = {});

// At the start of a run, before any package is unpacked: puts a package's archiver that waited
// beside the old one in place, and removes the files that earlier runs moved aside in the program
// directory and its "Reports" (or puts one back whose name is empty). Each with a journal line.
void CleanUpReplacedFiles(IOwner& owner, const std::string& archiverPath);
