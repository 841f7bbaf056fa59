#include "app/UpdateDriver.h"

#include <exception>
#include <optional>
#include <utility>

#include "app/ErrorText.h"
#include "app/KeptLogs.h"
#include "app/Snapshot.h"
#include "db/DbError.h"
#include "db/Uglobdb.h"
#include "install/ContentSequence.h"
#include "install/PackageLedger.h"
#include "install/ProgramFiles.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"

StartupPaths StartupPaths::FromProcess() {
    StartupPaths paths;
    paths.executablePath = ExecutablePath();
    paths.programDirectory = ::ProgramDirectory();
    paths.tempPath = TempPath();
    return paths;
}

CUpdateDriver::CUpdateDriver(IUpdaterWindow& window, StartupPaths paths, RunMode mode)
    : m_window(window),
      m_paths(std::move(paths)),
      m_configPath(PathJoin(m_paths.programDirectory, kConfigFileName)),
      m_session(std::make_unique<CGlobDB>(m_paths.programDirectory)),
      m_ledger(std::make_unique<CPackageLedger>(m_session->GetDatabase())),
      m_journal(window, mode),
      m_checks(*this, m_journal, window, *m_session, *m_ledger, m_paths, m_config),
      m_unpacker(*this, PathJoin(m_paths.tempPath, kWorkDirectoryName), m_paths.programDirectory,
                 m_paths.executablePath) {
    // The configuration first: when it cannot be read the constructor throws, the destructor does
    // not run, and the process-wide session must not be left pointing at the freed one.
    m_config = ReadConfig(m_configPath, m_paths.programDirectory);
    SetGlobDB(m_session.get());
}

CUpdateDriver::~CUpdateDriver() {
    // The window was closed after the checks admitted the update, without pressing the button.
    if (m_journal.RecordOpen()) {
        FinishRecord("closed without updating");
    }
    if (GlobDB() == m_session.get()) {
        SetGlobDB(nullptr);
    }
}

void CUpdateDriver::SetServerTimeouts(int connectSeconds, double silenceSeconds) {
    m_session->SetConnectTimeout(connectSeconds);
    m_silenceSeconds = silenceSeconds;
}

void CUpdateDriver::PumpMessages() {
    m_journal.Flush();
    m_window.PumpMessages();
    // Every long step pumps: the place where a request to end the program is taken up.
    if (InterruptRequested()) {
        throw Interrupted();
    }
}

void CUpdateDriver::RunBlocking(const std::function<void()>& call) {
    ShowOpenLine();  // the step in hand is shown while the call waits (a locked row: 10 s)
    RunCall(call, true);
}

void CUpdateDriver::StopIfRequested() {
    if (m_stopRequested.load()) {
        throw CRunStopped(CRunStopped::Reason::Interrupted, "stopped");
    }
}

CRunStopped CUpdateDriver::Interrupted() const {
    return CRunStopped(CRunStopped::Reason::Interrupted,
                       "Оновлення перервано (" + InterruptName() +
                           "). Запустіть програму оновлення ще раз: вона продовжить оновлення");
}
void CUpdateDriver::RunCall(const std::function<void()>& call, bool cancellable) {
    if (InterruptRequested()) {
        throw Interrupted();
    }
    m_stopRequested = false;
    std::optional<CSilenceWatch> silence;
    if (cancellable && m_config.serverType != 0) {
        silence.emplace(*m_session, m_silenceSeconds, MonotonicSeconds());
    }
    CallStop stop;
    try {
        m_calls.RunAndWait(
            call,
            [&](CCompletion& done) {
                m_window.PumpUntil(done, kCallWaitSlice);
                if (!done.IsSet()) {
                    WatchCall(stop, silence, cancellable);
                }
            },
            [this] { m_session->CancelCall(true); });
    } catch (...) {
        if (stop.reason) {
            throw *stop.reason;  // what the stopped call says is the consequence, not the cause
        }
        throw;
    }
    while (silence && silence->ProbeRunning(kCallWaitSlice)) {
        m_window.PumpMessages();
    }
    if (stop.reason) {
        throw *stop.reason;
    }
}

