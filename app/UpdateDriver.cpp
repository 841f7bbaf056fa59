#include "app/UpdateDriver.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "app/ErrorText.h"
#include "db/Uglobdb.h"
#include "install/ContentSequence.h"
#include "install/ProgramFiles.h"
#include "install/UpdateLog.h"
#include "platform/ChildProcess.h"
#include "platform/EmbeddedItems.h"
#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/SystemError.h"
#include "platform/WorkDirectory.h"

namespace {

// Failure code of a run whose archiver could not be started at all; an archiver that ran and
// failed gives its own (positive) exit status instead.
constexpr int kArchiverStartFailure = -1;
// While the archiver runs the window is pumped this often (milliseconds).
constexpr int kArchiverPollInterval = 50;

}  // namespace

StartupPaths StartupPaths::FromProcess() {
    StartupPaths paths;
    paths.executablePath = ExecutablePath();
    paths.programDirectory = ::ProgramDirectory();
    paths.tempPath = TempPath();
    return paths;
}

CUpdateDriver::CUpdateDriver(IUpdaterWindow& window, StartupPaths paths)
    : m_window(window), m_paths(std::move(paths)) {
    m_configPath = PathJoin(m_paths.programDirectory, kConfigFileName);
    m_session = std::make_unique<CGlobDB>(m_paths.programDirectory);
    SetGlobDB(m_session.get());
    m_workDirectory = PathJoin(m_paths.tempPath, kWorkDirectoryName);
    m_config = ReadConfig(m_configPath, m_paths.programDirectory);
}

CUpdateDriver::~CUpdateDriver() {
    if (GlobDB() == m_session.get()) {
        SetGlobDB(nullptr);
    }
}

void CUpdateDriver::AppendLine(const std::string& text) {
    m_window.AppendLine(text);
}

void CUpdateDriver::MarkLastLine(const std::string& suffix) {
    m_window.MarkLastLine(suffix);
}

void CUpdateDriver::PumpMessages() {
    m_window.PumpMessages();
}

void CUpdateDriver::SetCurrentLogPath(const std::string& path) {
    m_currentLogPath = path;
    if (std::find(m_logPathsOfRun.begin(), m_logPathsOfRun.end(), path) == m_logPathsOfRun.end()) {
        m_logPathsOfRun.push_back(path);
    }
}

void CUpdateDriver::ShowError(const std::string& text) {
    m_window.ShowMessageBox(MessageKind::Error, kApplicationTitle, WithFullStop(text));
}

void CUpdateDriver::FormShow() {
    try {
        m_preflight = RunPreflight();
    } catch (const std::exception& error) {
        m_preflight = PreflightOutcome::Failed;
        ShowError(error.what());
    }
}

PreflightOutcome CUpdateDriver::RunPreflight() {
    AppendLine("Перевірка запущенної програми...");
    if (IsProcessRunning(m_paths.suiteImageName)) {
        AppendLine("Программа запущена");
        AppendLine("Оновлення не можливо!!!");
        m_window.btOK().SetEnabled(false);
        m_window.ShowMessageBox(
            MessageKind::Warning, "Warning",
            "ПК Тессара запущена. Будь ласка, закрийте програму та перезапустіть оновлення!");
        return PreflightOutcome::SuiteRunning;
    }
    MarkLastLine("OK");

    AppendLine("Підключення до бази даних");
    AppendLine(m_config.databasePath);
    m_session->Connect(m_config.serverType != 0 ? m_config.serverName : std::string(),
                       m_config.databasePath, "", "");
    m_databaseVersion = m_session->GetVersion();
    m_window.lCurVer().SetCaption(std::to_string(m_databaseVersion));
    AppendLine("Версія бази даних: " + std::to_string(m_databaseVersion));

    AppendLine("Наявні пакети оновлення:");
    const CEmbeddedItems items(m_paths.executablePath);
    m_packages = DiscoverPackages(PackageNames(items.Names()), m_window, m_window.lActVer());

    // Compared in 64 bits, so that the highest possible version does not wrap round to "older".
    const int64_t version = m_databaseVersion;
    if (version + 1 < m_packages.lowest) {
        AppendLine("Версія БД меньше номеру пакета оновлень");
        AppendLine("Оновлення не можливо!!!");
        m_window.btOK().SetEnabled(false);
        return PreflightOutcome::DatabaseTooOld;
    }
    if (version < m_packages.highest) {
        MarkLastLine(" [OK]");
        m_window.btOK().SetEnabled(true);
        return PreflightOutcome::Admitted;
    }
    AppendLine("Версія БД більша за номер пакета оновлень");
    AppendLine("Оновлення не можливо!!!");
    m_window.btOK().SetEnabled(false);
    return PreflightOutcome::NothingToInstall;
}

