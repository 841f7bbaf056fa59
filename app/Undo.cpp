#include "app/Undo.h"

#include <exception>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>

#include "app/CommandLine.h"
#include "app/Config.h"
#include "app/ConsoleMode.h"
#include "app/ErrorText.h"
#include "app/FailedItems.h"
#include "app/Preflight.h"
#include "app/RunJournal.h"
#include "app/RunLocks.h"
#include "db/Uglobdb.h"
#include "platform/CallThread.h"
#include "platform/Directory.h"
#include "platform/FileSystem.h"
#include "platform/Interrupt.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/SystemError.h"

namespace {

constexpr char kFilesDirectory[] = "files";
constexpr char kAddedDirectory[] = "added";
const char kSuiteRunningWarning[] =
    "ПК Тессара запущена. Будь ласка, закрийте програму та перезапустіть скасування оновлення!";

// Ends the undo with an exit status; what() is the reason for standard error.
class CUndoStop : public std::runtime_error {
  public:
    CUndoStop(int status, const std::string& reason)
        : std::runtime_error(reason), m_status(status) {}
    int Status() const { return m_status; }

  private:
    int m_status;
};

std::string ToLocalSeparators(std::string relative) {
    for (char& c : relative) {
        if (c == '/') {
            c = kPathSeparator;
        }
    }
    return relative;
}

// The undo, in two steps so that a window can show what it would undo before it starts: Check
// takes the locks and finds the snapshot, Finish undoes. Both throw CUndoStop for every ending
// but success. The database calls run on a helper thread while the window answers.
class CUndo {
  public:
    CUndo(const StartupPaths& paths, IUpdaterWindow& window, RunMode mode)
        : m_paths(paths),
          m_window(window),
          m_journal(window, mode),
          m_configPath(PathJoin(paths.programDirectory, kConfigFileName)),
          m_session(paths.programDirectory) {}

    void Check();
    void Finish();
    CRunJournal& Journal() { return m_journal; }

  private:
    void Line(const std::string& text) { m_journal.AppendLine(text); }
    void Mark(const std::string& text) { m_journal.MarkLastLine(text); }
    void StopIfInterrupted();
    void TakeLocksAndCheck();
    SnapshotManifest NewestSnapshot();
    // Restores the snapshot into its new file and checks it; false when lib.ini already names
    // that file (an undo cut short after the switch).
    void RestoreAndSwitch(SnapshotManifest& manifest);
    void RestoreProgramFiles(const SnapshotManifest& manifest);
    // Runs a database call on the helper thread; the window answers meanwhile.
    void Blocking(const std::function<void()>& call);

