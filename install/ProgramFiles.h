#pragma once
// Copies the suite's executables ("*.exe") and report templates ("Reports/*.fr3") of an unpacked
// package into the owner's program directory.

#include <string>

#include "install/Status.h"

// Returns the number of files found. A failed copy gets its error line in the journal and is
// reported to the owner as a failed item.
// Progress: `view.overall` counts the files, `view.file` names the one in hand.
int InstallProgramFiles(IOwner& owner, const std::string& workDir, const ProgressView& view);