void CUpdateDriver::btOKClick() {
    m_running = true;
    m_failureCode = 0;
    m_logPathsOfRun.clear();
    m_failedItems.clear();
    std::string error;
    try {
        m_run = RunUpdate();
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
}

RunOutcome CUpdateDriver::RunUpdate() {
    IButton& btCancel = m_window.btCancel();
    m_window.btOK().SetEnabled(false);
    btCancel.SetCaption("Відмінити");
    m_window.plUp().SetVisible(true);

    AppendLine("Створення тимчасового каталога");
    // The click shows at once: the disabled button and the first line are painted before the
    // clean-up and the write-out, which take seconds for a large package. The window refuses to
    // close while the run runs, so the enabled btCancel cannot end anything.
    PumpMessages();
    if (!PrepareWorkDirectory()) {
        AppendLine("error");
        return RunOutcome::NotStarted;
    }
    AppendLine(m_workDirectory);

    AppendLine("Наявність архиватора RAR...");
    if (!FileExists(ArchiverPath())) {
        AppendLine("error");
        return RunOutcome::NotStarted;
    }
    MarkLastLine("[OK]");

    for (int64_t number = int64_t{m_databaseVersion} + 1; number <= m_packages.highest; ++number) {
        AppendLine("Копіювання пакету");
        const std::string packageFile = PathJoin(m_workDirectory, std::to_string(number) + ".rar");
        WritePackage(number, packageFile);
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
        DeleteFile(packageFile);
        PumpMessages();

        InstallUnpackedPackage();
        btCancel.SetEnabled(true);
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
                            &m_window.lFile(), &m_window.lUpdateTime());
    InstallProgramFiles(*this, m_workDirectory, &m_window.ProgressBar2(), &m_window.lFile(),
                        &m_window.lUpdateTime());
    PumpMessages();

    m_window.lUpdate().SetVisible(false);
    m_window.ProgressBar2().SetVisible(false);
    m_window.lTextFile().SetVisible(false);
    m_window.lFile().SetVisible(false);
}

void CUpdateDriver::CleanWorkDirectory() {
    // Files directly inside "up", "Report", "Reports" (templates of an earlier package must not
    // be installed again as if the new one held them) and the work directory itself.
    // Subdirectories stay; a link in place of a subdirectory is not followed.
    for (const char* sub : {"up", "Report", "Reports", ""}) {
        const std::string dir = PathJoin(m_workDirectory, sub);
        if (*sub != '\0' && IsSymbolicLink(dir)) {
            continue;
        }
        std::vector<std::string> files;
        ListFiles(dir, "*.*", files);
        for (const std::string& path : files) {
            DeleteFile(path);
        }
    }
}

std::string CUpdateDriver::ArchiverPath() const {
    return PathJoin(m_paths.programDirectory, kArchiverName);
}

void CUpdateDriver::WritePackage(int64_t number, const std::string& packageFile) {
    const std::string name = PackageItemName(number);
    const CEmbeddedItems items(m_paths.executablePath);
    if (items.Find(name) == nullptr) {
        throw std::runtime_error("Resource " + name + " not found");
    }
    // Hundreds of megabytes take a while to write: the window is pumped between the blocks.
    CPumpThrottle throttle(*this);
    try {
        items.ExtractTo(name, packageFile, [&] { throttle.Tick(); });
    } catch (const CEmbeddedItemsError& error) {
        // A damaged package must not be unpacked by a later run either.
        DeleteFile(packageFile);
        const std::string text = error.what();
        throw CEmbeddedItemsError(text.find(name) != std::string::npos
                                      ? text
                                      : "Package " + name + " is damaged: " + text);
    }
}

int CUpdateDriver::Unpack(const std::string& packageFile) {
    // The archiver's path is quoted: the suite's directory may hold blanks.
    const std::string commandLine = "\"" + ArchiverPath() + "\" x -o+ \"" + packageFile + "\" ";
    CChildProcess archiver;
    try {
        archiver.Start(ArchiverPath(), commandLine, m_workDirectory);
    } catch (const CSystemError&) {
        AppendLine("error");
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
        AppendLine("error");
        return archiver.ExitCode();
    }
    return 0;
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
    for (const std::string& path : m_logPathsOfRun) {
        const int count = CountLogEntries(path);
        if (count > 0) {
            m_failedItems.push_back({path, count});
        }
    }
    if (!m_failedItems.empty()) {
        m_window.ShowFailedItems(m_failedItems);
    }
}
