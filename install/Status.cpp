#include "install/Status.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/Clock.h"

CPlainProgressBar::CPlainProgressBar(int maximum) : m_maximum(std::max(0, maximum)) {}

void CPlainProgressBar::SetMaximum(int maximum) {
    m_maximum = std::max(0, maximum);
    m_position = std::min(m_position, m_maximum);
}

void CPlainProgressBar::SetPosition(int position) {
    m_position = std::clamp(position, 0, m_maximum);
}

CPumpThrottle::CPumpThrottle(IOwner& owner, double intervalSeconds)
    : m_owner(owner), m_interval(intervalSeconds), m_last(MonotonicSeconds()) {}

void CPumpThrottle::Tick() {
    if (Due()) {
        Pump();
    }
}

bool CPumpThrottle::Due() const {
    return MonotonicSeconds() - m_last >= m_interval;
}

void CPumpThrottle::Pump() {
    m_last = MonotonicSeconds();
    m_owner.PumpMessages();
}

void SetVisible(IControl* control, bool visible) {
    if (control) {
        control->SetVisible(visible);
    }
}

void SetCaption(ILabel* label, const std::string& caption) {
    if (label) {
        label->SetCaption(caption);
    }
}

void StartPhase(IProgressBar* bar, int units) {
    if (!bar) {
        return;
    }
    // Maximum first: a position of 0 is then valid for any unit count.
    bar->SetMaximum(units);
    bar->SetPosition(0);
}

void StepBar(IProgressBar* bar) {
    if (bar && bar->Position() < bar->Maximum()) {
        bar->SetPosition(bar->Position() + 1);
    }
}

void ShowItem(ILabel* label, const std::string& fileName, int index, int count) {
    SetCaption(label, fileName + " (" + std::to_string(index) + "/" + std::to_string(count) + ")");
}

void UpdateTimeEstimate(IProgressBar* bar, double startTime, ILabel* timeLabel) {
    if (!bar || bar->Position() <= 0) {
        return;  // nothing done yet: no rate to extrapolate from
    }
    const double elapsed = TimeOfDay() - startTime;
    const double total = elapsed * bar->Maximum() / bar->Position();
    SetCaption(timeLabel, FormatRemaining(total - elapsed));
}

std::string FormatRemaining(double days) {
    constexpr double kMsPerDay = 86400000.0;
    // Round to whole milliseconds first, so 59.9996 s reads as a full minute.
    double ms = std::round(days * kMsPerDay);
    if (!std::isfinite(ms)) {
        ms = 0;
    }
    const long long timeOfDay = static_cast<long long>(std::fabs(std::fmod(ms, kMsPerDay)));
    const long long seconds = timeOfDay / 1000;
    char text[40];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}