void CUpdateDriver::WatchCall(CallStop& stop, std::optional<CSilenceWatch>& silence,
                              bool cancellable) {
    const double now = MonotonicSeconds();
    if (!stop.reason && InterruptRequested()) {
        stop.reason = Interrupted();
        stop.at = now;
        m_stopRequested = true;
        if (cancellable) {
            m_session->CancelCall(false);  // the statement ends, rolled back
        }
    } else if (stop.reason) {
        if (cancellable && !stop.aborted && now - stop.at > kCancelGraceSeconds) {
            // Not ended by the server in time (it may be the one that does not answer).
            m_session->CancelCall(true);
            stop.aborted = true;
        }
    } else if (silence) {
        if (std::optional<CRunStopped> silent = silence->Look(now)) {
            stop.reason = std::move(silent);
            stop.aborted = true;
            m_stopRequested = true;
            m_session->CancelCall(true);  // the connection is closed: the call returns
        }
    }
}

void CUpdateDriver::Connect() {
    const std::string server = m_config.serverType != 0 ? m_config.serverName : std::string();
    const double started = MonotonicSeconds();
    try {
        // Not cancellable: the attachment is made on the helper thread. The connect timeout
        // bounds it.
        ShowOpenLine();
        RunCall([&] { m_session->Connect(server, m_config.databasePath, "", ""); }, false);
    } catch (const CDbError& error) {
        if (!m_session->IsConnectTimeout(error, MonotonicSeconds() - started)) {
            throw;
        }
        const std::string silent = "сервер бази даних не відповідає понад " +
                                   std::to_string(m_session->ConnectTimeout()) + " с";
        AppendLine("error: " + silent);
        // The client's own words for its timer ("connection rejected by remote interface")
        // would say the opposite of what happened: nothing answered, neither a server that
        // accepted the connection nor a host that the address should reach.
        throw CDbError("Не вдалося підключитися до бази даних " + m_session->ConnectionString() +
                       ": " + silent +
                       ": немає відповіді; сервер не працює, перевантажений або недосяжний через "
                       "мережу");
    }
}

void CUpdateDriver::SetCurrentLogPath(const std::string& path) {
    m_currentLogPath = path;
    m_failed.AddLog(path);
}

void CUpdateDriver::ReportFailedCopy(const std::string& destination, const std::string& errorLine) {
    m_failed.AddCopy(destination, errorLine);
}

int CUpdateDriver::ExitStatus() const {
    return ::ExitStatus(m_outcome.preflight, m_outcome.run, m_failed.Count());
}

std::string CUpdateDriver::ExitReason() const {
    return ::ExitReason(m_outcome, m_failed, m_journal.LastLine(), m_journal.LastMessage());
}

void CUpdateDriver::FormShow() {
    m_running = true;
    try {
        m_outcome.preflight = RunPreflight();
        m_running = false;
    } catch (const CRunStopped& stop) {
        m_running = false;
        if (stop.GetReason() == CRunStopped::Reason::Interrupted) {
            m_outcome.preflight = PreflightOutcome::Interrupted;
            AppendLine(stop.what());
            m_window.btOK().SetEnabled(false);
        } else {
            m_outcome.preflight = PreflightOutcome::Failed;
            AppendLine(stop.what());
            m_journal.ShowError(stop.what());
        }
    } catch (const std::exception& error) {
        m_running = false;
        m_outcome.preflight = PreflightOutcome::Failed;
        m_journal.ShowError(error.what());
    }
    if (m_outcome.preflight != PreflightOutcome::Admitted) {
        FinishRecord(OutcomeText(m_outcome, m_failed.Count()));
    }
    // The window may now wait for the button for hours: the record has every line by then.
    m_journal.Flush();
}

