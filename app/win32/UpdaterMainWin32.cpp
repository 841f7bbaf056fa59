// The entry of tessara-updater.exe: the window, or console mode (--console) with the journal on
// the console, as the Linux program has them. The command line arrives as UTF-16 (-municode).

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ConsoleMode.h"
#include "app/ErrorText.h"
#include "app/FormDriver.h"
#include "app/Undo.h"
#include "app/UpdateDriver.h"
#include "app/win32/Win32Console.h"
#include "app/win32/Win32Form.h"
#include "app/win32/Win32MessageBoxes.h"
#include "db/Database.h"
#include "platform/Interrupt.h"
#include "platform/Utf16.h"

namespace {

// The update's window; with `undo` ("--undo" without "--console") its button undoes.
int RunWindow(bool undo) {
    InitDatabaseClient();  // before the run's threads
    std::unique_ptr<TWin32Form> form;
    try {
        const StartupPaths paths = StartupPaths::FromProcess();
        form = std::make_unique<TWin32Form>(undo ? UndoDriverFactory(paths)
                                                 : UpdateDriverFactory(paths));
    } catch (const std::exception& error) {
        ShowMessageBox(nullptr, MessageKind::Error, kApplicationTitle, WithFullStop(error.what()));
        return kExitNotStarted;
    }
    form->Show();
    const int loopStatus = form->Run();  // not 0 only when the loop itself failed
    return loopStatus != 0 ? loopStatus : form->Driver().ExitStatus();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(ToUtf8(argv[i]));
    }
    const LaunchMode mode = ParseArguments(arguments);
    const ConsoleOptions options = ParseConsoleOptions(arguments);
    if (mode == LaunchMode::Window) {
        return RunWindow(false);
    }
    if (mode == LaunchMode::Console && UndoInWindow(options, true)) {
        return RunWindow(true);
    }
    CWin32Console console;
    switch (mode) {
        case LaunchMode::Help:
            console.Out() << UsageText();
            return 0;
        case LaunchMode::Invalid:
            console.Err() << InvalidArgumentsText(arguments);
            return kExitNotStarted;
        case LaunchMode::Console:
        case LaunchMode::Window:
            break;
    }
    SetSecondInterruptNote([&console](const std::string& name, int status) {
        console.Err() << SecondInterruptLine(name, status) << std::endl;
    });
    InstallInterruptHandlers();
    InitDatabaseClient();  // before the run's threads
    return RunConsole(StartupPaths::FromProcess(), console.Out(), console.Err(), options);
}
