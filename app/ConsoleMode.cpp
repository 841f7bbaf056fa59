#include "app/ConsoleMode.h"

#include <exception>
#include <memory>
#include <ostream>

#include "app/CommandLine.h"
#include "app/ErrorText.h"

namespace {

// Message texts may span lines (database errors do); standard error gets one line per box.
std::string OneLine(const std::string& text) {
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;  // CR LF is one break
        }
        line += text[i] == '\r' || text[i] == '\n' ? ' ' : text[i];
    }
    return line;
}

// The exit status of console mode for the outcomes of the pre-flight and of the run.
int ExitStatus(PreflightOutcome preflight, RunOutcome run) {
    if (preflight == PreflightOutcome::NothingToInstall) {
        return kExitNothingToInstall;
    }
    if (preflight != PreflightOutcome::Admitted || run == RunOutcome::NotStarted) {
        return kExitNotStarted;
    }
    return run == RunOutcome::Succeeded ? kExitUpdated : kExitRunFailed;
}

}  // namespace

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

void CConsoleWindow::ShowFailedItems(const std::vector<FailedItemsLog>& logs) {
    WriteOpenLine();
    for (const FailedItemsLog& log : logs) {
        m_err << "Не виконано елементів: " << log.count << ", журнал: " << log.path << std::endl;
    }
}

int RunConsole(const StartupPaths& paths, std::ostream& out, std::ostream& err) {
    CConsoleWindow window(out, err);
    std::unique_ptr<CUpdateDriver> driver;
    try {
        driver = std::make_unique<CUpdateDriver>(window, paths);
    } catch (const std::exception& error) {
        window.ShowMessageBox(MessageKind::Error, kApplicationTitle, WithFullStop(error.what()));
        return kExitNotStarted;
    }

    driver->FormShow();
    if (driver->LastPreflight() == PreflightOutcome::Admitted) {
        driver->btOKClick();
    }
    const int status = ExitStatus(driver->LastPreflight(), driver->LastRun());
    window.Finish();
    return status;
}
