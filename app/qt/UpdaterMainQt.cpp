// The entry of the Linux updater: the Qt window, or console mode without any window system.

#include <malloc.h>
#include <QApplication>
#include <QTimer>
#include <csignal>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ConsoleMode.h"
#include "app/ErrorText.h"
#include "app/FormDriver.h"
#include "app/Undo.h"
#include "app/qt/QtForm.h"
#include "app/qt/QtMessageBoxes.h"
#include "db/Database.h"
#include "platform/Interrupt.h"

namespace {

void NoteSecondInterrupt(const std::string& name, int status) {
    std::cerr << SecondInterruptLine(name, status) << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    // Buffers of megabytes (a statement of one long line, blocks of a package) go back to the
    // system when freed. glibc would otherwise raise its threshold for that after the first one
    // and keep every later one in the heap, so that a 9 MB statement cost the memory of two.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const LaunchMode mode = ParseArguments(arguments);
    const ConsoleOptions options = ParseConsoleOptions(arguments);
    const bool undoWindow =
        mode == LaunchMode::Console && UndoInWindow(options, WindowSystemAvailable());
    switch (undoWindow ? LaunchMode::Window : mode) {
        case LaunchMode::Help:
            std::cout << UsageText();
            return 0;
        case LaunchMode::Invalid:
            std::cerr << InvalidArgumentsText(arguments);
            return kExitNotStarted;
        case LaunchMode::Console:
            // A reader that goes away (| head) must not kill the run half-way through a
            // package: the journal lines are then lost, the update goes on.
            std::signal(SIGPIPE, SIG_IGN);
            SetSecondInterruptNote(NoteSecondInterrupt);
            InstallInterruptHandlers();  // before any thread starts
            InitDatabaseClient();
            // No QApplication: console mode must work without a display.
            return RunConsole(StartupPaths::FromProcess(), std::cout, std::cerr, options);
        case LaunchMode::Window:
            break;
    }
    if (!WindowSystemAvailable()) {
        std::cerr << kNoDisplayText << "\n";
        return kExitNotStarted;
    }

    SetSecondInterruptNote(NoteSecondInterrupt);
    InstallInterruptHandlers();  // before Qt and the database client start threads
    QApplication application(argc, argv);
    InitDatabaseClient();  // after Qt has set the locale, before the run's threads
    std::unique_ptr<TForm1> form;
    try {
        const StartupPaths paths = StartupPaths::FromProcess();
        form = std::make_unique<TForm1>(undoWindow ? UndoDriverFactory(paths)
                                                   : UpdateDriverFactory(paths));
    } catch (const std::exception& error) {
        ShowMessageBox(nullptr, MessageKind::Error, kApplicationTitle, WithFullStop(error.what()));
        return kExitNotStarted;
    }
    // A request to end the program is taken up by a run in progress, which ends itself and
    // says so; otherwise the window closes at once.
    QTimer interrupts;
    QObject::connect(&interrupts, &QTimer::timeout, [&] {
        if (InterruptRequested() && !form->Driver().IsRunning()) {
            QApplication::exit(kExitInterrupted);
        }
    });
    interrupts.start(100);
    form->show();
    const int loopStatus = application.exec();  // not 0 only for an interrupt
    return loopStatus != 0 ? loopStatus : form->Driver().ExitStatus();
}
