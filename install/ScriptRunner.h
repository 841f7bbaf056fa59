#pragma once
// SQL script files (".lsql"): read as lines, split into statements (install/StatementSplitter.h),
// each statement executed and committed by itself, failures logged.

#include <string>
#include <vector>

#include "install/Status.h"

// The lines of a script: 8-bit bytes as they are, lines ending at CR LF, LF or CR, text ending
// at a NUL byte. Throws CSystemError when the file cannot be read.
std::vector<std::string> ReadScriptLines(const std::string& path);

// Runs one script against the session GlobDB(). `startTime` is the TimeOfDay() at which the
// script phase of the package began. `fileLabel` is not used. Always returns 0.
int RunScript(IOwner& owner, const std::string& scriptPath, IProgressBar* overallBar,
              IProgressBar* scriptBar, ILabel* fileLabel, double startTime, ILabel* timeLabel);