PreflightOutcome CUpdateDriver::RunPreflight() {
    RequireWritableDirectory(m_paths.programDirectory);
    if (!TakeLocks()) {
        m_window.btOK().SetEnabled(false);
        return PreflightOutcome::Locked;
    }
    return m_checks.Run([this] { Connect(); });
}

bool CUpdateDriver::TakeLocks() {
    // One updater at a time on the suite. The run record belongs to the holder of this lock, so
    // an updater refused here writes nothing at all.
    if (!m_locks.TakeSuiteLock(m_paths.programDirectory)) {
        m_checks.RefuseLocked(m_locks.Refusal());
        return false;
    }
    m_failed.KeepLogsIn(m_paths.programDirectory, RunStamp(LocalDateTimeText()));
    m_journal.BeginRecord(PathJoin(m_paths.programDirectory, kRunRecordName),
                          m_paths.executablePath);
    // What an earlier run replaced while it was in use goes now, since its programs have ended;
    // under the suite lock, so that no other updater is replacing files meanwhile.
    CleanUpReplacedFiles(*this, m_unpacker.ArchiverPath());
    // A second updater refuses at once rather than waiting for the work directory.
    if (!m_locks.TakeWorkLock(m_unpacker.WorkDirectory())) {
        m_checks.RefuseLocked(m_locks.Refusal());
        return false;
    }
    return true;
}

void CUpdateDriver::btOKClick() {
    m_running = true;
    m_outcome.BeginRun();
    m_failed.BeginRun();
    std::string error;
    try {
        m_outcome.run = RunUpdate();
    } catch (const CRunStopped& stop) {
        // The run ends here, and says why: what it did stays resumable.
        AppendLine(stop.what());
        if (stop.GetReason() == CRunStopped::Reason::Interrupted) {
            m_outcome.run = RunOutcome::Interrupted;
        } else {
            m_outcome.run = RunOutcome::Failed;
            m_outcome.failureCode = kServerNotAnswering;
            m_outcome.failureReason = stop.what();
            AppendLine("Помилка при оновлені: " + std::to_string(m_outcome.failureCode));
        }
        ShowControls(RunStage::Ended);
    } catch (const std::exception& exception) {
        m_outcome.run = RunOutcome::Aborted;
        error = exception.what();
    }
    // The run is over before its error box comes up, so the window may be closed meanwhile.
    m_running = false;
    if (m_outcome.run == RunOutcome::Aborted) {
        m_journal.ShowError(error);
    }
    // Also after an error box: packages installed before it may have left failed statements.
    CollectFailedItems();
    FinishRecord(OutcomeText(m_outcome, m_failed.Count()));
}

RunOutcome CUpdateDriver::RunUpdate() {
    ShowControls(RunStage::Starting);
    if (m_checks.RefuseIfSuiteRunning()) {
        // Refused before anything began: nothing is left to cancel, and the warning asks to
        // close the updater and start it again.
        ShowControls(RunStage::Ended);
        return RunOutcome::NotStarted;
    }

    AppendLine("Створення тимчасового каталога");
    // The click shows at once: the disabled button and the first line are painted before the
    // clean-up and the write-out, which take seconds for a large package. The window refuses to
    // close while the run runs, so the enabled btCancel cannot end anything.
    PumpMessages();
    if (!m_unpacker.PrepareWorkDirectory()) {
        AppendLine("error");
        m_journal.ShowError(m_unpacker.WhyNotUsable());
        return RunOutcome::NotStarted;
    }
    AppendLine(m_unpacker.WorkDirectory());

    AppendLine("Наявність архиватора RAR...");
    if (!FileExists(m_unpacker.ArchiverPath())) {
        AppendLine("error");
        m_journal.ShowError("Не знайдено архіватор " + m_unpacker.ArchiverPath());
        return RunOutcome::NotStarted;
    }
    MarkLastLine("[OK]");

    // Before the first package changes anything: the snapshot that --undo goes back to.
    try {
        TakeSnapshotBeforeRun(*this, *m_session, *m_ledger, m_config, m_paths,
                              m_checks.DatabaseVersion());
    } catch (const CSnapshotRefused& refused) {
        m_journal.ShowError(refused.what());
        return RunOutcome::NotStarted;
    }

    for (int64_t number = m_checks.FirstPackage(); number <= m_checks.Packages().highest;
         ++number) {
        m_outcome.failureCode = InstallPackage(number);
        if (m_outcome.failureCode != 0) {
            break;
        }
    }

    ShowControls(RunStage::Ended);
    if (m_outcome.failureCode != 0) {
        AppendLine("Помилка при оновлені: " + std::to_string(m_outcome.failureCode));
        return RunOutcome::Failed;
    }
    AppendLine("Оновлення завершене успішно");
    return RunOutcome::Succeeded;
}