    const StartupPaths m_paths;
    IUpdaterWindow& m_window;
    CRunJournal m_journal;
    std::string m_configPath;
    CConfig m_config;
    CRunLocks m_locks;
    CGlobDB m_session;
    SnapshotManifest m_manifest;
    CCallThread m_calls;  // last: its thread ends before the state its calls use
};

// A window's messages are answered this often while a database call runs.
constexpr double kCallWaitSlice = 0.05;

void CUndo::Blocking(const std::function<void()>& call) {
    m_window.ShowOpenLine();
    m_calls.RunAndWait(
        call, [this](CCompletion& done) { m_window.PumpUntil(done, kCallWaitSlice); }, [] {});
}

void CUndo::StopIfInterrupted() {
    if (InterruptRequested()) {
        const std::string text = "Скасування оновлення перервано (" + InterruptName() +
                                 "). Запустіть tessara-updater --undo ще раз: воно завершить "
                                 "скасування";
        Line(text);
        throw CUndoStop(kExitInterrupted, text);
    }
}

void CUndo::TakeLocksAndCheck() {
    RequireWritableDirectory(m_paths.programDirectory);
    if (!m_locks.TakeSuiteLock(m_paths.programDirectory)) {
        m_journal.ShowError(m_locks.Refusal() + ". Дочекайтеся її завершення та повторіть");
        throw CUndoStop(kExitNotStarted, m_locks.Refusal());
    }
    m_journal.BeginRecord(PathJoin(m_paths.programDirectory, kRunRecordName),
                          m_paths.executablePath);
    if (!m_locks.TakeWorkLock(PathJoin(m_paths.tempPath, kWorkDirectoryName))) {
        m_journal.ShowError(m_locks.Refusal() + ". Дочекайтеся її завершення та повторіть");
        throw CUndoStop(kExitNotStarted, m_locks.Refusal());
    }
    m_config = ReadConfig(m_configPath, m_paths.programDirectory);
    Line("Скасування останнього оновлення");
    Line("Перевірка запущенної програми...");
    if (IsProcessRunning(m_paths.suiteImageName)) {
        Line("Программа запущена");
        m_journal.ShowBox(MessageKind::Warning, "Warning", kSuiteRunningWarning);
        throw CUndoStop(kExitNotStarted, kSuiteRunningWarning);
    }
    Mark("OK");
}

SnapshotManifest CUndo::NewestSnapshot() {
    const std::vector<SnapshotManifest> snapshots = ListSnapshots(m_paths.programDirectory);
    if (snapshots.empty() || snapshots.back().undone) {
        const std::string text =
            snapshots.empty()
                ? "Немає знімка, до якого можна повернутися: оновлення з "
                  "знімком ще не було"
                : "Останнє оновлення вже скасовано (знімок " + snapshots.back().directory + ")";
        Line(text);
        throw CUndoStop(kExitNothingToInstall, text);
    }
    const SnapshotManifest& newest = snapshots.back();
    Line("Знімок: " + newest.directory + ", версія бази даних " + std::to_string(newest.version));
    return newest;
}

void CUndo::RestoreAndSwitch(SnapshotManifest& manifest) {
    const std::string server = m_config.serverType != 0 ? m_config.serverName : std::string();
    Line("Підключення до бази даних");
    Line(m_config.databasePath);
    std::vector<CAttachmentInfo> others;
    int32_t currentVersion = 0;
    std::string current;
    Blocking([&] {
        m_session.Connect(server, m_config.databasePath, "", "");
        if (!server.empty()) {
            others = m_session.OtherAttachments();
        }
        currentVersion = m_session.GetVersion();
        current = m_session.DatabaseFile();
    });
    if (!server.empty()) {
        // Whoever works on the database now would go on in the one being undone.
        std::string where;
        for (const CAttachmentInfo& other : others) {
            if (!other.process.empty()) {
                where +=
                    (where.empty() ? "" : ", ") +
                    (other.host.empty() ? other.process : other.host + " (" + other.process + ")");
            }
        }
        if (!where.empty()) {
            Line("Підключені до бази даних: " + where);
            m_journal.ShowBox(MessageKind::Warning, "Warning", kSuiteRunningWarning);
            throw CUndoStop(kExitNotStarted, "до бази даних підключені: " + where);
        }
    }
    Line("Версія бази даних: " + std::to_string(currentVersion));
    m_window.lCurVer().SetCaption(std::to_string(currentVersion));
    if (current != manifest.database) {
        const std::string text = "Знімок зроблено з бази даних " + manifest.database +
                                 ", а комплекс працює з " + current + ". Скасування неможливе";
        Line(text);
        throw CUndoStop(kExitNotStarted, text);
    }
    StopIfInterrupted();

    // Noted before the restore: a rerun knows the file, and which database is being undone.
    if (!manifest.restoredInto.empty()) {
        Line("Незавершене відновлення попередньої спроби: " + manifest.restoredInto +
             " (видаліть його)");
    }
    if (manifest.restoreAttempt >= 9) {
        const std::string text = "error: відновлення зі знімка не вдалося 9 разів";
        Line(text);
        throw CUndoStop(kExitRunFailed, text);
    }
    ++manifest.restoreAttempt;
    manifest.restoredInto = RestoredDatabasePath(manifest);
    manifest.undoneDatabase = m_config.databasePath;
    WriteManifest(manifest);
    Line("Відновлення бази даних зі знімка " + manifest.backup + " до " + manifest.restoredInto +
         "...");
    Blocking([&] {
        CServiceManager services = m_session.AttachServices();
        // A new file: never one that an earlier attempt may still be writing.
        services.Restore(manifest.backup, manifest.restoredInto, false);
        services.Detach();
    });
    Mark("[OK]");

    // Checked before it takes the current database's place.
    int32_t version = 0;
    Blocking([&] {
        CGlobDB restored(m_paths.programDirectory);
        restored.Connect(server, manifest.restoredInto, "", "");
        version = restored.ReadCommittedVersion();
    });
    if (version != manifest.version) {
        const std::string text = "error: відновлена база даних " + manifest.restoredInto +
                                 " має версію " + std::to_string(version) + " замість " +
                                 std::to_string(manifest.version);
        Line(text);
        throw CUndoStop(kExitRunFailed, text);
    }
    Line("Відновлену базу даних перевірено: версія " + std::to_string(version));
    StopIfInterrupted();

    WriteDatabasePath(m_configPath, manifest.restoredInto);
    Line(std::string(kConfigFileName) + ": PathBaseGDB=" + manifest.restoredInto);
}

void CUndo::RestoreProgramFiles(const SnapshotManifest& manifest) {
    const std::string kept = PathJoin(manifest.directory, kFilesDirectory);
    for (const std::string& file : manifest.files) {
        const std::string destination = PathJoin(m_paths.programDirectory, ToLocalSeparators(file));
        Line(file + "...");
        const CopyResult result =
            CopyFileReplace(PathJoin(kept, ToLocalSeparators(file)), destination);
        if (!result.Ok()) {
            const std::string text = "error (" + std::to_string(result.code) + ") " +
                                     OneLine(result.message) + ": " + destination;
            Line(text);
            throw CUndoStop(kExitRunFailed, text);
        }
        Mark("[OK]");
    }
    // What the update added is moved into the snapshot, not deleted: nothing is lost.
    std::vector<std::string> added;
    for (const std::string& file :
         SuiteProgramFiles(m_paths.programDirectory, m_paths.executablePath)) {
        bool known = false;
        for (const std::string& keptFile : manifest.files) {
            known = known || keptFile == file;
        }
        if (!known) {
            added.push_back(file);
        }
    }
    for (const std::string& file : added) {
        const std::string aside =
            PathJoin(PathJoin(manifest.directory, kAddedDirectory), ToLocalSeparators(file));
        CDirectory directory(PathJoin(manifest.directory, kAddedDirectory));
        if (ExtractFileDir(aside) != directory.Path()) {
            CDirectory reports(ExtractFileDir(aside));
        }
        Line("Додано оновленням, перенесено до " + aside);
        if (!RenameFile(PathJoin(m_paths.programDirectory, ToLocalSeparators(file)), aside)) {
            const std::string text = "error: не вдалося перенести " + file;
            Line(text);
            throw CUndoStop(kExitRunFailed, text);
        }
    }
}

void CUndo::Check() {
    TakeLocksAndCheck();
    m_manifest = NewestSnapshot();
}

void CUndo::Finish() {
    SnapshotManifest& manifest = m_manifest;
    if (!manifest.restoredInto.empty() && m_config.databasePath == manifest.restoredInto) {
        Line("Базу даних уже відновлено: " + manifest.restoredInto);
    } else {
        RestoreAndSwitch(manifest);
    }
    StopIfInterrupted();
    RestoreProgramFiles(manifest);
    manifest.undone = true;
    WriteManifest(manifest);

    // Read back through lib.ini as the suite will.
    m_config = ReadConfig(m_configPath, m_paths.programDirectory);
    int32_t version = 0;
    Blocking([&] {
        CGlobDB now(m_paths.programDirectory);
        now.Connect(m_config.serverType != 0 ? m_config.serverName : std::string(),
                    m_config.databasePath, "", "");
        version = now.ReadCommittedVersion();
    });
    m_window.lCurVer().SetCaption(std::to_string(version));
    Line("Версія бази даних: " + std::to_string(version));
    Line("Базу даних, яку скасовано, збережено: " + manifest.undoneDatabase +
         ". Видаліть її, коли вона стане непотрібною");
    Line("Оновлення скасовано");
}

// Ends the undo's record and returns the exit status of `run`, which throws as CUndo's steps.
template <typename Run>
int RunAndRecord(CUndo& undo, Run run, std::string& reason) {
    int status = kExitUpdated;
    try {
        run();
    } catch (const CUndoStop& stop) {
        status = stop.Status();
        reason = stop.what();
    } catch (const std::exception& error) {
        status = kExitRunFailed;
        reason = OneLine(error.what());
        undo.Journal().ShowError(WithFullStop(error.what()) +
                                 " Запустіть tessara-updater --undo ще раз, коли причину буде "
                                 "усунено");
    }
    if (status != kExitUpdated || undo.Journal().RecordOpen()) {
        CFailedItems none;
        undo.Journal().FinishRecord(status == kExitUpdated ? "undone" : "undo ended: " + reason, {},
                                    status, none);
    }
    return status;
}

// The window's driver of --undo: the checks and the snapshot when the window is shown, the undo
// when its button is pressed. The window is the update's own; only the button's caption says
// what it does here.
class CUndoFormDriver : public IFormDriver {
  public:
    CUndoFormDriver(IUpdaterWindow& window, const StartupPaths& paths)
        : m_window(window), m_undo(paths, window, RunMode::Window) {}
    ~CUndoFormDriver() override {
        // The window was closed after the checks, without pressing the button.
        if (m_undo.Journal().RecordOpen()) {
            CFailedItems none;
            m_undo.Journal().FinishRecord("closed without undoing", {}, kExitNotStarted, none);
        }
    }
    CUndoFormDriver(const CUndoFormDriver&) = delete;
    CUndoFormDriver& operator=(const CUndoFormDriver&) = delete;

