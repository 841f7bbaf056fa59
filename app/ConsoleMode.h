#pragma once
// Unattended console mode: the pre-flight and, when it admits the update, the update run, with
// the journal on standard output and message boxes on standard error. No window, no display.

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/UpdateDriver.h"
#include "app/UpdaterWindow.h"

// A window without a screen: journal lines go to `out`, message box texts to `err`, one line
// each. The line in hand goes out without its line end as soon as the run pumps or a blocking
// step starts, so that a terminal or a log shows the step while it runs; a mark that follows
// ends the same line, as the window shows it. The line end goes out with the next line, a
// message box or the end of the run.
class CConsoleWindow : public CPlainUpdaterWindow {
  public:
    CConsoleWindow(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}

    void AppendLine(const std::string& text) override;
    void MarkLastLine(const std::string& suffix) override;
    void ShowOpenLine() override;
    // Ends the line still open.
    void Finish();

    void ShowMessageBox(MessageKind kind, const std::string& title,
                        const std::string& text) override;
    void PumpMessages() override;
    void ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                         const std::vector<FailedCopy>& copies) override;

  private:
    // Writes what is left of the open line and its line end.
    void EndOpenLine();

    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_openLine;
    size_t m_shown = 0;  // bytes of m_openLine already written
    bool m_hasOpenLine = false;
};

// The last line on standard error of a run whose exit status is not 0.
std::string ExitLine(int status, const std::string& reason);
// The reason line of a program ended at once by a second request to end it
// (SetSecondInterruptNote).
std::string SecondInterruptLine(const std::string& name, int status);
// What standard error gets for options that are not understood: the error, the usage, and the
// exit line (kExitNotStarted) with the error as its reason.
std::string InvalidArgumentsText(const std::vector<std::string>& arguments);

// The update driver of console mode for the updater at `paths`; nullptr when it cannot be made
// (its configuration cannot be read), the error then shown and ended with its exit line.
std::unique_ptr<CUpdateDriver> MakeConsoleDriver(CConsoleWindow& window, const StartupPaths& paths,
                                                 std::ostream& err);

// Runs console mode for the updater at `paths` and returns its exit status (ConsoleExit). Every
// status but 0 ends standard error with ExitLine.
// `options` choose the task: the update, --plan or --undo.
int RunConsole(const StartupPaths& paths, std::ostream& out, std::ostream& err,
               const ConsoleOptions& options = {});
