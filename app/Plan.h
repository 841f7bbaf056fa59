#pragma once
// --plan: the look before an update. The checks of a run, then what the update would do: the
// packages in order with their scripts (statement counts), documents, blob files, program files
// and templates (which of the suite's files they replace), and the space the run needs against
// the space there is. It changes nothing but the run record: each package is written out and
// unpacked in a private directory of its own, removed afterwards.

#include <cstdint>
#include <iosfwd>
#include <string>

#include "app/StartupPaths.h"

// Runs --plan for the suite at `paths`; returns the exit status that an update would start with
// (0 when it would install, 2 or 3 as a run; 1 when the plan itself failed).
int RunPlan(const StartupPaths& paths, std::ostream& out, std::ostream& err);
