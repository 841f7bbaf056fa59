#pragma once
// The update driver: the state of the main window besides its controls, the pre-flight checks
// run when the window is first shown (FormShow) and the update run of the update button
// (btOKClick). It reports through IUpdaterWindow, so both windows, console mode and tests
// share it. It is also the owner that the installers report to.
//
// It reads as the sequence of steps; each job has a home of its own: the checks (CPreflight),
// the locks (CRunLocks), the journal with the run record (CRunJournal), the work directory and
// the archiver (CPackageUnpacker), the failed items (CFailedItems) and what the outcome means
// (UpdateOutcome, ExitStatus). The driver keeps the database calls on the helper thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/FailedItems.h"
#include "app/Outcome.h"
#include "app/PackageUnpacker.h"
#include "app/Preflight.h"
#include "app/RunJournal.h"
#include "app/RunLocks.h"
#include "app/SilenceWatch.h"
#include "app/StartupPaths.h"
#include "app/UpdaterWindow.h"
#include "install/Status.h"
#include "platform/CallThread.h"

class CGlobDB;
class CPackageLedger;

// A database call that has run this long without an answer makes the run ask the server for a
// new connection: a server that does not answer that within the connect timeout either ends
// the run (seconds). Long enough for any lock wait (kLockTimeoutSeconds) and a slow network.
inline constexpr double kServerSilenceSeconds = 30;
// How often the run looks up from a database call in progress (seconds).
inline constexpr double kCallWaitSlice = 0.05;
// How long an interrupted statement may take to end before its connection is closed (seconds).
inline constexpr double kCancelGraceSeconds = 2;

class CUpdateDriver : public IOwner {
  public:
    // Fixes the directories, creates the database session (not connected) and makes it the
    // process-wide one, and reads lib.ini. Nothing is created on disk.
    CUpdateDriver(IUpdaterWindow& window, StartupPaths paths, RunMode mode = RunMode::Window);
    ~CUpdateDriver() override;
    CUpdateDriver(const CUpdateDriver&) = delete;
    CUpdateDriver& operator=(const CUpdateDriver&) = delete;

    // The checks made when the window is first shown; errors go to the error box.
    void FormShow();
    // The update run of the update button; errors go to the error box.
    void btOKClick();

    PreflightOutcome LastPreflight() const { return m_outcome.preflight; }
    RunOutcome LastRun() const { return m_outcome.run; }
    int FailureCode() const { return m_outcome.failureCode; }
    // The update logs with failed items after the last run, as shown by the window.
    const std::vector<FailedItemsLog>& FailedItems() const { return m_failed.Logs(); }
    // Program files and templates that the last run could not copy.
    const std::vector<FailedCopy>& FailedCopies() const { return m_failed.Copies(); }
    // Failed items of the last run: log entries and failed copies.
    int FailedItemCount() const { return m_failed.Count(); }
    // The exit status of console mode for the pre-flight and run so far (ConsoleExit).
    int ExitStatus() const;
    // Why the exit status is not 0, in one line for standard error; empty for 0.
    std::string ExitReason() const;

    const CConfig& Config() const { return m_config; }
    // --no-snapshot: this run takes no snapshot, whatever lib.ini says.
    void DisableSnapshot() { m_config.snapshot = false; }
    const std::string& ConfigPath() const { return m_configPath; }
    const std::string& WorkDirectory() const { return m_unpacker.WorkDirectory(); }
    int32_t DatabaseVersion() const { return m_checks.DatabaseVersion(); }
    int32_t LowestPackage() const { return m_checks.Packages().lowest; }
    int32_t HighestPackage() const { return m_checks.Packages().highest; }
    int64_t FirstPackage() const { return m_checks.FirstPackage(); }
    // The checks or the run are in progress: the window must not close under them.
    bool IsRunning() const { return m_running; }

    // How long a server may take to answer a new connection, and to answer at all while a call
    // runs (for tests; kConnectTimeoutSeconds and kServerSilenceSeconds otherwise).
    void SetServerTimeouts(int connectSeconds, double silenceSeconds);