int CUpdateDriver::InstallPackage(int64_t number) {
    AppendLine("Копіювання пакету");
    const std::string packageFile = m_unpacker.PackageFile(number);
    const std::string sha256 = m_unpacker.WritePackage(number, packageFile);
    AppendLine(packageFile);

    ShowControls(RunStage::Unpacking);
    PumpMessages();
    AppendLine("Розпаковка пакету...");
    if (const int code = m_unpacker.Unpack(packageFile, m_outcome.failureReason); code != 0) {
        // The package file stays for inspection; no installer sees a half-unpacked package.
        ShowControls(RunStage::NotUnpacked);
        return code;
    }
    // Unpacked, the package file is of no more use: deleted before its contents are installed,
    // it does not add its size to the work directory's peak.
    RemoveFileInSteps(packageFile, [this] { PumpMessages(); });
    PumpMessages();

    // From here on the database knows of the package until it is complete, so that a run cut
    // short is continued by the next one.
    RunBlocking([&] { m_ledger->Begin({static_cast<int32_t>(number), sha256}); });
    m_failed.BeginPackage(number);
    const size_t copiesBefore = m_failed.CopyCount();
    InstallUnpackedPackage(number);
    ShowControls(RunStage::Installed);
    if (const int code = CheckInstalledVersion(number); code != 0) {
        // The ledger stays: run again, this package passes over the statements it applied
        // instead of applying them a second time.
        return code;
    }
    if (const size_t failed = m_failed.CopyCount() - copiesBefore; failed > 0) {
        // The package is not complete while the suite lacks its programs: the ledger stays, so
        // the next run passes over its statements and copies its files again. A later package
        // builds on this one and waits for it. The last package is no different: an unfinished
        // package is a failed run whether or not another one follows it.
        AppendLine("Пакет " + std::to_string(number) +
                   " не завершено: не скопійовано файлів: " + std::to_string(failed) +
                   ". Запустіть оновлення ще раз, коли причину буде усунено");
        m_outcome.failureReason = m_journal.LastLine();
        return kFilesNotCopied;
    }
    std::string notDropped;
    RunBlocking([&] { notDropped = m_ledger->Finish(); });
    if (!notDropped.empty()) {
        AppendLine("Пакет " + std::to_string(number) +
                   " встановлено, але таблицю UPD$LEDGER не видалено (" + OneLine(notDropped) +
                   "): її видалить наступний запуск програми оновлення");
    }
    return 0;
}

void CUpdateDriver::InstallUnpackedPackage(int64_t number) {
    AppendLine("Встановлення оновлення");
    ShowControls(RunStage::Installing);
    const std::string& workDirectory = m_unpacker.WorkDirectory();
    // The window has one bar for the pass in hand, and none for the script.
    const ProgressView view{&m_window.ProgressBar2(), nullptr, &m_window.lFile(),
                            &m_window.lUpdateTime()};
    InstallDatabaseContents(m_session->GetDatabase(), *this, workDirectory, view, m_ledger.get());
    InstallProgramFiles(*this, workDirectory, view,
                        {m_unpacker.ArchiverPath(), number < m_checks.Packages().highest});
    PumpMessages();
}

