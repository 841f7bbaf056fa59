#include "app/UpdateDriver.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <future>
#include <optional>
#include <stdexcept>
#include <utility>

#include "app/CommandLine.h"
#include "app/ErrorText.h"
#include "app/KeptLogs.h"
#include "db/DbError.h"
#include "db/Uglobdb.h"
#include "install/ContentSequence.h"
#include "install/PackageLedger.h"
#include "install/ProgramFiles.h"
#include "install/UpdateLog.h"
#include "platform/ChildProcess.h"
#include "platform/Clock.h"
#include "platform/EmbeddedItems.h"
#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/SystemCodePage.h"
#include "platform/SystemError.h"
#include "platform/Text.h"
#include "platform/WorkDirectory.h"

namespace {

// Failure code of a run whose archiver could not be started at all; an archiver that ran and
// failed gives its own (positive) exit status instead.
constexpr int kArchiverStartFailure = -1;
// While the archiver runs the window is pumped this often (milliseconds).
constexpr int kArchiverPollInterval = 50;
// At most this many lines of the archiver's standard error go to the journal.
constexpr size_t kArchiverErrorLines = 20;

const char kSuiteRunningWarning[] =
    "ПК Тессара запущена. Будь ласка, закрийте програму та перезапустіть оновлення!";

// The non-blank lines of a program's output, CR LF or LF ended.
std::vector<std::string> OutputLines(const std::string& text) {
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(text)) {
        const std::string_view trimmed = TrimControl(line);
        if (!trimmed.empty()) {
            lines.emplace_back(trimmed);
        }
    }
    return lines;
}

// An update needs to create and replace files in the suite's directory: without that right (a
// suite under Program Files started without administrator rights) it would change the
// database and then fail on every program file. Refused before anything is touched.
void RequireWritableDirectory(const std::string& directory) {
    try {
        CheckCanCreateFilesIn(directory);
    } catch (const CSystemError& error) {
        throw std::runtime_error("Немає права на запис до каталогу комплексу " + directory + ": " +
                                 SystemMessage(error.Code()) +
                                 ". Оновлення нічого не змінило. Запустіть його від імені "
                                 "адміністратора або користувача, який може змінювати цей "
                                 "каталог");
    }
}

}  // namespace

StartupPaths StartupPaths::FromProcess() {
    StartupPaths paths;
    paths.executablePath = ExecutablePath();
    paths.programDirectory = ::ProgramDirectory();
    paths.tempPath = TempPath();
    return paths;
}

CUpdateDriver::CUpdateDriver(IUpdaterWindow& window, StartupPaths paths, RunMode mode)
    : m_window(window), m_paths(std::move(paths)), m_mode(mode) {
    m_configPath = PathJoin(m_paths.programDirectory, kConfigFileName);
    m_recordPath = PathJoin(m_paths.programDirectory, kRunRecordName);
    m_session = std::make_unique<CGlobDB>(m_paths.programDirectory);
    m_ledger = std::make_unique<CPackageLedger>(m_session->GetDatabase());
    SetGlobDB(m_session.get());
    m_workDirectory = PathJoin(m_paths.tempPath, kWorkDirectoryName);
    m_config = ReadConfig(m_configPath, m_paths.programDirectory);
}

