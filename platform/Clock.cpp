#include "platform/Clock.h"

#include <chrono>

double TimeOfDay() {
    using Seconds = std::chrono::duration<double>;
    const double seconds =
        std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    return seconds / 86400.0;
}
