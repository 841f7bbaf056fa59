#pragma once
// The update driver: the state of the main window besides its controls, the pre-flight checks
// run when the window is first shown (FormShow) and the update run of the update button
// (btOKClick). It reports through IUpdaterWindow, so both windows, console mode and tests
// share it. It is also the owner that the installers report to.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/PackageDiscovery.h"
#include "app/RunRecord.h"
#include "app/SuiteFiles.h"
#include "app/UpdaterWindow.h"
#include "install/Status.h"
#include "platform/CallThread.h"
#include "platform/FileLock.h"

class CEmbeddedItems;
class CGlobDB;
class CKeptLogs;
class CPackageLedger;
struct LedgerPackage;

// Title of the error box and of the window.
inline constexpr char kApplicationTitle[] = "Оновлення";
// The lock file in the program directory that one updater at a time holds for the suite; the
// work directory's lock file is its name with this ending, beside it (the clean-up empties the
// directory itself).
inline constexpr char kSuiteLockName[] = "tessara-updater.lock";
inline constexpr char kLockFileEnding[] = ".lock";
// Failure code of a run whose package did not bring the database to its number.
inline constexpr int kVersionNotReached = -2;
// Failure code of a run that stopped after a package whose program files or templates could not
// all be copied, before the later packages.
inline constexpr int kFilesNotCopied = -3;
// Failure code of a run whose database server stopped answering.
inline constexpr int kServerNotAnswering = -4;
// A database call that has run this long without an answer makes the run ask the server for a
// new connection: a server that does not answer that within the connect timeout either ends
// the run (seconds). Long enough for any lock wait (kLockTimeoutSeconds) and a slow network.
inline constexpr double kServerSilenceSeconds = 30;
// How often the run looks up from a database call in progress (seconds).
inline constexpr double kCallWaitSlice = 0.05;
// How long an interrupted statement may take to end before its connection is closed (seconds).
inline constexpr double kCancelGraceSeconds = 2;

// Which face the updater shows; the run record names it.
enum class RunMode { Window, Console };

// Where the updater runs. Production takes them from the process; tests point them at a suite
// directory of their own.
struct StartupPaths {
    std::string executablePath;    // the updater whose embedded packages are installed
    std::string programDirectory;  // the suite's installation directory (lib.ini, rar, *.exe)
    std::string tempPath;          // the system temporary directory, with its trailing separator
    // The process image name that blocks the update. Tests that must not see a suite started by
    // a neighbouring test give a name of their own.
    std::string suiteImageName = kSuiteImageName;

    static StartupPaths FromProcess();
};

enum class PreflightOutcome {
    NotRun,
    Locked,          // another updater holds the suite or the work directory (error box shown)
    SuiteRunning,    // the suite's main program runs, or is attached to the database elsewhere
    Failed,          // an error stopped the checks (error box shown)
    DatabaseTooOld,  // "Версія БД меньше номеру пакета оновлень"
    NothingToInstall,  // "Версія БД більша за номер пакета оновлень"
    // A package that a run began and did not finish cannot be continued by this updater (it
    // does not carry that package, or the database no longer fits it).
    UnfinishedElsewhere,
    Interrupted,  // the program was asked to end during the checks
    Admitted,     // btOK enabled
};

