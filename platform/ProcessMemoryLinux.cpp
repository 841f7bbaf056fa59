#include "platform/ProcessMemory.h"

#include <cstdio>
#include <cstring>

namespace {

// A "kB" field of /proc/self/status ("VmRSS", "VmHWM") in bytes; -1 when it is not there.
int64_t StatusBytes(const char* field) {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (status == nullptr) {
        return -1;
    }
    const size_t length = std::strlen(field);
    int64_t bytes = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
        long long kilobytes = 0;
        if (std::strncmp(line, field, length) == 0 && line[length] == ':' &&
            std::sscanf(line + length + 1, "%lld", &kilobytes) == 1) {
            bytes = static_cast<int64_t>(kilobytes) * 1024;
            break;
        }
    }
    std::fclose(status);
    return bytes;
}

}  // namespace

int64_t ResidentBytes() {
    return StatusBytes("VmRSS");
}

int64_t PeakResidentBytes() {
    return StatusBytes("VmHWM");
}

bool ResetPeakResident() {
    // "5" resets the high-water mark of the resident size.
    std::FILE* clear = std::fopen("/proc/self/clear_refs", "we");
    if (clear == nullptr) {
        return false;
    }
    const bool written = std::fputs("5", clear) >= 0;
    return std::fclose(clear) == 0 && written;
}