    // IOwner
    void AppendLine(const std::string& text) override { m_journal.AppendLine(text); }
    void MarkLastLine(const std::string& suffix) override { m_journal.MarkLastLine(suffix); }
    // Also where a request to end the program is taken up: throws CRunStopped then.
    void PumpMessages() override;
    void RunBlocking(const std::function<void()>& call) override;
    void ShowOpenLine() override { m_window.ShowOpenLine(); }
    void StopIfRequested() override;
    std::string CurrentLogPath() const override { return m_currentLogPath; }
    void SetCurrentLogPath(const std::string& path) override;
    std::string ProgramDirectory() const override { return m_paths.programDirectory; }
    void ReportFailedCopy(const std::string& destination, const std::string& errorLine) override;

  private:
    // The stages of the run, each with its own state of the controls (the table in ShowControls,
    // in this order).
    enum class RunStage {
        // btOK disabled, btCancel "Відмінити", the run's panel shown
        Starting,
        // "Підготовка оновлення" shown; btCancel disabled until the package is done with
        Unpacking,
        // the archiver failed: "Підготовка оновлення" hidden, btCancel enabled
        NotUnpacked,
        // "Встановлення оновлення" with the progress bar and the file
        Installing,
        // the installation's labels and bar hidden, btCancel enabled
        Installed,
        // btOK hidden, btCancel "Зачинити"
        Ended,
    };

    PreflightOutcome RunPreflight();
    // Takes the suite's lock, starts the run record, and takes the work directory's lock; false
    // after an error box naming the one that another updater holds.
    bool TakeLocks();
    // Connects the session as configured; a server that does not answer in time gets a line.
    void Connect();
    // Runs `call` on the helper thread while the window answers. A request to end the program
    // cancels a `cancellable` call and throws CRunStopped; so does a server that stopped
    // answering (asked after kServerSilenceSeconds).
    void RunCall(const std::function<void()>& call, bool cancellable);
    // Why a call in progress is being ended, and how far.
    struct CallStop {
        std::optional<CRunStopped> reason;
        double at = 0;         // MonotonicSeconds() of the request
        bool aborted = false;  // the connection is being closed, not only the statement
    };
    // Looks up from a call in progress between slices of its wait: a request to end the program
    // cancels a cancellable call, and aborts it when it has not ended in kCancelGraceSeconds; a
    // server that stopped answering aborts it at once.
    void WatchCall(CallStop& stop, std::optional<CSilenceWatch>& silence, bool cancellable);
    CRunStopped Interrupted() const;

    RunOutcome RunUpdate();
    // Writes package `number` out, unpacks and installs it; 0 when the run may go on to the next
    // package, otherwise the run's failure code.
    int InstallPackage(int64_t number);
    // Installs the unpacked package from the work directory into the database and the program
    // directory, with the installation controls shown.
    void InstallUnpackedPackage(int64_t number);
    // Reads the version the package left (a fresh transaction) into lCurVer; 0 when it reached
    // `number`, otherwise kVersionNotReached after an "error" line.
    int CheckInstalledVersion(int64_t number);
    void ShowControls(RunStage stage);
    // Counts and keeps the logs with failed items and shows them, with the failed copies.
    void CollectFailedItems();
    // The end of the run record: packages, outcome, exit status, failed items.
    void FinishRecord(const std::string& outcome);

    IUpdaterWindow& m_window;
    StartupPaths m_paths;
    std::string m_configPath;
    CConfig m_config;
    std::unique_ptr<CGlobDB> m_session;
    std::unique_ptr<CPackageLedger> m_ledger;  // on the session's database
    CRunLocks m_locks;                         // held until the record is closed
    CRunJournal m_journal;
    CPreflight m_checks;
    CPackageUnpacker m_unpacker;
    CFailedItems m_failed;
    UpdateOutcome m_outcome;
    std::string m_currentLogPath;
    bool m_running = false;
    double m_silenceSeconds = kServerSilenceSeconds;
    std::atomic<bool> m_stopRequested{false};  // read by the call thread
    CCallThread m_calls;  // last: its thread ends before the state its calls use
};
