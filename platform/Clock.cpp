#include "platform/Clock.h"

#include <chrono>

double MonotonicSeconds() {
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double TimeOfDay() {
    return MonotonicSeconds() / 86400.0;
}
