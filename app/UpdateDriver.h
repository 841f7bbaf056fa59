#pragma once
// The update driver: the state of the main window besides its controls, the pre-flight checks
// run when the window is first shown (FormShow) and the update run of the update button
// (btOKClick). It reports through IUpdaterWindow, so the Qt window, console mode and tests
// share it. It is also the owner that the installers report to.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/PackageDiscovery.h"
#include "app/UpdaterWindow.h"
#include "install/Status.h"

class CGlobDB;

// Title of the error box and of the window.
inline constexpr char kApplicationTitle[] = "Оновлення";
// The suite's main program; no update while it runs.
inline constexpr char kSuiteImageName[] = "tessara.exe";
// The archiver beside the updater. On Windows this is "rar.exe".
inline constexpr char kArchiverName[] = "rar";
// Name of the work directory under the temp path, the same for every run.
inline constexpr char kWorkDirectoryName[] = "lib.kvr";

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
    SuiteRunning,    // the suite's main program runs
    Failed,          // an error stopped the checks (error box shown)
    DatabaseTooOld,  // "Версія БД меньше номеру пакета оновлень"
    NothingToInstall,  // "Версія БД більша за номер пакета оновлень"
    Admitted,          // btOK enabled
};

enum class RunOutcome {
    NotRun,
    NotStarted,  // unsafe work directory or no archiver: ended before any package, no final line
    Succeeded,   // "Оновлення завершене успішно"
    Failed,      // "Помилка при оновлені: " + code
    Aborted,     // an error ended the run (error box shown, no final line)
};

class CUpdateDriver : public IOwner {
  public:
    // Fixes the directories, creates the database session (not connected) and makes it the
    // process-wide one, and reads lib.ini. Nothing is created on disk.
    CUpdateDriver(IUpdaterWindow& window, StartupPaths paths);
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

    const CConfig& Config() const { return m_config; }
    const std::string& ConfigPath() const { return m_configPath; }
    const std::string& WorkDirectory() const { return m_workDirectory; }
    int32_t DatabaseVersion() const { return m_databaseVersion; }
    int32_t LowestPackage() const { return m_packages.lowest; }
    int32_t HighestPackage() const { return m_packages.highest; }
    bool IsRunning() const { return m_running; }

    // IOwner
    void AppendLine(const std::string& text) override;
    void MarkLastLine(const std::string& suffix) override;
    void PumpMessages() override;
    std::string CurrentLogPath() const override { return m_currentLogPath; }
    void SetCurrentLogPath(const std::string& path) override;
    std::string ProgramDirectory() const override { return m_paths.programDirectory; }

  private:
    PreflightOutcome RunPreflight();
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
    // and pumping the window between blocks.
    void WritePackage(int64_t number, const std::string& packageFile);
    // Starts the archiver on the package file and waits for it, pumping meanwhile. Returns 0 when
    // it ran and succeeded, otherwise the failure code (and the journal has its "error" line).
    int Unpack(const std::string& packageFile);
    void CollectFailedItems();
    void ShowError(const std::string& text);

    IUpdaterWindow& m_window;
    StartupPaths m_paths;
    std::string m_configPath;
    std::string m_workDirectory;
    CConfig m_config;
    std::unique_ptr<CGlobDB> m_session;
    int32_t m_databaseVersion = 0;
    PackageRange m_packages;
    std::string m_currentLogPath;
    std::vector<std::string> m_logPathsOfRun;  // every distinct log path set during the run
    std::vector<FailedItemsLog> m_failedItems;
    PreflightOutcome m_preflight = PreflightOutcome::NotRun;
    RunOutcome m_run = RunOutcome::NotRun;
    int m_failureCode = 0;
    bool m_running = false;
};

// Number of failed items in an update log: each entry is framed by two separator lines.
int CountLogEntries(const std::string& logPath);
