#include "platform/Clock.h"

#include <chrono>
#include <ctime>

double MonotonicSeconds() {
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double TimeOfDay() {
    return MonotonicSeconds() / 86400.0;
}

std::tm LocalTime(std::time_t when) {
    // The reentrant forms: std::localtime returns a buffer that any thread may overwrite.
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    return local;
}

std::string LocalDateTimeText() {
    const std::tm local = LocalTime(std::time(nullptr));
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
        return "0000-00-00 00:00:00";  // a time the calendar cannot show
    }
    return text;
}
