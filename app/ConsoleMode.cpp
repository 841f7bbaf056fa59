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
    WriteOpenLine();
    m_openLine = text;
    m_hasOpenLine = true;
}

void CConsoleWindow::MarkLastLine(const std::string& suffix) {
    // Normally the line is still open. A mark that came after its line went out goes out on its
    // own rather than repeating the line.
    m_openLine += suffix;
    m_hasOpenLine = true;
}

void CConsoleWindow::PumpMessages() {
    // Long steps pump after every item: the line in hand goes out now, not after the step.
    WriteOpenLine();
}

void CConsoleWindow::Finish() {
    WriteOpenLine();
    m_out.flush();
}

void CConsoleWindow::WriteOpenLine() {
    if (!m_hasOpenLine) {
        return;
    }
    // Flushed line by line, so that a log or a terminal follows the run while it goes on.
    m_out << m_openLine << '\n';
    m_out.flush();
    m_openLine.clear();
    m_hasOpenLine = false;
}

void CConsoleWindow::ShowMessageBox(MessageKind, const std::string&, const std::string& text) {
    // The journal line before the box comes first when both streams go to one place.
    WriteOpenLine();
    m_err << OneLine(text) << std::endl;
}

void CConsoleWindow::ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                                     const std::vector<FailedCopy>& copies) {
    WriteOpenLine();
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

int RunConsole(const StartupPaths& paths, std::ostream& out, std::ostream& err,
               const ConsoleOptions& options) {
    if (options.task == ConsoleTask::Undo) {
        return RunUndo(paths, out, err);
    }
    if (options.task == ConsoleTask::Plan) {
        return RunPlan(paths, out, err);
    }
    CConsoleWindow window(out, err);
    std::unique_ptr<CUpdateDriver> driver;
    try {
        driver = std::make_unique<CUpdateDriver>(window, paths, RunMode::Console);
    } catch (const std::exception& error) {
        const std::string text = WithFullStop(error.what());
        window.ShowMessageBox(MessageKind::Error, kApplicationTitle, text);
        err << ExitLine(kExitNotStarted, OneLine(text)) << std::endl;
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
    if (status == kExitInterrupted) {
        AcknowledgeInterrupt();  // a closing console waits for the last lines
    }
    if (status != kExitUpdated) {
        // Whatever was said before, the last line on standard error names the outcome.
        err << ExitLine(status, driver->ExitReason()) << std::endl;
    }
    return status;
}
