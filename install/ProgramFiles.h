#pragma once
// Copies the suite's executables ("*.exe") and report templates ("Reports/*.fr3") of an unpacked
// package into the owner's program directory.

#include <string>

#include "install/Status.h"

// Returns the number of files found.
int InstallProgramFiles(IOwner& owner, const std::string& workDir, IProgressBar* overallBar,
                        ILabel* fileLabel, ILabel* timeLabel);
