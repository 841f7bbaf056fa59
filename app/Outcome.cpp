#include "app/Outcome.h"

#include "app/CommandLine.h"
#include "app/ErrorText.h"
#include "platform/Interrupt.h"

void UpdateOutcome::BeginRun() {
    failureCode = 0;
    failureReason.clear();
    installedPackages.clear();
}

namespace {

// Where an ending's one-line reason on standard error comes from.
enum class ReasonFrom {
    Nothing,      // status 0
    Text,         // the ending's own words
    LastMessage,  // the box that said why
    LastLine,     // the journal's last line
    FailedItems,  // the count of failed items and their logs
    FailureCode,  // "Помилка при оновлені: " + code, after the journal's words for it
};

// What one ending means: the exit status, the reason, the run record's words. "%s" in the record
// stands for the request that interrupted the program.
struct Ending {
    int status;
    ReasonFrom reasonFrom;
    const char* reason;  // for ReasonFrom::Text
    const char* record;
};

Ending PreflightEnding(PreflightOutcome outcome) {
    using R = ReasonFrom;
    switch (outcome) {  // every outcome but Admitted, which goes on to the run's ending
        case PreflightOutcome::NotRun:
            return {kExitNotStarted, R::Text, "перевірки не виконано", "not checked"};
        case PreflightOutcome::Locked:
            return {kExitNotStarted, R::LastMessage, "", "refused: another updater is running"};
        case PreflightOutcome::SuiteRunning:
            return {kExitNotStarted, R::LastMessage, "", "refused: the suite is running"};
        case PreflightOutcome::UpdaterAttached:
            return {kExitNotStarted, R::LastMessage, "",
                    "refused: another updater's connection is open on the server"};
        case PreflightOutcome::Failed:
            return {kExitNotStarted, R::LastMessage, "", "refused: the checks failed"};
        case PreflightOutcome::DatabaseTooOld:
            return {kExitNotStarted, R::Text,
                    "Версія БД меньше номеру пакета оновлень: оновлення не можливо",
                    "refused: the database is older than the packages allow"};
        case PreflightOutcome::NothingToInstall:
            return {kExitNothingToInstall, R::Text,
                    "Версія БД більша за номер пакета оновлень: встановлювати нічого",
                    "nothing to install"};
        case PreflightOutcome::UnfinishedElsewhere:
            return {kExitNotStarted, R::LastMessage, "",
                    "refused: an interrupted package this updater cannot continue"};
        case PreflightOutcome::Interrupted:
            return {kExitInterrupted, R::LastLine, "", "interrupted by %s during the checks"};
        case PreflightOutcome::Admitted:
            break;
    }
    return {kExitNotStarted, R::Text, "", ""};
}

Ending RunEnding(RunOutcome outcome, int failedItems) {
    using R = ReasonFrom;
    switch (outcome) {
        case RunOutcome::NotRun:
            return {kExitNotStarted, R::Text, "оновлення не запущено", "admitted, not run"};
        case RunOutcome::NotStarted:
            return {kExitNotStarted, R::LastMessage, "", "not started"};
        case RunOutcome::Succeeded:
            return failedItems > 0
                       ? Ending{kExitItemsFailed, R::FailedItems, "", "succeeded with failed items"}
                       : Ending{kExitUpdated, R::Nothing, "", "succeeded"};
        case RunOutcome::Failed:
            return {kExitRunFailed, R::FailureCode, "", "failed with code "};
        case RunOutcome::Aborted:
            return {kExitRunFailed, R::LastMessage, "", "ended by an error"};
        case RunOutcome::Interrupted:
            return {kExitInterrupted, R::LastLine, "", "interrupted by %s"};
    }
    return {kExitRunFailed, R::Text, "", ""};
}

Ending EndingOf(PreflightOutcome preflight, RunOutcome run, int failedItems) {
    return preflight == PreflightOutcome::Admitted ? RunEnding(run, failedItems)
                                                   : PreflightEnding(preflight);
}

}  // namespace

int ExitStatus(PreflightOutcome preflight, RunOutcome run, int failedItems) {
    return EndingOf(preflight, run, failedItems).status;
}

std::string ExitReason(const UpdateOutcome& outcome, const CFailedItems& failed,
                       const std::string& lastLine, const std::string& lastMessage) {
    const Ending ending = EndingOf(outcome.preflight, outcome.run, failed.Count());
    switch (ending.reasonFrom) {
        case ReasonFrom::Nothing:
            return {};
        case ReasonFrom::Text:
            return ending.reason;
        case ReasonFrom::LastMessage:
            return OneLine(lastMessage);
        case ReasonFrom::LastLine:
            return lastLine;
        case ReasonFrom::FailedItems:
            return FailedItemsText(failed.Logs(), failed.Copies()) + " (оновлення завершене)";
        case ReasonFrom::FailureCode:
            return (outcome.failureReason.empty() ? std::string() : outcome.failureReason + "; ") +
                   "Помилка при оновлені: " + std::to_string(outcome.failureCode);
    }
    return {};
}

std::string OutcomeText(const UpdateOutcome& outcome, int failedItems) {
    std::string text = EndingOf(outcome.preflight, outcome.run, failedItems).record;
    if (const size_t request = text.find("%s"); request != std::string::npos) {
        text.replace(request, 2, InterruptName());
    }
    if (outcome.preflight == PreflightOutcome::Admitted && outcome.run == RunOutcome::Failed) {
        text += std::to_string(outcome.failureCode);
    }
    return text;
}
