#include "install/Status.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/Clock.h"
#include "tests/install/RecordingOwner.h"

namespace {

constexpr double kSecond = 1.0 / 86400.0;

TEST(StatusTest, OperationsSkipMissingControls) {
    SetVisible(nullptr, true);
    SetCaption(nullptr, "x");
    StartPhase(nullptr, 4);
    StepBar(nullptr);
    ShowItem(nullptr, "a.exe", 1, 2);
    UpdateTimeEstimate(nullptr, TimeOfDay(), nullptr);

    // A bar without a label still takes no harm, and a label without a bar keeps its text.
    CRecordingBar bar;
    StartPhase(&bar, 2);
    StepBar(&bar);
    UpdateTimeEstimate(&bar, TimeOfDay(), nullptr);
    CRecordingLabel label;
    label.SetCaption("--:--");
    UpdateTimeEstimate(nullptr, TimeOfDay(), &label);
    EXPECT_EQ(label.Caption(), "--:--");
    EXPECT_EQ(bar.Position(), 1);
}

TEST(StatusTest, PhaseStartsAtZeroAndStepsStopAtTheMaximum) {
    CRecordingBar bar;
    bar.SetMaximum(10);
    bar.SetPosition(7);
    StartPhase(&bar, 2);
    EXPECT_EQ(bar.Maximum(), 2);
    EXPECT_EQ(bar.Position(), 0);

    StepBar(&bar);
    StepBar(&bar);
    EXPECT_EQ(bar.Position(), 2);
    StepBar(&bar);  // already at the maximum
    EXPECT_EQ(bar.Position(), 2);
    EXPECT_EQ(bar.Maximum(), 2);
}

TEST(StatusTest, ItemLabelAndVisibility) {
    CRecordingLabel label;
    ShowItem(&label, "tessara.exe", 3, 12);
    EXPECT_EQ(label.Caption(), "tessara.exe (3/12)");

    SetVisible(&label, true);
    SetVisible(&label, false);
    EXPECT_EQ(label.visibilityChanges, (std::vector<bool>{true, false}));
    SetCaption(&label, "--:--");
    EXPECT_EQ(label.Caption(), "--:--");
}

TEST(StatusTest, FormatRemainingShowsTimeOfDayOnly) {
    EXPECT_EQ(FormatRemaining(0), "00:00:00");
    EXPECT_EQ(FormatRemaining(90 * kSecond), "00:01:30");
    EXPECT_EQ(FormatRemaining(25 * 3600 * kSecond), "01:00:00");  // whole days dropped
    EXPECT_EQ(FormatRemaining(-90 * kSecond), "00:01:30");        // sign ignored
    EXPECT_EQ(FormatRemaining((23 * 3600 + 59 * 60 + 59) * kSecond), "23:59:59");
    // Rounded to whole milliseconds before the milliseconds are dropped.
    EXPECT_EQ(FormatRemaining(59.9996 * kSecond), "00:01:00");
    EXPECT_EQ(FormatRemaining(59.9994 * kSecond), "00:00:59");
    EXPECT_EQ(FormatRemaining(std::numeric_limits<double>::infinity()), "00:00:00");
    EXPECT_EQ(FormatRemaining(std::numeric_limits<double>::quiet_NaN()), "00:00:00");
    EXPECT_EQ(FormatRemaining(1e300).size(), 8u);  // no overflow on absurd values
}

TEST(StatusTest, EstimateExtrapolatesElapsedTimeOverTheRemainingUnits) {
    CRecordingBar bar;
    CRecordingLabel label;
    StartPhase(&bar, 4);

    // One unit of four done 30 s after the start: 30 * 4 / 1 - 30 = 90 s left.
    StepBar(&bar);
    UpdateTimeEstimate(&bar, TimeOfDay() - 30 * kSecond, &label);
    EXPECT_EQ(label.Caption(), "00:01:30");

    // Two of four after 30 s: 30 * 4 / 2 - 30 = 30 s left.
    StepBar(&bar);
    UpdateTimeEstimate(&bar, TimeOfDay() - 30 * kSecond, &label);
    EXPECT_EQ(label.Caption(), "00:00:30");

    // Estimates past a day show the hours of the day: 25 h left.
    CRecordingBar longBar;
    StartPhase(&longBar, 26);
    StepBar(&longBar);
    UpdateTimeEstimate(&longBar, TimeOfDay() - 3600 * kSecond, &label);
    EXPECT_EQ(label.Caption(), "01:00:00");

    // The last unit done: nothing left.
    StepBar(&bar);
    StepBar(&bar);
    UpdateTimeEstimate(&bar, TimeOfDay() - 3000 * kSecond, &label);
    EXPECT_EQ(label.Caption(), "00:00:00");
}

TEST(StatusTest, EstimateAtPositionZeroLeavesTheLabel) {
    CRecordingBar bar;
    CRecordingLabel label;
    label.SetCaption("--:--");
    StartPhase(&bar, 4);
    UpdateTimeEstimate(&bar, TimeOfDay() - 30 * kSecond, &label);
    EXPECT_EQ(label.Caption(), "--:--");
    EXPECT_EQ(label.captions.size(), 1u);
}

TEST(PumpThrottle, PumpsOnlyOnceTheIntervalHasPassed) {
    CRecordingOwner owner;
    CPumpThrottle patient(owner, 3600);
    for (int i = 0; i < 1000; ++i) {
        patient.Tick();
    }
    EXPECT_EQ(owner.pumps, 0);

    // With no interval every tick pumps.
    CPumpThrottle eager(owner, 0);
    for (int i = 0; i < 5; ++i) {
        eager.Tick();
    }
    EXPECT_EQ(owner.pumps, 5);
}

TEST(PumpThrottle, KeepsItsIntervalWhileTickedWithoutPause) {
    CRecordingOwner owner;
    const double start = MonotonicSeconds();
    CPumpThrottle throttle(owner);
    const double span = 0.3;
    while (MonotonicSeconds() - start < span) {
        throttle.Tick();
    }
    // Never sooner than the interval after the start or the pump before; the upper end of the
    // gaps depends on how busy the machine is, so only a pump at all is asked for.
    ASSERT_GE(owner.pumps, 2);
    // The last Tick may read the clock a moment after the loop's last look at it: one more.
    EXPECT_LE(owner.pumps, static_cast<int>(span / CPumpThrottle::kInterval + 0.5) + 1);
    // The owner notes a pump's start a moment after the throttle read the clock: 1 ms slack.
    double previous = start;
    for (const auto& [begin, end] : owner.pumpTimes) {
        EXPECT_GE(begin - previous, CPumpThrottle::kInterval - 0.001);
        previous = begin;
    }
}

TEST(PumpThrottle, PumpAsLongAsTheIntervalMakesTheNextTickPumpAgain) {
    // The interval runs from the start of a pump: a slow window is not left alone longer.
    CRecordingOwner owner;
    owner.pumpSeconds = 0.02;
    CPumpThrottle throttle(owner, 0.02);
    while (owner.pumps == 0) {
        throttle.Tick();
    }
    throttle.Tick();
    throttle.Tick();
    EXPECT_EQ(owner.pumps, 3);
}

}  // namespace
