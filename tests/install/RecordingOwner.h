#pragma once
// An IOwner, progress bar and label for tests: they record what the installers do to them.

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "install/Status.h"
#include "platform/CallThread.h"

// A label that starts hidden and records every caption and visibility change.
class CRecordingLabel : public CPlainLabel {
  public:
    CRecordingLabel() : CPlainLabel("", false) {}
    void SetVisible(bool visible) override;
    void SetCaption(const std::string& caption) override;

    std::vector<std::string> captions;    // every caption set, in order
    std::vector<bool> visibilityChanges;  // every SetVisible, in order
};

// A bar (maximum 100 at first, as a window's) that records every maximum set.
class CRecordingBar : public CPlainProgressBar {
  public:
    void SetMaximum(int maximum) override;

    std::vector<int> maximums;  // every maximum set, in order
};

class CRecordingOwner : public IOwner {
  public:
    explicit CRecordingOwner(std::string programDirectory = {})
        : m_programDirectory(std::move(programDirectory)) {}

    void AppendLine(const std::string& text) override { journal.push_back(text); }
    void MarkLastLine(const std::string& suffix) override;
    void PumpMessages() override;
    std::string CurrentLogPath() const override { return m_logPath; }
    void SetCurrentLogPath(const std::string& path) override { m_logPath = path; }
    std::string ProgramDirectory() const override { return m_programDirectory; }
    void ReportFailedCopy(const std::string& destination, const std::string& errorLine) override {
        failedCopies.push_back(destination + ": " + errorLine);
    }
    // On a helper thread, as a window runs it, pumping every throttle interval meanwhile.
    void RunBlocking(const std::function<void()>& call) override;
    // Stops the run at the given check (stopAfterChecks), as a request to end the program would.
    void StopIfRequested() override;

    // The longest stretch of work, in seconds, from `start` to the first pump, between the end
    // of one pump and the start of the next, and from the last pump to `end` (monotonic times).
    double LongestWorkWithoutPump(double start, double end) const;

    std::vector<std::string> journal;
    std::vector<std::string> failedCopies;  // "destination: error line", in order
    int pumps = 0;
    int blockingCalls = 0;
    int stopAfterChecks = 0;             // 0: never; else StopIfRequested throws at that call
    std::function<void()> whilePumping;  // called at every pump, to act on the run meanwhile
    std::atomic<int> stopChecks{0};
    // When each pump began and ended (MonotonicSeconds()).
    std::vector<std::pair<double, double>> pumpTimes;
    // How long one pump takes, as in a window busy repainting: a pump as long as the throttle's
    // interval makes every block of a long operation find a pump due, so pumps count blocks.
    double pumpSeconds = 0;

  private:
    std::string m_programDirectory;
    std::string m_logPath;
    CCallThread m_calls;
};

// A table with one row, and a script statement on that row. While the test's own connection
// holds the row (CHeldRow with kHoldRow), the statement waits for it (the session at most its
// lock timeout), and the owner pumps meanwhile.
std::vector<std::string> HeldRowTable();
inline constexpr char kHeldRowStatement[] = "UPDATE HELD_ROW SET N = N + 1 WHERE ID = 1;";
inline constexpr char kHoldRow[] = "update HELD_ROW set N = 0 where ID = 1";
// Text of kHeldRowStatement, to find it in MON$STATEMENTS.
inline constexpr char kHeldRowText[] = "HELD_ROW SET N = N + 1";

// An owner that, at the first message pump while the session's statement waits for the held
// row, ends the session's attachment to `database` from a second attachment, as a stopped
// server or a broken network would.
class CDisconnectingOwner : public CRecordingOwner {
  public:
    explicit CDisconnectingOwner(std::string database) : m_database(std::move(database)) {}
    void PumpMessages() override;

    bool disconnected = false;

  private:
    std::string m_database;
};
