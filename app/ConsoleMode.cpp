#include "app/ConsoleMode.h"

#include <exception>
#include <memory>
#include <ostream>

#include "app/CommandLine.h"
#include "app/ErrorText.h"
#include "app/Plan.h"
#include "app/Undo.h"
#include "platform/Interrupt.h"

void CConsoleWindow::AppendLine(const std::string& text) {
    EndOpenLine();
    m_openLine = text;
    m_shown = 0;
    m_hasOpenLine = true;
}

void CConsoleWindow::MarkLastLine(const std::string& suffix) {
    // Normally the line is still open, shown or not. A mark that came after its line was ended
    // (by a message box) goes out on its own rather than repeating the line.
    if (!m_hasOpenLine) {
        m_openLine.clear();
        m_shown = 0;
        m_hasOpenLine = true;
    }
    m_openLine += suffix;
}

void CConsoleWindow::ShowOpenLine() {
    if (!m_hasOpenLine || m_shown == m_openLine.size()) {
        return;
    }
    // Flushed at once, so that a log or a terminal follows the run while it goes on.
    m_out.write(m_openLine.data() + m_shown,
                static_cast<std::streamsize>(m_openLine.size() - m_shown));
    m_out.flush();
    m_shown = m_openLine.size();
}

void CConsoleWindow::PumpMessages() {
    // Long steps pump after every item: the line in hand goes out now, not after the step.
    ShowOpenLine();
}

void CConsoleWindow::Finish() {
    EndOpenLine();
    m_out.flush();
}

void CConsoleWindow::EndOpenLine() {
    if (!m_hasOpenLine) {
        return;
    }
    ShowOpenLine();
    m_out << '\n';
    m_out.flush();
    m_openLine.clear();
    m_shown = 0;
    m_hasOpenLine = false;
}

void CConsoleWindow::ShowMessageBox(MessageKind, const std::string&, const std::string& text) {
    // The journal line before the box comes first, and whole, when both streams go to one place.
    EndOpenLine();
    m_err << OneLine(text) << std::endl;
}

void CConsoleWindow::ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                                     const std::vector<FailedCopy>& copies) {
    EndOpenLine();
    for (const FailedItemsLog& log : logs) {
        m_err << "Не виконано елементів: " << log.count << ", журнал: " << log.path << std::endl;
    }
    for (const FailedCopy& copy : copies) {
        m_err << "Не скопійовано: " << copy.destination << ": " << copy.error << std::endl;
    }
}

std::string ExitLine(int status, const std::string& reason) {
    return "Код завершення " + std::to_string(status) + ": " + reason;
}

std::string SecondInterruptLine(const std::string& name, int status) {
    return ExitLine(status, "програму завершено одразу другим запитом (" + name +
                                "), не дочекавшись кінця кроку. Запустіть програму оновлення ще "
                                "раз: вона продовжить оновлення");
}

std::string InvalidArgumentsText(const std::vector<std::string>& arguments) {
    const std::string error = ArgumentError(arguments);
    return error + "\n\n" + UsageText() + ExitLine(kExitNotStarted, error) + "\n";
}

std::unique_ptr<CUpdateDriver> MakeConsoleDriver(CConsoleWindow& window, const StartupPaths& paths,
                                                 std::ostream& err) {
    try {
        return std::make_unique<CUpdateDriver>(window, paths, RunMode::Console);
    } catch (const std::exception& error) {
        const std::string text = WithFullStop(error.what());
        window.ShowMessageBox(MessageKind::Error, kApplicationTitle, text);
        err << ExitLine(kExitNotStarted, OneLine(text)) << std::endl;
        return nullptr;
    }
}

int RunConsole(const StartupPaths& paths, std::ostream& out, std::ostream& err,
               const ConsoleOptions& options) {
    if (options.task == ConsoleTask::Undo) {
        return RunUndo(paths, out, err);
    }
    if (options.task == ConsoleTask::Plan) {
        return RunPlan(paths, out, err);
    }
    CConsoleWindow window(out, err);
    const std::unique_ptr<CUpdateDriver> driver = MakeConsoleDriver(window, paths, err);
    if (!driver) {
        return kExitNotStarted;
    }

    if (options.noSnapshot) {
        driver->DisableSnapshot();
    }
    driver->FormShow();
    if (driver->LastPreflight() == PreflightOutcome::Admitted) {
        driver->btOKClick();
    }
    const int status = driver->ExitStatus();
    window.Finish();
    if (status != kExitUpdated) {
        // Whatever was said before, the last line on standard error names the outcome.
        err << ExitLine(status, driver->ExitReason()) << std::endl;
    }
    if (status == kExitInterrupted) {
        // A closing console waits for this: only now is every line written.
        AcknowledgeInterrupt();
    }
    return status;
}
