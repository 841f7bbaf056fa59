#pragma once
// The one clock of the updater, a monotonic one: a phase that crosses midnight or a change of
// the system time still gives sound estimates and intervals.

// Seconds since an arbitrary fixed point.
double MonotonicSeconds();

// The same clock as a fraction of a day, the unit of the remaining-time estimates.
double TimeOfDay();
