#pragma once
// Clocks: the one monotonic clock of the updater's intervals and estimates (a phase that
// crosses midnight or a change of the system time still gives sound figures), and the wall
// clock of the run record.

#include <ctime>
#include <string>

// Seconds since an arbitrary fixed point.
double MonotonicSeconds();

// The same clock as a fraction of a day, the unit of the remaining-time estimates.
double TimeOfDay();

// The local date and time of the wall clock as "YYYY-MM-DD hh:mm:ss", for records a person reads.
std::string LocalDateTimeText();

// `when` as the local calendar date and time (the zone and summer time of the machine).
std::tm LocalTime(std::time_t when);
