// The outcome of the checks and the run as console mode reports it: the exit status that
// scripts branch on and the one-line reason on standard error.

#include <gtest/gtest.h>

#include "app/FailedItems.h"
#include "app/Outcome.h"

namespace {

const PreflightOutcome kRefusals[] = {
    PreflightOutcome::NotRun,          PreflightOutcome::Locked,
    PreflightOutcome::SuiteRunning,    PreflightOutcome::Failed,
    PreflightOutcome::DatabaseTooOld,  PreflightOutcome::UnfinishedElsewhere,
    PreflightOutcome::UpdaterAttached,
};
const RunOutcome kRuns[] = {
    RunOutcome::NotRun, RunOutcome::NotStarted, RunOutcome::Succeeded,
    RunOutcome::Failed, RunOutcome::Aborted,    RunOutcome::Interrupted,
};

}  // namespace

TEST(OutcomeTest, ExitStatusOfChecksThatAdmitNothingIgnoresTheRun) {
    for (const PreflightOutcome preflight : kRefusals) {
        for (const RunOutcome run : kRuns) {
            EXPECT_EQ(ExitStatus(preflight, run, 3), 2) << static_cast<int>(preflight);
        }
    }
    for (const RunOutcome run : kRuns) {
        EXPECT_EQ(ExitStatus(PreflightOutcome::NothingToInstall, run, 0), 3);
        EXPECT_EQ(ExitStatus(PreflightOutcome::Interrupted, run, 0), 5);
    }
}

TEST(OutcomeTest, ExitStatusOfAnAdmittedRun) {
    const PreflightOutcome admitted = PreflightOutcome::Admitted;
    EXPECT_EQ(ExitStatus(admitted, RunOutcome::NotRun, 0), 2);  // the window closed unpressed
    EXPECT_EQ(ExitStatus(admitted, RunOutcome::NotStarted, 0), 2);
    EXPECT_EQ(ExitStatus(admitted, RunOutcome::Succeeded, 0), 0);
    EXPECT_EQ(ExitStatus(admitted, RunOutcome::Succeeded, 1), 4);
    EXPECT_EQ(ExitStatus(admitted, RunOutcome::Failed, 0), 1);
    EXPECT_EQ(ExitStatus(admitted, RunOutcome::Aborted, 2), 1);
    EXPECT_EQ(ExitStatus(admitted, RunOutcome::Interrupted, 2), 5);
}

TEST(OutcomeTest, ExitReasonSaysWhatTheJournalOrTheBoxSaid) {
    CFailedItems none;
    UpdateOutcome outcome;
    outcome.preflight = PreflightOutcome::Locked;
    // A database error's box spans lines; standard error gets one.
    EXPECT_EQ(ExitReason(outcome, none, "last line", "first\r\nsecond\nthird"),
              "first second third");
    outcome.preflight = PreflightOutcome::Interrupted;
    EXPECT_EQ(ExitReason(outcome, none, "last line", "box"), "last line");

    outcome.preflight = PreflightOutcome::Admitted;
    outcome.run = RunOutcome::Failed;
    outcome.failureCode = -2;
    EXPECT_EQ(ExitReason(outcome, none, "", ""), "Помилка при оновлені: -2");
    outcome.failureReason = "error: після пакета 238 версія бази даних 237";
    EXPECT_EQ(ExitReason(outcome, none, "", ""),
              "error: після пакета 238 версія бази даних 237; Помилка при оновлені: -2");
    EXPECT_EQ(OutcomeText(outcome, 0), "failed with code -2");

    outcome.run = RunOutcome::Succeeded;
    EXPECT_EQ(ExitReason(outcome, none, "Оновлення завершене успішно", ""), "");
    CFailedItems copies;
    copies.AddCopy("/suite/a.exe", "error (13) Permission denied");
    copies.AddCopy("/suite/b.fr3", "error (20) Not a directory");
    EXPECT_EQ(ExitReason(outcome, copies, "Оновлення завершене успішно", ""),
              "Не скопійовано файлів: 2 (оновлення завершене)");
    EXPECT_EQ(OutcomeText(outcome, copies.Count()), "succeeded with failed items");
}
