#pragma once
// The updater's command line: which mode the arguments ask for, the usage text, the exit
// statuses that --console reports, and whether there is a display for the window.

#include <string>
#include <vector>

enum class LaunchMode { Window, Console, Help, Invalid };

// No arguments: the window; "--console" (with "--no-snapshot" or not), "--plan" or "--undo"
// (each with "--console" or not): console mode; "--help" or "-h"; anything else is invalid.
LaunchMode ParseArguments(const std::vector<std::string>& arguments);

// What console mode does: the update, the look before it, or the undo of the last one.
enum class ConsoleTask { Update, Plan, Undo };
struct ConsoleOptions {
    ConsoleTask task = ConsoleTask::Update;
    bool noSnapshot = false;  // "--no-snapshot": the update takes no snapshot
    bool console = false;     // "--console" given: never a window
};
// "--undo" without "--console" opens the window, whose button undoes, when a window can be
// shown (`windowAvailable`); otherwise, and with "--console", the undo runs on the console.
bool UndoInWindow(const ConsoleOptions& options, bool windowAvailable);
// The console options of arguments that ParseArguments takes as console mode.
ConsoleOptions ParseConsoleOptions(const std::vector<std::string>& arguments);
// One line saying what is wrong with arguments that ParseArguments finds invalid.
std::string ArgumentError(const std::vector<std::string>& arguments);
std::string UsageText();

// Exit statuses of console mode (invalid options also give kExitNotStarted).
enum ConsoleExit : int {
    kExitUpdated = 0,  // the run ended with "Оновлення завершене успішно", every item installed
    kExitRunFailed = 1,         // the run ended with its failure line, or an error ended it
    kExitNotStarted = 2,        // nothing was changed: another updater, suite running, pre-flight
                                // error, database older than the packages allow, unsafe work
                                // directory, no archiver
    kExitNothingToInstall = 3,  // the database is at or beyond the highest package
    kExitItemsFailed = 4,       // the run ended successfully, but items failed (statements, blob
                                // files, documents, program files, templates)
    kExitInterrupted = 5,       // a signal (Ctrl+C, closing the console) ended it; running the
                                // updater again continues the update
    // --undo: the database and the program files are back at the snapshot (0), or the undo
    // failed part way (1; running --undo again finishes it), could not start (2), or there is
    // no snapshot to go back to (3).
};

// Whether the window can be shown: without a display Qt would abort, so the entry says so and
// points to --console instead.
bool WindowSystemAvailable();
inline constexpr char kNoDisplayText[] =
    "tessara-updater: no display to show the window on; run it with --console to update "
    "without a window";