enum class RunOutcome {
    NotRun,
    NotStarted,   // the suite started since the checks, an unsafe work directory or no archiver:
                  // ended before any package, no final line
    Succeeded,    // "Оновлення завершене успішно"
    Failed,       // "Помилка при оновлені: " + code
    Aborted,      // an error ended the run (error box shown, no final line)
    Interrupted,  // the program was asked to end: a line says so, the next run continues
};

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

    PreflightOutcome LastPreflight() const { return m_preflight; }
    RunOutcome LastRun() const { return m_run; }
    int FailureCode() const { return m_failureCode; }
    // The update logs with failed items after the last run, as shown by the window.
    const std::vector<FailedItemsLog>& FailedItems() const { return m_failedItems; }
    // Program files and templates that the last run could not copy.
    const std::vector<FailedCopy>& FailedCopies() const { return m_failedCopies; }
    // Failed items of the last run: log entries and failed copies.
    int FailedItemCount() const;
    // The exit status of console mode for the pre-flight and run so far (ConsoleExit).
    int ExitStatus() const;
    // Why the exit status is not 0, in one line for standard error; empty for 0.
    std::string ExitReason() const;

    const CConfig& Config() const { return m_config; }
    const std::string& ConfigPath() const { return m_configPath; }
    const std::string& WorkDirectory() const { return m_workDirectory; }
    int32_t DatabaseVersion() const { return m_databaseVersion; }
    int32_t LowestPackage() const { return m_packages.lowest; }
    int32_t HighestPackage() const { return m_packages.highest; }
    // The checks or the run are in progress: the window must not close under them.
    bool IsRunning() const { return m_running; }

    // How long a server may take to answer a new connection, and to answer at all while a call
    // runs (for tests; kConnectTimeoutSeconds and kServerSilenceSeconds otherwise).
    void SetServerTimeouts(int connectSeconds, double silenceSeconds);

    // IOwner
    void AppendLine(const std::string& text) override;
    void MarkLastLine(const std::string& suffix) override;
    // Also where a request to end the program is taken up: throws CRunStopped then.
    void PumpMessages() override;
    void RunBlocking(const std::function<void()>& call) override;
    void StopIfRequested() override;
    std::string CurrentLogPath() const override { return m_currentLogPath; }
    void SetCurrentLogPath(const std::string& path) override;
    std::string ProgramDirectory() const override { return m_paths.programDirectory; }
    void ReportFailedCopy(const std::string& destination, const std::string& errorLine) override;

  private:
    PreflightOutcome RunPreflight();
    // Connects the session as configured; a server that does not answer in time gets a line.
    void Connect();
    // Runs `call` on the helper thread while the window answers. A request to end the program
    // cancels a `cancellable` call and throws CRunStopped; so does a server that stopped
    // answering (asked after kServerSilenceSeconds).
    void RunCall(const std::function<void()>& call, bool cancellable);
    CRunStopped Interrupted() const;
    // Takes the suite's lock, starts the run record, and takes the work directory's lock; false
    // after an error box naming the one that another updater holds.
    bool TakeLocks();
    // Takes `lock` without waiting; false when another updater holds it. A file that cannot be
    // a lock file (a link, a directory, another user's) throws, said in the interface's words.
    bool TryLock(CFileLock& lock, const std::string& path, CFileLock::Holders holders);
    // The journal lines and the error box of a lock that another updater holds.
    void RefuseLocked(const std::string& reason);
    // The journal lines and the warning box of a suite that runs; `where` names where it runs
    // when it was seen attached to the database (empty for this machine).
    void RefuseSuiteRunning(const std::string& where);
    // The pre-flight's last line when it admits nothing: "Оновлення не можливо!!!", and btOK
    // disabled.
    void RefuseUpdate();
    // In server mode: the hosts where the suite's main program or another updater is attached
    // to the database ("host (program), ..."); empty when there are none.
    std::string SuiteAttachedElsewhere();
    // Reads the version the package left (a fresh transaction) into lCurVer; 0 when it reached
    // `number`, otherwise kVersionNotReached after an "error" line.
    int CheckInstalledVersion(int64_t number);
    // The end of the run record: packages, outcome, exit status, failed items.
    void FinishRecord(const std::string& outcome);
    std::string OutcomeText() const;
    RunOutcome RunUpdate();
    // Makes the work directory ready for a run: creates it private to this user, or restricts
    // and empties one of ours. False when what stands at its name is not ours to touch.
    bool PrepareWorkDirectory();
    void CleanWorkDirectory();
    // Shows the installation controls, installs the unpacked package from the work directory
    // into the database and the program directory, and hides the controls again.
    void InstallUnpackedPackage();
    std::string ArchiverPath() const;
    // Writes package `number` out of the executable into `packageFile`, checking its SHA-256
    // and pumping the window between blocks, and returns that SHA-256.
    std::string WritePackage(int64_t number, const std::string& packageFile);
    // The version gate when the database's ledger holds a package that was not finished.
    PreflightOutcome ResumeGate(const LedgerPackage& unfinished, const CEmbeddedItems& items);
    // Starts the archiver on the package file and waits for it, pumping meanwhile. Returns 0 when
    // it ran and succeeded, otherwise the failure code, after "error (code)" lines that give the
    // archiver's own message (its standard error) or why it could not be started.
    int Unpack(const std::string& packageFile);
    void CollectFailedItems();
    void ShowError(const std::string& text);
    // Every message box goes through here: the run record notes its text.
    void ShowBox(MessageKind kind, const std::string& title, const std::string& text);

    IUpdaterWindow& m_window;
    StartupPaths m_paths;
    RunMode m_mode;
    std::string m_configPath;
    std::string m_workDirectory;
    CConfig m_config;
    std::unique_ptr<CGlobDB> m_session;
    int32_t m_databaseVersion = 0;
    PackageRange m_packages;
    std::unique_ptr<CPackageLedger> m_ledger;  // on the session's database
    int64_t m_firstPackage = 0;                // the package the run begins with
    std::string m_currentLogPath;
    // Every log of the run, with the package whose script wrote it.
    struct RunLog {
        std::string path;
        int64_t package = 0;
    };
    std::vector<RunLog> m_logsOfRun;
    int64_t m_installingPackage = 0;
    std::vector<FailedItemsLog> m_failedItems;
    std::vector<FailedCopy> m_failedCopies;
    std::vector<int64_t> m_installedPackages;  // packages whose version check passed
    CFileLock m_suiteLock;
    CFileLock m_workLock;
    std::string m_recordPath;
    CRunRecord m_record;
    std::unique_ptr<CKeptLogs> m_keptLogs;  // made with the record
    bool m_recordFinished = false;
    PreflightOutcome m_preflight = PreflightOutcome::NotRun;
    RunOutcome m_run = RunOutcome::NotRun;
    int m_failureCode = 0;
    std::string m_failureReason;  // the journal's words for m_failureCode
    std::string m_lastLine;       // the journal line added last
    std::string m_lastMessage;    // the text of the last message box
    bool m_running = false;
    double m_silenceSeconds = kServerSilenceSeconds;
    std::atomic<bool> m_stopRequested{false};  // read by the call thread
    CCallThread m_calls;  // last: its thread ends before the state its calls use
};

// The archiver's command line that unpacks `packageFile` into the current directory, replacing
// what is there: rar x -o+ "<package>".
std::string ArchiverCommandLine(const std::string& archiverPath, const std::string& packageFile);

// Number of failed items in an update log: each entry is framed by two separator lines.
int CountLogEntries(const std::string& logPath);
