#pragma once
// Unattended console mode: the pre-flight and, when it admits the update, the update run, with
// the journal on standard output and message boxes on standard error. No window, no display.

#include <iosfwd>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/UpdateDriver.h"
#include "app/UpdaterWindow.h"

// A window without a screen: journal lines go to `out` once each, as soon as they can no longer
// change (a line together with its mark); message box texts go to `err`, one line each. A mark
// always follows its line directly, so the open line is final once anything else happens: the
// next line, a message pump, a message box.
class CConsoleWindow : public CPlainUpdaterWindow {
  public:
    CConsoleWindow(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}

    void AppendLine(const std::string& text) override;
    void MarkLastLine(const std::string& suffix) override;
    // Writes the line still open.
    void Finish();

    void ShowMessageBox(MessageKind kind, const std::string& title,
                        const std::string& text) override;
    void PumpMessages() override;
    void ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                         const std::vector<FailedCopy>& copies) override;

  private:
    void WriteOpenLine();

    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_openLine;
    bool m_hasOpenLine = false;
};

// The last line on standard error of a run whose exit status is not 0.
std::string ExitLine(int status, const std::string& reason);

// Runs console mode for the updater at `paths` and returns its exit status (ConsoleExit). Every
// status but 0 ends standard error with ExitLine.
// `options` choose the task: the update, --plan or --undo.
int RunConsole(const StartupPaths& paths, std::ostream& out, std::ostream& err,
               const ConsoleOptions& options = {});
