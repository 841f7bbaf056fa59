#include "app/Outcome.h"

#include "app/CommandLine.h"
#include "app/ErrorText.h"
#include "platform/Interrupt.h"

void UpdateOutcome::BeginRun() {
    failureCode = 0;
    failureReason.clear();
    installedPackages.clear();
}

int ExitStatus(PreflightOutcome preflight, RunOutcome run, int failedItems) {
    switch (preflight) {
        case PreflightOutcome::NothingToInstall:
            return kExitNothingToInstall;
        case PreflightOutcome::Interrupted:
            return kExitInterrupted;
        case PreflightOutcome::Admitted:
            break;
        default:
            return kExitNotStarted;
    }
    switch (run) {
        case RunOutcome::NotRun:
        case RunOutcome::NotStarted:
            return kExitNotStarted;
        case RunOutcome::Interrupted:
            return kExitInterrupted;
        case RunOutcome::Succeeded:
            return failedItems > 0 ? kExitItemsFailed : kExitUpdated;
        case RunOutcome::Failed:
        case RunOutcome::Aborted:
            break;
    }
    return kExitRunFailed;
}

std::string ExitReason(const UpdateOutcome& outcome, const CFailedItems& failed,
                       const std::string& lastLine, const std::string& lastMessage) {
    switch (outcome.preflight) {
        case PreflightOutcome::NotRun:
            return "перевірки не виконано";
        case PreflightOutcome::DatabaseTooOld:
            return "Версія БД меньше номеру пакета оновлень: оновлення не можливо";
        case PreflightOutcome::NothingToInstall:
            return "Версія БД більша за номер пакета оновлень: встановлювати нічого";
        case PreflightOutcome::Locked:
        case PreflightOutcome::SuiteRunning:
        case PreflightOutcome::UpdaterAttached:
        case PreflightOutcome::Failed:
        case PreflightOutcome::UnfinishedElsewhere:
            return OneLine(lastMessage);
        case PreflightOutcome::Interrupted:
            return lastLine;
        case PreflightOutcome::Admitted:
            break;
    }
    switch (outcome.run) {
        case RunOutcome::NotRun:
            return "оновлення не запущено";
        case RunOutcome::NotStarted:
        case RunOutcome::Aborted:
            return OneLine(lastMessage);
        case RunOutcome::Succeeded:
            return failed.Count() > 0
                       ? FailedItemsText(failed.Logs(), failed.Copies()) + " (оновлення завершене)"
                       : std::string();
        case RunOutcome::Failed:
            return (outcome.failureReason.empty() ? std::string() : outcome.failureReason + "; ") +
                   "Помилка при оновлені: " + std::to_string(outcome.failureCode);
        case RunOutcome::Interrupted:
            return lastLine;
    }
    return {};
}

std::string OutcomeText(const UpdateOutcome& outcome, int failedItems) {
    switch (outcome.preflight) {
        case PreflightOutcome::NotRun:
            return "not checked";
        case PreflightOutcome::Locked:
            return "refused: another updater is running";
        case PreflightOutcome::SuiteRunning:
            return "refused: the suite is running";
        case PreflightOutcome::UpdaterAttached:
            return "refused: another updater's connection is open on the server";
        case PreflightOutcome::Failed:
            return "refused: the checks failed";
        case PreflightOutcome::DatabaseTooOld:
            return "refused: the database is older than the packages allow";
        case PreflightOutcome::NothingToInstall:
            return "nothing to install";
        case PreflightOutcome::UnfinishedElsewhere:
            return "refused: an interrupted package this updater cannot continue";
        case PreflightOutcome::Interrupted:
            return "interrupted by " + InterruptName() + " during the checks";
        case PreflightOutcome::Admitted:
            break;
    }
    switch (outcome.run) {
        case RunOutcome::NotRun:
            return "admitted, not run";
        case RunOutcome::NotStarted:
            return "not started";
        case RunOutcome::Succeeded:
            return failedItems > 0 ? "succeeded with failed items" : "succeeded";
        case RunOutcome::Failed:
            return "failed with code " + std::to_string(outcome.failureCode);
        case RunOutcome::Aborted:
            return "ended by an error";
        case RunOutcome::Interrupted:
            return "interrupted by " + InterruptName();
    }
    return {};
}
