#include "app/CommandLine.h"

#include <cstdlib>
#include <optional>
#include <set>

#include "ProductVersion.h"
#include "app/RunRecord.h"
#include "app/SuiteFiles.h"
#include "app/UpdateDriver.h"
#include "db/Uglobdb.h"
#include "platform/Paths.h"

namespace {

bool IsHelpOption(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}

bool IsConsoleOption(const std::string& argument) {
    return argument == "--console" || argument == "--plan" || argument == "--undo" ||
           argument == "--no-snapshot";
}

// The console options, or nothing when the combination is not one: each option at most once,
// "--plan" and "--undo" not together, "--no-snapshot" only for the update itself.
std::optional<ConsoleOptions> ConsoleCombination(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return std::nullopt;
    }
    ConsoleOptions options;
    std::set<std::string> seen;
    for (const std::string& argument : arguments) {
        if (!IsConsoleOption(argument) || !seen.insert(argument).second) {
            return std::nullopt;
        }
    }
    if (seen.count("--plan") != 0 && seen.count("--undo") != 0) {
        return std::nullopt;
    }
    options.noSnapshot = seen.count("--no-snapshot") != 0;
    options.console = seen.count("--console") != 0;
    if (seen.count("--plan") != 0) {
        options.task = ConsoleTask::Plan;
    } else if (seen.count("--undo") != 0) {
        options.task = ConsoleTask::Undo;
    } else if (seen.count("--console") == 0) {
        return std::nullopt;
    }
    if (options.noSnapshot && options.task != ConsoleTask::Update) {
        return std::nullopt;
    }
    return options;
}

}  // namespace

LaunchMode ParseArguments(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return LaunchMode::Window;
    }
    if (ConsoleCombination(arguments)) {
        return LaunchMode::Console;
    }
    if (arguments.size() == 1 && IsHelpOption(arguments[0])) {
        return LaunchMode::Help;
    }
    return LaunchMode::Invalid;
}

ConsoleOptions ParseConsoleOptions(const std::vector<std::string>& arguments) {
    return ConsoleCombination(arguments).value_or(ConsoleOptions{});
}

bool UndoInWindow(const ConsoleOptions& options, bool windowAvailable) {
    return options.task == ConsoleTask::Undo && !options.console && windowAvailable;
}

std::string ArgumentError(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (!IsConsoleOption(argument) && !IsHelpOption(argument)) {
            return "tessara-updater: unknown option '" + argument + "'";
        }
    }
    return "tessara-updater: give one option at most";
}

bool WindowSystemAvailable() {
#if defined(__unix__) && !defined(__APPLE__)
    // An explicit platform (offscreen, a VNC server) or a display server to reach.
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
#else
    return true;
#endif
}

std::string UsageText() {
    return "Usage: tessara-updater [--console [--no-snapshot] | --plan | --undo | --help]\n"
           "\n"
           "Installs the update packages carried by this program into the Tessara suite of its\n"
           "own directory (configuration " +
           std::string(kConfigFileName) + ", archiver " + ProgramFileName(kArchiverProgram) +
           ", the suite's database).\n"
           "\n"
           "Without options the update window opens (this needs a display).\n"
           "  --console  run without a window: the checks and, when they admit it, the update;\n"
           "             journal lines on standard output, messages on standard error\n"
           "  --no-snapshot  with --console: take no snapshot before the update (it cannot be\n"
           "             undone then; lib.ini [Updater] Snapshot=0 does the same for every run)\n"
           "  --plan     look before: the checks, then what an update would install and the\n"
           "             space it needs; changes nothing. Exit status: the one an update would\n"
           "             start with (0 when it would install, 2 or 3 as below)\n"
           "  --undo     undo the last update: the database and the program files back at the\n"
           "             snapshot taken before it; the database being undone is kept. Opens\n"
           "             the window, whose button undoes, when there is a display; with\n"
           "             --console (or without a display) on the console. Exit status 0 done,\n"
           "             1 failed part way (run --undo again to finish it), 2 not started (as\n"
           "             below), 3 no snapshot to go back to\n"
           "  --help     show this text\n"
           "\n"
           "Exit status of --console:\n"
           "  0  the update finished successfully and every item was installed\n"
           "  1  the update failed (its failure line, or an error during the update)\n"
           "  2  the update could not start and nothing was changed: no right to write in the\n"
           "     suite's directory, another updater works on this suite or in the shared\n"
           "     temporary directory, the suite is running (with a database server: also on\n"
           "     another workstation), a check failed (configuration, database, damaged\n"
           "     embedded packages), the database is older than the packages allow, the work\n"
           "     directory is not safe, the archiver is missing, or an interrupted update\n"
           "     waits for an updater that carries its package; also for invalid options\n"
           "  3  nothing to install: the database is at or beyond the highest package\n"
           "  4  the update finished, but items failed (statements, blob files, documents,\n"
           "     program files or templates); standard error lists them\n"
           "  5  interrupted (SIGINT, SIGTERM or SIGHUP; on Windows Ctrl+C, Ctrl+Break or the\n"
           "     console closed): running the updater again continues the update\n"
           "Every status but 0 ends standard error with a line that gives its reason.\n"
           "\n"
           "A statement waits at most " +
           std::to_string(kLockTimeoutSeconds) +
           " seconds for a row that another connection holds locked;\n"
           "then it fails as an item and the update goes on. A database server has " +
           std::to_string(kConnectTimeoutSeconds) +
           " seconds\nto answer a connection; one that stops answering during the update (asked "
           "after\n" +
           std::to_string(static_cast<int>(kServerSilenceSeconds)) +
           " seconds of silence) ends it with status 1. An update that was interrupted\n"
           "is continued by running the updater again. Every run is recorded in\n" +
           kRunRecordName + " in the suite's directory.\n\ntessara-updater " + kProductVersion +
           "\n";
}