CUpdateDriver::~CUpdateDriver() {
    // The window was closed after the checks admitted the update, without pressing the button.
    if (!m_recordFinished && m_record.IsStarted()) {
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

void CUpdateDriver::AppendLine(const std::string& text) {
    m_lastLine = text;
    m_record.AppendLine(text);
    m_window.AppendLine(text);
}

void CUpdateDriver::MarkLastLine(const std::string& suffix) {
    m_record.MarkLastLine(suffix);
    m_window.MarkLastLine(suffix);
}

void CUpdateDriver::PumpMessages() {
    m_record.Flush();
    m_window.PumpMessages();
    // Every long step pumps: the place where a request to end the program is taken up.
    if (InterruptRequested()) {
        throw Interrupted();
    }
}

void CUpdateDriver::RunBlocking(const std::function<void()>& call) {
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
    m_calls.Start(call);
    // While the call runs, the window answers; between its slices the run looks for a request
    // to end the program and, with a server, for a server that stopped answering.
    const double started = MonotonicSeconds();
    double answeredAt = started;  // the server was last known to answer
    std::future<bool> probe;
    std::optional<CRunStopped> stop;
    double cancelledAt = 0;
    bool aborted = false;
    while (!m_calls.Done().IsSet()) {
        m_window.PumpUntil(m_calls.Done(), kCallWaitSlice);
        const double now = MonotonicSeconds();
        if (m_calls.Done().IsSet()) {
            break;
        }
        if (!stop && InterruptRequested()) {
            stop = Interrupted();
            m_stopRequested = true;
            cancelledAt = now;
            if (cancellable) {
                m_session->CancelCall(false);  // the statement ends, rolled back
            }
        } else if (stop && cancellable && !aborted && now - cancelledAt > kCancelGraceSeconds) {
            // Not ended by the server in time (it may be the one that does not answer).
            m_session->CancelCall(true);
            aborted = true;
        }
        if (stop || !cancellable || m_config.serverType == 0) {
            continue;
        }
        // A call may rightly take long (an index on a large table): a fresh connection tells
        // whether the server still answers at all.
        if (!probe.valid() && now - answeredAt >= m_silenceSeconds) {
            probe = std::async(std::launch::async, [this] { return m_session->ServerAnswers(); });
        }
        if (probe.valid() && probe.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            if (probe.get()) {
                answeredAt = now;
            } else {
                stop = CRunStopped(CRunStopped::Reason::ServerSilent,
                                   "error: сервер бази даних не відповідає понад " +
                                       std::to_string(static_cast<int>(now - started)) +
                                       " с. Запустіть програму оновлення ще раз, коли сервер "
                                       "відповідатиме: вона продовжить оновлення");
                m_stopRequested = true;
                m_session->CancelCall(true);  // the connection is closed: the call returns
                aborted = true;
            }
        }
    }
    // A probe still on its way has a bounded wait of its own.
    while (probe.valid() && probe.wait_for(std::chrono::duration<double>(kCallWaitSlice)) !=
                                std::future_status::ready) {
        m_window.PumpMessages();
    }
    try {
        m_calls.Finish();
    } catch (...) {
        if (stop) {
            throw *stop;  // what the stopped call says is the consequence, not the cause
        }
        throw;
    }
    if (stop) {
        throw *stop;
    }
}

void CUpdateDriver::Connect() {
    const std::string server = m_config.serverType != 0 ? m_config.serverName : std::string();
    const double started = MonotonicSeconds();
    try {
        // Not cancellable: the attachment is made on the helper thread. The connect timeout
        // bounds it.
        RunCall([&] { m_session->Connect(server, m_config.databasePath, "", ""); }, false);
    } catch (const CDbError& error) {
        if (!m_session->IsConnectTimeout(error, MonotonicSeconds() - started)) {
            throw;
        }
        const std::string silent = "сервер бази даних не відповідає понад " +
                                   std::to_string(m_session->ConnectTimeout()) + " с";
        AppendLine("error: " + silent);
        throw CDbError("Не вдалося підключитися до бази даних " + m_session->ConnectionString() +
                       ": " + silent + " (" + OneLine(error.what()) + ")");
    }
}

void CUpdateDriver::ReportFailedCopy(const std::string& destination, const std::string& errorLine) {
    m_failedCopies.push_back({destination, errorLine});
}

void CUpdateDriver::SetCurrentLogPath(const std::string& path) {
    m_currentLogPath = path;
    for (RunLog& log : m_logsOfRun) {
        if (log.path != path) {
            continue;
        }
        // A script of an earlier package of this run had the same name, and its log would be
        // replaced by this script's: it is kept under that package's number.
        const std::string stem = path.ends_with(".log") ? path.substr(0, path.size() - 4) : path;
        const std::string kept = stem + "." + std::to_string(log.package) + ".log";
        if (log.package == m_installingPackage || !RenameFile(path, kept)) {
            return;
        }
        log.path = kept;
        break;
    }
    m_logsOfRun.push_back({path, m_installingPackage});
}

void CUpdateDriver::ShowError(const std::string& text) {
    ShowBox(MessageKind::Error, kApplicationTitle, WithFullStop(text));
}

void CUpdateDriver::ShowBox(MessageKind kind, const std::string& title, const std::string& text) {
    m_lastMessage = text;
    m_record.Note("[message] " + text);
    m_window.ShowMessageBox(kind, title, text);
}

void CUpdateDriver::FormShow() {
    m_running = true;
    try {
        m_preflight = RunPreflight();
        m_running = false;
    } catch (const CRunStopped& stop) {
        m_running = false;
        if (stop.GetReason() == CRunStopped::Reason::Interrupted) {
            m_preflight = PreflightOutcome::Interrupted;
            AppendLine(stop.what());
            m_window.btOK().SetEnabled(false);
        } else {
            m_preflight = PreflightOutcome::Failed;
            AppendLine(stop.what());
            ShowError(stop.what());
        }
    } catch (const std::exception& error) {
        m_running = false;
        m_preflight = PreflightOutcome::Failed;
        ShowError(error.what());
    }
    if (m_preflight != PreflightOutcome::Admitted) {
        FinishRecord(OutcomeText());
    }
    // The window may now wait for the button for hours: the record has every line by then.
    m_record.Flush();
}

bool CUpdateDriver::TakeLocks() {
    // One updater at a time on the suite. The run record belongs to the holder of this lock, so
    // an updater refused here writes nothing at all.
    const std::string suiteLock = PathJoin(m_paths.programDirectory, kSuiteLockName);
    // The suite's directory is shared by its users: any of them may update it, one at a time.
    if (!TryLock(m_suiteLock, suiteLock, CFileLock::Holders::DirectoryUsers)) {
        RefuseLocked("Інша програма оновлення вже працює з цим комплексом (" + suiteLock + ")");
        return false;
    }
    m_keptLogs =
        std::make_unique<CKeptLogs>(m_paths.programDirectory, RunStamp(LocalDateTimeText()));
    m_record.Begin(m_recordPath, m_mode == RunMode::Console ? "console" : "window",
                   m_paths.executablePath);
    if (!m_record.Problem().empty()) {
        AppendLine(m_record.Problem());
    }
    // Updaters of other suites share the temporary directory and its fixed work directory. A
    // second one refuses at once rather than waiting: the first may run for many minutes, and
    // an administrator can start it again as soon as the first has finished.
    const std::string workLock = m_workDirectory + kLockFileEnding;
    if (!TryLock(m_workLock, workLock, CFileLock::Holders::CurrentUser)) {
        RefuseLocked("Інша програма оновлення вже працює у спільному тимчасовому каталозі (" +
                     workLock + ")");
        return false;
    }
    return true;
}

bool CUpdateDriver::TryLock(CFileLock& lock, const std::string& path, CFileLock::Holders holders) {
    try {
        return lock.TryAcquire(path, holders);
    } catch (const CSystemError& error) {
        throw CSystemError(error.Code(), "Не вдалося відкрити файл блокування " + path + ": " +
                                             WhyNotOpened(path, error));
    }
}

void CUpdateDriver::RefuseLocked(const std::string& reason) {
    // The window says why it stays empty; the box says what to do.
    AppendLine(reason);
    RefuseUpdate();
    ShowError(reason + ". Дочекайтеся її завершення та перезапустіть оновлення!");
}

void CUpdateDriver::RefuseSuiteRunning(const std::string& where) {
    AppendLine("Программа запущена");
    if (!where.empty()) {
        AppendLine("Підключені до бази даних: " + where);
    }
    RefuseUpdate();
    ShowBox(MessageKind::Warning, "Warning", kSuiteRunningWarning);
}

void CUpdateDriver::RefuseUpdate() {
    AppendLine("Оновлення не можливо!!!");
    m_window.btOK().SetEnabled(false);
}

std::string CUpdateDriver::SuiteAttachedElsewhere() {
    // The process check sees this machine only; the server knows every workstation's program.
    std::string where;
    std::vector<CAttachmentInfo> attachments;
    RunBlocking([&] { attachments = m_session->OtherAttachments(); });
    for (const CAttachmentInfo& attachment : attachments) {
        // The client's process path may come from Windows or POSIX.
        const std::string image = ExtractFileNameAnySeparator(attachment.process);
        if (!EqualsIgnoreAsciiCase(image, kSuiteImageName) &&
            !EqualsIgnoreAsciiCase(image, kUpdaterProcessName)) {
            continue;
        }
        where += (where.empty() ? "" : ", ") +
                 (attachment.host.empty() ? image : attachment.host + " (" + image + ")");
    }
    return where;
}

PreflightOutcome CUpdateDriver::RunPreflight() {
    RequireWritableDirectory(m_paths.programDirectory);
    if (!TakeLocks()) {
        m_window.btOK().SetEnabled(false);
        return PreflightOutcome::Locked;
    }
    AppendLine("Перевірка запущенної програми...");
    if (IsProcessRunning(m_paths.suiteImageName)) {
        RefuseSuiteRunning("");
        return PreflightOutcome::SuiteRunning;
    }
    MarkLastLine("OK");

    AppendLine("Підключення до бази даних");
    AppendLine(m_config.databasePath);
    Connect();
    if (m_config.serverType != 0) {
        const std::string where = SuiteAttachedElsewhere();
        if (!where.empty()) {
            RefuseSuiteRunning(where);
            return PreflightOutcome::SuiteRunning;
        }
    }
    RunBlocking([&] { m_databaseVersion = m_session->GetVersion(); });
    m_window.lCurVer().SetCaption(std::to_string(m_databaseVersion));
    AppendLine("Версія бази даних: " + std::to_string(m_databaseVersion));

    AppendLine("Наявні пакети оновлення:");
    const std::string damaged = "Програма оновлення " + m_paths.executablePath + " пошкоджена: ";
    const CEmbeddedItems items = [&] {
        try {
            return CEmbeddedItems(m_paths.executablePath);
        } catch (const CEmbeddedItemsError& error) {
            throw CEmbeddedItemsError(damaged + error.what());
        }
    }();
    const std::vector<std::string> packageNames = PackageNames(items.Names());
    if (packageNames.empty()) {
        // Packing refuses an updater without packages: this one was cut short at the end of
        // its program, or its packages were stripped. "Nothing to install" would be false.
        throw CEmbeddedItemsError(damaged + "вона не містить жодного пакета оновлення");
    }
    m_packages = DiscoverPackages(packageNames, *this, m_window.lActVer());

    // A package that a run began and did not finish comes first, whatever the version says:
    // its version script may have run already.
    std::optional<LedgerPackage> unfinished;
    RunBlocking([&] { unfinished = m_ledger->Unfinished(); });
    if (unfinished) {
        return ResumeGate(*unfinished, items);
    }
    // Compared in 64 bits, so that the highest possible version does not wrap round to "older".
    const int64_t version = m_databaseVersion;
    m_firstPackage = version + 1;
    if (version + 1 < m_packages.lowest) {
        AppendLine("Версія БД меньше номеру пакета оновлень");
        RefuseUpdate();
        return PreflightOutcome::DatabaseTooOld;
    }
    if (version < m_packages.highest) {
        MarkLastLine(" [OK]");
        m_window.btOK().SetEnabled(true);
        return PreflightOutcome::Admitted;
    }
    AppendLine("Версія БД більша за номер пакета оновлень");
    RefuseUpdate();
    return PreflightOutcome::NothingToInstall;
}

PreflightOutcome CUpdateDriver::ResumeGate(const LedgerPackage& unfinished,
                                           const CEmbeddedItems& items) {
    const std::string number = std::to_string(unfinished.number);
    const EmbeddedItem* item = items.Find(PackageItemName(unfinished.number));
    const int64_t version = m_databaseVersion;
    std::string reason;
    if (item == nullptr) {
        reason = "Незавершеного пакета " + number + " немає в цій програмі оновлення";
    } else if (item->sha256 != unfinished.sha256) {
        reason = "Незавершений пакет " + number + " відрізняється від пакета цієї програми";
    } else if (version + 1 < unfinished.number || version > unfinished.number) {
        reason = "Версія БД не відповідає незавершеному пакету " + number;
    }
    if (!reason.empty()) {
        // Starting the package afresh would apply its statements a second time.
        AppendLine(reason);
        RefuseUpdate();
        ShowError("Оновлення пакетом " + number +
                  " було перервано. Продовжити його може лише програма оновлення з тим самим "
                  "пакетом " +
                  number + " (SHA-256 " + unfinished.sha256 + ")");
        return PreflightOutcome::UnfinishedElsewhere;
    }
    MarkLastLine(" [OK]");
    AppendLine("Пакет " + number + " встановлено не до кінця: його буде продовжено");
    m_firstPackage = unfinished.number;
    m_window.btOK().SetEnabled(true);
    return PreflightOutcome::Admitted;
}

void CUpdateDriver::btOKClick() {
    m_running = true;
    m_failureCode = 0;
    m_failureReason.clear();
    m_logsOfRun.clear();
    m_failedItems.clear();
    m_failedCopies.clear();
    m_installedPackages.clear();
    std::string error;
    try {
        m_run = RunUpdate();
    } catch (const CRunStopped& stop) {
        // The run ends here, and says why: what it did stays resumable.
        AppendLine(stop.what());
        if (stop.GetReason() == CRunStopped::Reason::Interrupted) {
            m_run = RunOutcome::Interrupted;
        } else {
            m_run = RunOutcome::Failed;
            m_failureCode = kServerNotAnswering;
            m_failureReason = stop.what();
            AppendLine("Помилка при оновлені: " + std::to_string(m_failureCode));
        }
        m_window.btOK().SetVisible(false);
        m_window.btCancel().SetCaption("Зачинити");
        m_window.btCancel().SetEnabled(true);
    } catch (const std::exception& exception) {
        m_run = RunOutcome::Aborted;
        error = exception.what();
    }
    // The run is over before its error box comes up, so the window may be closed meanwhile.
    m_running = false;
    if (m_run == RunOutcome::Aborted) {
        ShowError(error);
    }
    // Also after an error box: packages installed before it may have left failed statements.
    CollectFailedItems();
    FinishRecord(OutcomeText());
}

RunOutcome CUpdateDriver::RunUpdate() {
    IButton& btCancel = m_window.btCancel();
    m_window.btOK().SetEnabled(false);
    btCancel.SetCaption("Відмінити");
    m_window.plUp().SetVisible(true);

    // The window may have waited for hours since its checks: the suite may run by now.
    std::string where;
    if (IsProcessRunning(m_paths.suiteImageName) ||
        (m_config.serverType != 0 && !(where = SuiteAttachedElsewhere()).empty())) {
        RefuseSuiteRunning(where);
        return RunOutcome::NotStarted;
    }

    AppendLine("Створення тимчасового каталога");
    // The click shows at once: the disabled button and the first line are painted before the
    // clean-up and the write-out, which take seconds for a large package. The window refuses to
    // close while the run runs, so the enabled btCancel cannot end anything.
    PumpMessages();
    if (!PrepareWorkDirectory()) {
        AppendLine("error");
        ShowError(IsSymbolicLink(m_workDirectory)
                      ? "Робочий каталог " + m_workDirectory +
                            " є посиланням, тому оновлення його не використовує"
                      : "Робочий каталог " + m_workDirectory +
                            " належить іншому користувачеві, тому оновлення його не використовує");
        return RunOutcome::NotStarted;
    }
    AppendLine(m_workDirectory);

    AppendLine("Наявність архиватора RAR...");
    if (!FileExists(ArchiverPath())) {
        AppendLine("error");
        ShowError("Не знайдено архіватор " + ArchiverPath());
        return RunOutcome::NotStarted;
    }
    MarkLastLine("[OK]");

    for (int64_t number = m_firstPackage; number <= m_packages.highest; ++number) {
        AppendLine("Копіювання пакету");
        const std::string packageFile = PathJoin(m_workDirectory, std::to_string(number) + ".rar");
        const std::string sha256 = WritePackage(number, packageFile);
        AppendLine(packageFile);

        m_window.lUpdate().SetCaption("Підготовка оновлення");
        m_window.lUpdate().SetVisible(true);
        btCancel.SetEnabled(false);
        PumpMessages();

        AppendLine("Розпаковка пакету...");
        m_failureCode = Unpack(packageFile);
        if (m_failureCode != 0) {
            // The package file stays for inspection; no installer sees a half-unpacked package.
            m_window.lUpdate().SetVisible(false);
            btCancel.SetEnabled(true);
            break;
        }
        // Unpacked, the package file is of no more use: deleted before its contents are
        // installed, it does not add its size to the work directory's peak.
        RemoveFileInSteps(packageFile, [this] { PumpMessages(); });
        PumpMessages();

        // From here on the database knows of the package until it is complete, so that a run
        // cut short is continued by the next one.
        RunBlocking([&] { m_ledger->Begin({static_cast<int32_t>(number), sha256}); });
        m_installingPackage = number;
        const size_t copiesBefore = m_failedCopies.size();
        InstallUnpackedPackage();
        btCancel.SetEnabled(true);
        m_failureCode = CheckInstalledVersion(number);
        if (m_failureCode != 0) {
            // The ledger stays: run again, this package passes over the statements it applied
            // instead of applying them a second time.
            break;
        }
        if (const size_t failed = m_failedCopies.size() - copiesBefore; failed > 0) {
            // The package is not complete while the suite lacks its programs: the ledger stays,
            // so the next run passes over its statements and copies its files again. A later
            // package builds on this one and waits for it.
            AppendLine("Пакет " + std::to_string(number) +
                       " не завершено: не скопійовано файлів: " + std::to_string(failed) +
                       ". Запустіть оновлення ще раз, коли причину буде усунено");
            if (number < m_packages.highest) {
                m_failureReason = m_lastLine;
                m_failureCode = kFilesNotCopied;
                break;
            }
            continue;
        }
        RunBlocking([&] { m_ledger->Finish(); });
    }

    m_window.btOK().SetVisible(false);
    btCancel.SetCaption("Зачинити");
    if (m_failureCode != 0) {
        AppendLine("Помилка при оновлені: " + std::to_string(m_failureCode));
        return RunOutcome::Failed;
    }
    AppendLine("Оновлення завершене успішно");
    return RunOutcome::Succeeded;
}

bool CUpdateDriver::PrepareWorkDirectory() {
    // Another user could plant a link or a directory of their own at the fixed name under the
    // shared temporary directory: then nothing there is touched.
    switch (InspectWorkDirectory(m_workDirectory)) {
        case WorkDirectoryState::Unsafe:
            return false;
        case WorkDirectoryState::Owned:
            RestrictToOwner(m_workDirectory);
            if (DirectoryExists(m_workDirectory)) {
                CleanWorkDirectory();
            }
            return true;
        case WorkDirectoryState::Missing:
            CreatePrivateDirectory(m_workDirectory);
            // Someone may have planted a link at the name between the look and the creation
            // (which then failed): that is no directory of ours either.
            return InspectWorkDirectory(m_workDirectory) != WorkDirectoryState::Unsafe;
    }
    return false;
}

void CUpdateDriver::InstallUnpackedPackage() {
    AppendLine("Встановлення оновлення");
    m_window.lUpdate().SetCaption("Встановлення оновлення");
    m_window.lUpdate().SetVisible(true);
    m_window.ProgressBar2().SetVisible(true);
    m_window.lTextFile().SetVisible(true);
    m_window.lFile().SetVisible(true);

    InstallDatabaseContents(*this, m_workDirectory, &m_window.ProgressBar2(), nullptr,
                            &m_window.lFile(), &m_window.lUpdateTime(), m_ledger.get());
    InstallProgramFiles(*this, m_workDirectory, &m_window.ProgressBar2(), &m_window.lFile(),
                        &m_window.lUpdateTime());
    PumpMessages();

    m_window.lUpdate().SetVisible(false);
    m_window.ProgressBar2().SetVisible(false);
    m_window.lTextFile().SetVisible(false);
    m_window.lFile().SetVisible(false);
}

void CUpdateDriver::CleanWorkDirectory() {
    // The directory is private to the updater: whatever an earlier run left goes, subdirectories
    // included (templates of an earlier package must not be installed again as if the new one
    // held them, a directory named like the package file must not block it). A link inside is
    // removed, never followed.
    DeleteDirectoryContents(m_workDirectory);
}

int CUpdateDriver::CheckInstalledVersion(int64_t number) {
    int32_t version = 0;
    RunBlocking([&] { version = m_session->ReadCommittedVersion(); });
    m_window.lCurVer().SetCaption(std::to_string(version));
    if (version >= number) {
        m_installedPackages.push_back(number);
        return 0;
    }
    // The version script failed or is missing: the next package would build on a database
    // that lacks this one.
    AppendLine("error: після пакета " + std::to_string(number) + " версія бази даних " +
               std::to_string(version));
    m_failureReason = m_lastLine;
    return kVersionNotReached;
}

std::string CUpdateDriver::ArchiverPath() const {
    return PathJoin(m_paths.programDirectory, ProgramFileName(kArchiverProgram));
}

std::string CUpdateDriver::WritePackage(int64_t number, const std::string& packageFile) {
    const std::string name = PackageItemName(number);
    const CEmbeddedItems items(m_paths.executablePath);
    const EmbeddedItem* item = items.Find(name);
    if (item == nullptr) {
        throw std::runtime_error("Resource " + name + " not found");
    }
    // Hundreds of megabytes take a while to write: the window is pumped between the blocks.
    CPumpThrottle throttle(*this);
    try {
        items.ExtractTo(name, packageFile, [&] { throttle.Tick(); });
    } catch (const CEmbeddedItemsError& error) {
        // A damaged package must not be unpacked by a later run either.
        RemoveFile(packageFile);
        const std::string text = error.what();
        throw CEmbeddedItemsError(text.find(name) != std::string::npos
                                      ? text
                                      : "Package " + name + " is damaged: " + text);
    }
    return item->sha256;
}

int CUpdateDriver::Unpack(const std::string& packageFile) {
    CChildProcess archiver;
    try {
        // Captured: the archiver's own message says why it failed.
        archiver.Start(ArchiverPath(), ArchiverCommandLine(ArchiverPath(), packageFile),
                       m_workDirectory, CChildProcess::Output::Capture);
    } catch (const CSystemError& error) {
        AppendLine("error (" + std::to_string(kArchiverStartFailure) + ") " +
                   OneLine(error.what()));
        m_failureReason = "архіватор не запущено: " + m_lastLine;
        return kArchiverStartFailure;
    }
    MarkLastLine("[OK]");
    // Waiting in slices keeps the window painted; btCancel is disabled, so pumping cannot
    // start or end anything.
    while (!archiver.Wait(kArchiverPollInterval)) {
        PumpMessages();
    }
    // An archiver that failed left a damaged or partial package behind: install nothing of it.
    if (archiver.ExitCode() != 0) {
        const std::string prefix = "error (" + std::to_string(archiver.ExitCode()) + ")";
        std::vector<std::string> lines =
            OutputLines(FromConsoleCodePage(archiver.CapturedErrors()));
        if (lines.empty()) {
            AppendLine(prefix);
        }
        lines.resize(std::min(lines.size(), kArchiverErrorLines));
        for (const std::string& line : lines) {
            AppendLine(prefix + " " + line);
        }
        m_failureReason = "архіватор не розпакував пакет: " +
                          (lines.empty() ? prefix : prefix + " " + lines.front());
        return archiver.ExitCode();
    }
    return 0;
}

std::string ArchiverCommandLine(const std::string& archiverPath, const std::string& packageFile) {
    // The paths are quoted: the suite's directory may hold blanks.
    return "\"" + archiverPath + "\" x -o+ \"" + packageFile + "\" ";
}

int CountLogEntries(const std::string& logPath) {
    std::string text;
    try {
        text = ReadWholeFile(logPath);
    } catch (const std::exception&) {
        return 0;
    }
    const std::string separator = kLogSeparator;
    int separators = 0;
    for (size_t pos = text.find(separator); pos != std::string::npos;
         pos = text.find(separator, pos + separator.size())) {
        ++separators;
    }
    return (separators + 1) / 2;
}

void CUpdateDriver::CollectFailedItems() {
    for (const RunLog& log : m_logsOfRun) {
        const int count = CountLogEntries(log.path);
        if (count == 0) {
            continue;
        }
        // The next run empties the work directory: the log is kept beside the run record, and
        // everyone who points at it points at the copy.
        std::string path = log.path;
        try {
            if (m_keptLogs) {
                path = m_keptLogs->Keep(log.path, log.package);
            }
        } catch (const std::exception& error) {
            m_record.Note("[note] the log " + log.path + " was not kept: " + error.what());
        }
        m_failedItems.push_back({path, count});
    }
    if (!m_failedItems.empty() || !m_failedCopies.empty()) {
        m_window.ShowFailedItems(m_failedItems, m_failedCopies);
    }
}

int CUpdateDriver::FailedItemCount() const {
    return FailedItemsTotal(m_failedItems, m_failedCopies);
}

int CUpdateDriver::ExitStatus() const {
    switch (m_preflight) {
        case PreflightOutcome::NothingToInstall:
            return kExitNothingToInstall;
        case PreflightOutcome::Interrupted:
            return kExitInterrupted;
        case PreflightOutcome::Admitted:
            break;
        default:
            return kExitNotStarted;
    }
    switch (m_run) {
        case RunOutcome::NotRun:
        case RunOutcome::NotStarted:
            return kExitNotStarted;
        case RunOutcome::Interrupted:
            return kExitInterrupted;
        case RunOutcome::Succeeded:
            return FailedItemCount() > 0 ? kExitItemsFailed : kExitUpdated;
        case RunOutcome::Failed:
        case RunOutcome::Aborted:
            break;
    }
    return kExitRunFailed;
}

std::string CUpdateDriver::ExitReason() const {
    switch (m_preflight) {
        case PreflightOutcome::NotRun:
            return "перевірки не виконано";
        case PreflightOutcome::DatabaseTooOld:
            return "Версія БД меньше номеру пакета оновлень: оновлення не можливо";
        case PreflightOutcome::NothingToInstall:
            return "Версія БД більша за номер пакета оновлень: встановлювати нічого";
        case PreflightOutcome::Locked:
        case PreflightOutcome::SuiteRunning:
        case PreflightOutcome::Failed:
        case PreflightOutcome::UnfinishedElsewhere:
            return OneLine(m_lastMessage);
        case PreflightOutcome::Interrupted:
            return m_lastLine;
        case PreflightOutcome::Admitted:
            break;
    }
    switch (m_run) {
        case RunOutcome::NotRun:
            return "оновлення не запущено";
        case RunOutcome::NotStarted:
        case RunOutcome::Aborted:
            return OneLine(m_lastMessage);
        case RunOutcome::Succeeded:
            return FailedItemCount() > 0
                       ? FailedItemsText(m_failedItems, m_failedCopies) + " (оновлення завершене)"
                       : std::string();
        case RunOutcome::Failed:
            return (m_failureReason.empty() ? std::string() : m_failureReason + "; ") +
                   "Помилка при оновлені: " + std::to_string(m_failureCode);
        case RunOutcome::Interrupted:
            return m_lastLine;
    }
    return {};
}

std::string CUpdateDriver::OutcomeText() const {
    switch (m_preflight) {
        case PreflightOutcome::NotRun:
            return "not checked";
        case PreflightOutcome::Locked:
            return "refused: another updater is running";
        case PreflightOutcome::SuiteRunning:
            return "refused: the suite is running";
        case PreflightOutcome::Failed:
            return "refused: the checks failed";
        case PreflightOutcome::DatabaseTooOld:
            return "refused: the database is older than the packages allow";
        case PreflightOutcome::NothingToInstall:
            return "nothing to install";
        case PreflightOutcome::UnfinishedElsewhere:
            return "refused: an interrupted package this updater cannot continue";
        case PreflightOutcome::Interrupted:
            return "interrupted by " + InterruptName() + " during the checks";
        case PreflightOutcome::Admitted:
            break;
    }
    switch (m_run) {
        case RunOutcome::NotRun:
            return "admitted, not run";
        case RunOutcome::NotStarted:
            return "not started";
        case RunOutcome::Succeeded:
            return FailedItemCount() > 0 ? "succeeded with failed items" : "succeeded";
        case RunOutcome::Failed:
            return "failed with code " + std::to_string(m_failureCode);
        case RunOutcome::Aborted:
            return "ended by an error";
        case RunOutcome::Interrupted:
            return "interrupted by " + InterruptName();
    }
    return {};
}

void CUpdateDriver::FinishRecord(const std::string& outcome) {
    if (!m_record.IsStarted()) {
        return;
    }
    m_recordFinished = true;
    std::string packages;
    for (const int64_t number : m_installedPackages) {
        packages += " " + std::to_string(number);
    }
    m_record.Note("[packages]" + (packages.empty() ? std::string(" none") : packages));
    const std::string status = std::to_string(ExitStatus());
    m_record.Note(kOutcomeMark + outcome +
                  (m_mode == RunMode::Console ? ", exit status " + status
                                              : " (exit status " + status + " in console mode)"));
    for (const FailedItemsLog& log : m_failedItems) {
        m_record.Note("[failed] " + std::to_string(log.count) + " in " + log.path);
    }
    for (const FailedCopy& copy : m_failedCopies) {
        m_record.Note("[failed] copy " + copy.destination + ": " + copy.error);
    }
}
