#pragma once
// How the checks and the update run ended, and what that means to whoever started the updater:
// console mode's exit status with its one-line reason, and the outcome the run record names.

#include <cstdint>
#include <string>
#include <vector>

#include "app/FailedItems.h"

// Failure code of a run whose package did not bring the database to its number.
inline constexpr int kVersionNotReached = -2;
// Failure code of a run that stopped after a package whose program files or templates could not
// all be copied, before the later packages.
inline constexpr int kFilesNotCopied = -3;
// Failure code of a run whose database server stopped answering.
inline constexpr int kServerNotAnswering = -4;

enum class PreflightOutcome {
    NotRun,
    Locked,        // another updater holds the suite or the work directory (error box shown)
    SuiteRunning,  // the suite's main program runs, or is attached to the database elsewhere
    // Another updater's connection to the server, and not the suite's: an earlier updater's
    // that was cut off, or one of another installation of the suite (warning box shown).
    UpdaterAttached,
    Failed,          // an error stopped the checks (error box shown)
    DatabaseTooOld,  // "Версія БД меньше номеру пакета оновлень"
    NothingToInstall,  // "Версія БД більша за номер пакета оновлень"
    // A package that a run began and did not finish cannot be continued by this updater (it
    // does not carry that package, or the database no longer fits it).
    UnfinishedElsewhere,
    Interrupted,  // the program was asked to end during the checks
    Admitted,     // btOK enabled
};

enum class RunOutcome {
    NotRun,
    NotStarted,   // the suite started since the checks, an unsafe work directory or no archiver:
                  // ended before any package, no final line
    Succeeded,    // "Оновлення завершене успішно"
    Failed,       // "Помилка при оновлені: " + code
    Aborted,      // an error ended the run (error box shown, no final line)
    Interrupted,  // the program was asked to end: a line says so, the next run continues
};

struct UpdateOutcome {
    PreflightOutcome preflight = PreflightOutcome::NotRun;
    RunOutcome run = RunOutcome::NotRun;
    int failureCode = 0;
    std::string failureReason;               // the journal's words for failureCode
    std::vector<int64_t> installedPackages;  // packages whose version check passed

    // Forgets the previous run's ending; the checks' outcome stays.
    void BeginRun();
};

// The exit status of console mode (ConsoleExit) for the checks and run so far, with
// `failedItems` failed items in the run.
int ExitStatus(PreflightOutcome preflight, RunOutcome run, int failedItems);

// Why the exit status is not 0, in one line for standard error; empty for 0. `lastLine` is the
// journal line added last, `lastMessage` the text of the last message box.
std::string ExitReason(const UpdateOutcome& outcome, const CFailedItems& failed,
                       const std::string& lastLine, const std::string& lastMessage);

// The outcome in the run record's words ("succeeded with failed items", "failed with code -2").
std::string OutcomeText(const UpdateOutcome& outcome, int failedItems);