    void FormShow() override {
        m_window.btOK().SetEnabled(false);
        std::string reason;
        m_running = true;
        const int status = RunAndRecord(
            m_undo, [&] { m_undo.Check(); }, reason);
        m_running = false;
        if (status == kExitUpdated) {
            m_undo.Journal().AppendLine("Натисніть «" + std::string(kUndoButtonCaption) +
                                        "», щоб повернути базу даних і програми до цього знімка");
            m_window.btOK().SetCaption(kUndoButtonCaption);
            m_window.btOK().SetEnabled(true);
        }
    }

    void btOKClick() override {
        m_window.btOK().SetEnabled(false);
        std::string reason;
        m_running = true;
        m_status = RunAndRecord(
            m_undo, [&] { m_undo.Finish(); }, reason);
        m_running = false;
    }

    bool IsRunning() const override { return m_running; }
    // An undo that did not finish ends the window's process with its console status; the
    // checks alone, and a finished undo, with 0.
    int ExitStatus() const override { return m_status; }

  private:
    IUpdaterWindow& m_window;
    CUndo m_undo;
    bool m_running = false;
    int m_status = kExitUpdated;  // of the undo that the button started
};

}  // namespace

FormDriverFactory UndoDriverFactory(const StartupPaths& paths) {
    return [paths](IUpdaterWindow& window) {
        return std::make_unique<CUndoFormDriver>(window, paths);
    };
}

std::string RestoredDatabasePath(const SnapshotManifest& manifest) {
    const std::string& database = manifest.database;
    const size_t slash = database.find_last_of("/\\");
    const size_t dot = database.rfind('.');
    const std::string ending =
        dot != std::string::npos && (slash == std::string::npos || dot > slash)
            ? database.substr(dot)
            : std::string();
    const std::string attempt =
        manifest.restoreAttempt > 1 ? "-" + std::to_string(manifest.restoreAttempt) : "";
    return BesideDatabase(database, manifest.version, manifest.stamp) + attempt + ending;
}

int RunUndo(const StartupPaths& paths, std::ostream& out, std::ostream& err) {
    CConsoleWindow window(out, err);
    std::string reason;
    int status = 0;
    {
        CUndo undo(paths, window, RunMode::Console);
        status = RunAndRecord(
            undo,
            [&] {
                undo.Check();
                undo.Finish();
            },
            reason);
    }
    window.Finish();
    if (status == kExitInterrupted) {
        AcknowledgeInterrupt();
    }
    if (status != kExitUpdated) {
        err << ExitLine(status, reason) << std::endl;
    }
    return status;
}
