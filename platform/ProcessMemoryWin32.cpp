#include "platform/ProcessMemory.h"

#include <windows.h>
// windows.h first: psapi.h needs its types.
#include <psapi.h>

namespace {

bool Counters(PROCESS_MEMORY_COUNTERS& counters) {
    return K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) != FALSE;
}

}  // namespace

int64_t ResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    return Counters(counters) ? static_cast<int64_t>(counters.WorkingSetSize) : -1;
}

int64_t PeakResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    return Counters(counters) ? static_cast<int64_t>(counters.PeakWorkingSetSize) : -1;
}

bool ResetPeakResident() {
    return false;  // Windows keeps the peak working set for the life of the process
}
