#pragma once
// The resident memory of this process as the system counts it: what the memory tests and the
// benchmarks measure a piece of work by.

#include <cstdint>

// The resident size now, and its high-water mark since the process began (or since the last
// ResetPeakResident), in bytes; -1 when the system does not tell.
int64_t ResidentBytes();
int64_t PeakResidentBytes();

// Sets the high-water mark to the present resident size, so that the peak from now on shows
// what the work that follows costs. False where the system cannot (Linux before 4.0, Windows).
bool ResetPeakResident();