int CUpdateDriver::CheckInstalledVersion(int64_t number) {
    int32_t version = 0;
    RunBlocking([&] { version = m_session->ReadCommittedVersion(); });
    m_window.lCurVer().SetCaption(std::to_string(version));
    if (version >= number) {
        m_outcome.installedPackages.push_back(number);
        return 0;
    }
    // The version script failed or is missing: the next package would build on a database
    // that lacks this one.
    AppendLine("error: після пакета " + std::to_string(number) + " версія бази даних " +
               std::to_string(version));
    m_outcome.failureReason = m_journal.LastLine();
    return kVersionNotReached;
}

namespace {

// What a stage of the run changes in the window; what it leaves unset stays as it was.
struct StageControls {
    std::optional<bool> okEnabled = std::nullopt;
    std::optional<bool> okVisible = std::nullopt;
    const char* cancelCaption = nullptr;
    std::optional<bool> cancelEnabled = std::nullopt;
    std::optional<bool> panelVisible = std::nullopt;  // plUp
    const char* stageCaption = nullptr;               // lUpdate
    std::optional<bool> stageVisible = std::nullopt;
    std::optional<bool> installationVisible = std::nullopt;  // ProgressBar2, lTextFile, lFile
};

}  // namespace

void CUpdateDriver::ShowControls(RunStage stage) {
    static const StageControls kStages[] = {
        // Starting
        {.okEnabled = false, .cancelCaption = "Відмінити", .panelVisible = true},
        // Unpacking: the archiver and the installers are not to be cut short, so btCancel is not
        // offered until the package is done with.
        {.cancelEnabled = false, .stageCaption = "Підготовка оновлення", .stageVisible = true},
        // NotUnpacked
        {.cancelEnabled = true, .stageVisible = false},
        // Installing
        {.stageCaption = "Встановлення оновлення",
         .stageVisible = true,
         .installationVisible = true},
        // Installed
        {.cancelEnabled = true, .stageVisible = false, .installationVisible = false},
        // Ended
        {.okVisible = false, .cancelCaption = "Зачинити", .cancelEnabled = true},
    };
    const StageControls& controls = kStages[static_cast<size_t>(stage)];
    const auto set = [](const std::optional<bool>& value, auto&& apply) {
        if (value) {
            apply(*value);
        }
    };
    set(controls.okEnabled, [&](bool on) { m_window.btOK().SetEnabled(on); });
    set(controls.okVisible, [&](bool on) { m_window.btOK().SetVisible(on); });
    if (controls.cancelCaption != nullptr) {
        m_window.btCancel().SetCaption(controls.cancelCaption);
    }
    set(controls.cancelEnabled, [&](bool on) { m_window.btCancel().SetEnabled(on); });
    set(controls.panelVisible, [&](bool on) { m_window.plUp().SetVisible(on); });
    if (controls.stageCaption != nullptr) {
        m_window.lUpdate().SetCaption(controls.stageCaption);
    }
    set(controls.stageVisible, [&](bool on) { m_window.lUpdate().SetVisible(on); });
    set(controls.installationVisible, [&](bool on) {
        m_window.ProgressBar2().SetVisible(on);
        m_window.lTextFile().SetVisible(on);
        m_window.lFile().SetVisible(on);
    });
}

void CUpdateDriver::CollectFailedItems() {
    m_failed.Collect([this](const std::string& note) { m_journal.Note(note); });
    if (!m_failed.Empty()) {
        m_window.ShowFailedItems(m_failed.Logs(), m_failed.Copies());
    }
}

void CUpdateDriver::FinishRecord(const std::string& outcome) {
    m_journal.FinishRecord(outcome, m_outcome.installedPackages, ExitStatus(), m_failed);
}
