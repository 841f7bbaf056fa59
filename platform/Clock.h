#pragma once
// Clocks: the one of the remaining-time estimates and the wall clock of the run record.

#include <string>

// Time as a fraction of a day. A monotonic clock is used, so a phase that crosses midnight still
// gives a sound estimate.
double TimeOfDay();

// The local date and time of the wall clock as "YYYY-MM-DD hh:mm:ss", for records a person reads.
std::string LocalDateTimeText();
