// Tests that depend on which processes run: the suite-running check with a real process named
// like the suite, and console mode run as a user would run it (the built updater, packed, in a
// suite directory of its own). CTest runs these one at a time.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/CommandLine.h"
#include "app/ConsoleMode.h"
#include "app/RunRecord.h"
#include "app/Snapshot.h"
#include "app/Undo.h"
#include "app/UpdateDriver.h"
#include "db/Uglobdb.h"
#include "platform/ChildProcess.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "tests/app/RecordingWindow.h"
#include "tests/app/Suite.h"

namespace fs = std::filesystem;

namespace {

const std::string kSuiteCheck = "Перевірка запущенної програми...";
const std::string kWarning =
    "ПК Тессара запущена. Будь ласка, закрийте програму та перезапустіть оновлення!";

// A harmless program (a copy of sleep) running under a given image name, ended by its PID when
// the test ends, whatever happened in it.
class CRunningProgram {
  public:
    CRunningProgram(const std::string& dir, const std::string& name) {
        const std::string path = dir + "/" + name;
        fs::copy_file("/bin/sleep", path, fs::copy_options::overwrite_existing);
        MakeExecutable(path);
        m_pid = fork();
        if (m_pid == 0) {
            execl(path.c_str(), name.c_str(), "60", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait until the child runs the copy, not the test binary any more.
        for (int i = 0; i < 200; ++i) {
            std::error_code error;
            if (fs::read_symlink("/proc/" + std::to_string(m_pid) + "/exe", error).filename() ==
                name) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~CRunningProgram() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    CRunningProgram(const CRunningProgram&) = delete;
    CRunningProgram& operator=(const CRunningProgram&) = delete;

  private:
    pid_t m_pid = -1;
};

struct ConsoleResult {
    int status;
    std::vector<std::string> out;
    std::vector<std::string> err;
};

// The shell command that runs the packed updater as an administrator would: from another
// directory, no display, the given temp directory.
std::string UpdaterCommand(const CSuite& suite, const std::string& arguments,
                           const std::string& tmp) {
    return "cd / && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR=" +
           ShellQuote(tmp) + " " + ShellQuote(suite.File("updater")) + " " + arguments;
}

// Runs the packed updater to its end, by default with the suite's own temp directory.
ConsoleResult RunUpdater(const CSuite& suite, const std::string& arguments = "--console",
                         const std::string& tmp = {}) {
    const std::string out = suite.Scratch("stdout.txt");
    const std::string err = suite.Scratch("stderr.txt");
    const std::string command = UpdaterCommand(suite, arguments, tmp.empty() ? suite.Tmp() : tmp) +
                                " >" + ShellQuote(out) + " 2>" + ShellQuote(err);
    ConsoleResult result;
    result.status = RunShell(command);
    result.out = SplitLines(ReadFile(out));
    result.err = SplitLines(ReadFile(err));
    return result;
}

// A suite with the database at `version` and the real updater carrying the packages.
void PrepareConsoleSuite(CSuite& suite, int version,
                         const std::vector<std::pair<int, PackageFiles>>& packages) {
    suite.CreateDatabase(version);
    fs::create_directories(suite.File("Reports"));
    suite.InstallArchiver();
    suite.PackDirectories(packages, BuiltProgram("tessara-updater"));
}

// Replaces the suite's archiver by one that waits until the test allows it to go on, so that an
// updater can be held in the middle of its run. Returns the file that allows it.
std::string InstallWaitingArchiver(const CSuite& suite) {
    const std::string go = suite.Scratch("go");
    WriteFile(suite.File("rar"), "#!/bin/sh\n: >" + ShellQuote(suite.Scratch("waiting")) +
                                     "\nfor i in $(seq 600); do [ -e " + ShellQuote(go) +
                                     " ] && break; sleep 0.05; done\nexec " +
                                     ShellQuote(BuiltProgram("rar")) + " \"$@\"\n");
    MakeExecutable(suite.File("rar"));
    return go;
}

// Starts the packed updater and returns once its archiver waits (the updater then holds its
// locks and is in the middle of its run).
CChildProcess StartHeldUpdater(const CSuite& suite) {
    CChildProcess updater;
    updater.Start(
        "/bin/sh",
        BuildCommandLine({"/bin/sh", "-c", UpdaterCommand(suite, "--console", suite.Tmp())}), "",
        CChildProcess::Output::Capture);
    for (int i = 0; i < 600 && !fs::exists(suite.Scratch("waiting")); ++i) {
        updater.Wait(50);
    }
    EXPECT_TRUE(fs::exists(suite.Scratch("waiting"))) << updater.CapturedOutput();
    return updater;
}

// Every file and directory below `dir` with its size, to show that nothing changed; the run
// record of the updater that holds the suite (which goes on writing it) left out.
std::vector<std::string> Tree(const std::string& dir) {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.path().filename() == "tessara-updater.log") {
            continue;
        }
        entries.push_back(entry.path().string() + " " +
                          std::to_string(entry.is_regular_file() ? entry.file_size() : 0));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<std::string> PreflightLines(const CSuite& suite, int version,
                                        const std::string& lastPackage) {
    return {kSuiteCheck + "OK",         "Підключення до бази даних",
            suite.Database(),           "Версія бази даних: " + std::to_string(version),
            "Наявні пакети оновлення:", lastPackage};
}

}  // namespace

class SuiteRunning : public testing::TestWithParam<const char*> {};

TEST_P(SuiteRunning, StopsThePreflight) {
    CSuite suite;  // no database at all: the checks must stop before connecting
    CRunningProgram suiteProgram(suite.Scratch(""), GetParam());
    StartupPaths paths = suite.Paths();
    paths.suiteImageName = kSuiteImageName;
    CRecordingWindow window;
    CUpdateDriver driver(window, paths);
    driver.FormShow();
    EXPECT_EQ(window.journal, (std::vector<std::string>{kSuiteCheck, "Программа запущена",
                                                        "Оновлення не можливо!!!"}));
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].kind, MessageKind::Warning);
    EXPECT_EQ(window.boxes[0].title, "Warning");
    EXPECT_EQ(window.boxes[0].text, kWarning);
    EXPECT_FALSE(window.btOK().IsEnabled());
    EXPECT_EQ(driver.LastPreflight(), PreflightOutcome::SuiteRunning);
}

INSTANTIATE_TEST_SUITE_P(Names, SuiteRunning, testing::Values("tessara.exe", "TESSARA.EXE"));

TEST(SuiteRunningCheck, ANameThatOnlyContainsTheSuitesDoesNotCount) {
    CSuite suite;
    CRunningProgram other(suite.Scratch(""), "xtessara.exe");
    StartupPaths paths = suite.Paths();
    paths.suiteImageName = kSuiteImageName;
    CRecordingWindow window;
    CUpdateDriver driver(window, paths);
    driver.FormShow();
    ASSERT_FALSE(window.journal.empty());
    EXPECT_EQ(window.journal[0], kSuiteCheck + "OK");
}

TEST(SuiteRunningCheck, ASuiteStartedAfterTheChecksStopsTheRunBeforeAnyChange) {
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}});
    CRecordingWindow window;
    CUpdateDriver driver(window, suite.Paths());
    driver.FormShow();
    ASSERT_EQ(driver.LastPreflight(), PreflightOutcome::Admitted);
    const size_t checked = window.journal.size();

    // The window waited; meanwhile the suite was started.
    CRunningProgram suiteProgram(suite.Scratch(""), suite.Paths().suiteImageName);
    driver.btOKClick();
    EXPECT_EQ(std::vector<std::string>(window.journal.begin() + static_cast<long>(checked),
                                       window.journal.end()),
              (std::vector<std::string>{"Программа запущена", "Оновлення не можливо!!!"}));
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, kWarning);
    EXPECT_FALSE(window.btOK().IsEnabled() && window.btOK().IsVisible());
    // Nothing is left to cancel: the window offers to close.
    EXPECT_EQ(window.btCancel().Caption(), "Зачинити");
    EXPECT_TRUE(window.btCancel().IsEnabled());
    EXPECT_EQ(driver.ExitStatus(), 2);
    EXPECT_FALSE(fs::exists(suite.WorkDir() + "/238.rar"));
    EXPECT_EQ(QueryColumn(suite.Database(), "select data from versions"),
              (std::vector<std::string>{"237"}));
}

TEST(Console, SuccessfulUpdate) {
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}});
    const ConsoleResult result = RunUpdater(suite);
    const std::string work = suite.WorkDir();
    EXPECT_EQ(
        result.out,
        Concat(Concat(PreflightLines(suite, 237, "238_RAR [OK]"),
                      {"Створення тимчасового каталога", work, "Наявність архиватора RAR...[OK]"}),
               Concat(SnapshotLines(suite, 237),
                      {"Копіювання пакету", work + "/238.rar", "Розпаковка пакету...[OK]",
                       "Встановлення оновлення", "up.2026.05.03.lsql", "up.99.238.lsql",
                       "list.fr3...[OK]", "tessara.exe...[OK]", "Оновлення завершене успішно"})));
    ASSERT_EQ(ListSnapshots(suite.Dir()).size(), 1u);
    EXPECT_TRUE(fs::exists(ListSnapshots(suite.Dir()).back().backup));
    EXPECT_TRUE(result.err.empty());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(QueryColumn(suite.Database(), "select data from versions"),
              (std::vector<std::string>{"238"}));
    EXPECT_EQ(ReadFile(suite.File("tessara.exe")), "program of 238");
}

TEST(Console, NothingToInstall) {
    CSuite suite;
    PrepareConsoleSuite(suite, 238, {{238, ContentPackage(238)}});
    const ConsoleResult result = RunUpdater(suite);
    EXPECT_EQ(result.out,
              Concat(PreflightLines(suite, 238, "238_RAR"),
                     {"Версія БД більша за номер пакета оновлень", "Оновлення не можливо!!!"}));
    EXPECT_EQ(result.err,
              (std::vector<std::string>{
                  ExitLine(3, "Версія БД більша за номер пакета оновлень: встановлювати нічого")}));
    EXPECT_EQ(result.status, 3);
}

TEST(Console, DatabaseTooOldCannotStart) {
    CSuite suite;
    PrepareConsoleSuite(suite, 236, {{238, ContentPackage(238)}});
    const ConsoleResult result = RunUpdater(suite);
    EXPECT_EQ(result.out,
              Concat(PreflightLines(suite, 236, "238_RAR"),
                     {"Версія БД меньше номеру пакета оновлень", "Оновлення не можливо!!!"}));
    EXPECT_EQ(result.err,
              (std::vector<std::string>{
                  ExitLine(2, "Версія БД меньше номеру пакета оновлень: оновлення не можливо")}));
    EXPECT_EQ(result.status, 2);
}

TEST(Console, WrongDatabasePath) {
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}});
    const std::string missing = suite.File("missing.gdb");
    suite.WriteIni("[Common]\r\nPathBaseGDB=" + missing + "\r\n");
    const ConsoleResult result = RunUpdater(suite);
    EXPECT_EQ(result.out,
              (std::vector<std::string>{kSuiteCheck + "OK", "Підключення до бази даних", missing}));
    ASSERT_EQ(result.err.size(), 2u);
    EXPECT_EQ(result.err[0].rfind("I/O error during \"open\" operation", 0), 0u) << result.err[0];
    EXPECT_EQ(result.err[0].back(), '.');
    EXPECT_EQ(result.err[1], ExitLine(2, result.err[0]));
    EXPECT_EQ(result.status, 2);
}

TEST(Console, SuiteRunning) {
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}});
    CRunningProgram suiteProgram(suite.Scratch(""), "tessara.exe");
    const ConsoleResult result = RunUpdater(suite);
    EXPECT_EQ(result.out, (std::vector<std::string>{kSuiteCheck, "Программа запущена",
                                                    "Оновлення не можливо!!!"}));
    EXPECT_EQ(result.err, (std::vector<std::string>{kWarning, ExitLine(2, kWarning)}));
    EXPECT_EQ(result.status, 2);
}

TEST(Console, FailedRunAndMissingArchiver) {
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {});
    WriteFile(suite.Scratch("damaged.rar"), "not an archive");
    suite.Pack({{238, suite.Scratch("damaged.rar")}}, BuiltProgram("tessara-updater"));
    const ConsoleResult failed = RunUpdater(suite);
    ASSERT_FALSE(failed.out.empty());
    EXPECT_EQ(failed.out.back().rfind("Помилка при оновлені: ", 0), 0u) << failed.out.back();
    EXPECT_EQ(failed.status, 1);
    // The archiver's own message and the failure line, on standard error as well.
    ASSERT_EQ(failed.err.size(), 1u);
    EXPECT_EQ(failed.err[0].rfind(ExitLine(1, "архіватор не розпакував пакет: error ("), 0), 0u)
        << failed.err[0];
    EXPECT_TRUE(failed.err[0].ends_with("; " + failed.out.back())) << failed.err[0];

    fs::remove(suite.File("rar"));
    const ConsoleResult noArchiver = RunUpdater(suite);
    ASSERT_GE(noArchiver.out.size(), 2u);
    EXPECT_EQ(noArchiver.out[noArchiver.out.size() - 2], "Наявність архиватора RAR...");
    EXPECT_EQ(noArchiver.out.back(), "error");
    const std::string missing = "Не знайдено архіватор " + suite.File("rar") + ".";
    EXPECT_EQ(noArchiver.err, (std::vector<std::string>{missing, ExitLine(2, missing)}));
    EXPECT_EQ(noArchiver.status, 2);
}

TEST(Console, ErrorDuringTheRun) {
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}, {240, ContentPackage(240)}});
    const ConsoleResult result = RunUpdater(suite);
    ASSERT_FALSE(result.out.empty());
    EXPECT_EQ(result.out.back(), "Копіювання пакету");
    EXPECT_EQ(result.err, (std::vector<std::string>{"Resource 239_RAR not found.",
                                                    ExitLine(1, "Resource 239_RAR not found.")}));
    EXPECT_EQ(result.status, 1);
}

TEST(Console, FailedItemsGoToStandardError) {
    CSuite suite;
    PackageFiles files = ContentPackage(238);
    files["up.2026.05.03.lsql"] += "insert into NO_SUCH_TABLE values (1);\r\n";
    PrepareConsoleSuite(suite, 237, {{238, files}});
    const ConsoleResult result = RunUpdater(suite);
    EXPECT_EQ(result.out.back(), "Оновлення завершене успішно");
    EXPECT_EQ(result.err, (std::vector<std::string>{
                              "Не виконано елементів: 1, журнал: " +
                                  suite.KeptLog(238, "up.2026.05.03.lsql.log"),
                              ExitLine(4, "Не виконано елементів: 1 (оновлення завершене)")}));
    EXPECT_EQ(result.status, 4);
}

TEST(Console, FileThatCannotBeCopiedLeavesTheLastPackageUnfinishedAndTheRunFailed) {
    // The only package, so no later one waits for it: the run fails all the same, as it does
    // when one does (UpdateRun.FailedCopyStopsTheRunBeforeTheLaterPackages).
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}});
    fs::remove(suite.File("Reports"));
    WriteFile(suite.File("Reports"), "a file where the directory should be");
    const ConsoleResult result = RunUpdater(suite);
    ASSERT_GE(result.out.size(), 5u);
    EXPECT_EQ(result.out[result.out.size() - 5], "list.fr3...");
    EXPECT_EQ(result.out[result.out.size() - 4], "error (20) Not a directory");
    const std::string unfinished =
        "Пакет 238 не завершено: не скопійовано файлів: 1. Запустіть оновлення ще раз, коли "
        "причину буде усунено";
    EXPECT_EQ(result.out[result.out.size() - 2], unfinished);
    EXPECT_EQ(result.out.back(), "Помилка при оновлені: -3");
    EXPECT_EQ(result.err,
              (std::vector<std::string>{"Не скопійовано: " + suite.File("Reports/list.fr3") +
                                            ": error (20) Not a directory",
                                        ExitLine(1, unfinished + "; Помилка при оновлені: -3")}));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(ReadFile(suite.File("tessara-updater.log"))
                  .find("[outcome] failed with code -3, exit status 1"),
              std::string::npos);
}

TEST(Console, PackageThatDoesNotReachItsVersionFailsAndTheRecordSaysSo) {
    CSuite suite;
    PackageFiles files = ContentPackage(238);
    files["up.99.238.lsql"] = "update versions set data = 238\r\n";  // no terminator
    PrepareConsoleSuite(suite, 237, {{238, files}});
    const ConsoleResult result = RunUpdater(suite);
    ASSERT_GE(result.out.size(), 2u);
    EXPECT_EQ(result.out[result.out.size() - 2], "error: після пакета 238 версія бази даних 237");
    EXPECT_EQ(result.out.back(), "Помилка при оновлені: -2");
    EXPECT_EQ(result.status, 1);
    const std::string log = suite.KeptLog(238, "up.99.238.lsql.log");
    EXPECT_EQ(result.err, (std::vector<std::string>{
                              "Не виконано елементів: 1, журнал: " + log,
                              ExitLine(1,
                                       "error: після пакета 238 версія бази даних 237; Помилка при "
                                       "оновлені: -2")}));

    // The record of the run: its header, the journal as printed, and the summary.
    const std::vector<std::string> record = SplitLines(ReadFile(suite.File("tessara-updater.log")));
    ASSERT_EQ(record.size(), 1 + result.out.size() + 3);
    EXPECT_EQ(record[0].substr(23), " console " + RunBy() + " " + suite.File("updater"));
    for (size_t i = 0; i < result.out.size(); ++i) {
        EXPECT_EQ(record[1 + i].substr(20), result.out[i]);
    }
    EXPECT_EQ(record[record.size() - 3].substr(20), "[packages] none");
    EXPECT_EQ(record[record.size() - 2].substr(20), "[outcome] failed with code -2, exit status 1");
    EXPECT_EQ(record.back().substr(20), "[failed] 1 in " + log);
}

TEST(Console, DamagedUpdaterOrSettingsStopBeforeAnyChange) {
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}});
    // The updater cut short by one byte: its packages are damaged, not absent.
    const std::string updater = suite.File("updater");
    fs::resize_file(updater, fs::file_size(updater) - 1);
    const ConsoleResult cut = RunUpdater(suite);
    EXPECT_EQ(cut.status, 2);
    std::vector<std::string> checks = PreflightLines(suite, 237, "");
    checks.pop_back();  // no package line: the list cannot be read
    EXPECT_EQ(cut.out, checks);
    ASSERT_EQ(cut.err.size(), 2u);
    EXPECT_EQ(cut.err[0].rfind("Програма оновлення " + updater +
                                   " пошкоджена: The embedded item index of \"" + updater +
                                   "\" is damaged: ",
                               0),
              0u)
        << cut.err[0];
    EXPECT_EQ(cut.err[1], ExitLine(2, cut.err[0]));
    EXPECT_NE(cut.err[0].find("cut short"), std::string::npos) << cut.err[0];

    // lib.ini over the reader's limit: an error before anything else.
    const std::string ini = suite.File("lib.ini");
    suite.WriteIni("[Common]\r\n");
    fs::resize_file(ini, 16 * 1024 * 1024 + 1);
    const ConsoleResult large = RunUpdater(suite);
    EXPECT_EQ(large.status, 2);
    EXPECT_TRUE(large.out.empty());
    const std::string tooLarge =
        "The file \"" + ini + "\" is larger than 16 MB: it cannot be a settings file.";
    EXPECT_EQ(large.err, (std::vector<std::string>{tooLarge, ExitLine(2, tooLarge)}));
    EXPECT_EQ(QueryColumn(suite.Database(), "select data from versions"),
              (std::vector<std::string>{"237"}));
}

// A settings file that cannot be read stops the driver in its constructor; the process-wide
// session it was about to publish must not be left pointing at the freed one.
TEST(Console, AnUnreadableSettingsFileLeavesNoSessionBehind) {
    CSuite suite;
    suite.WriteIni("[Common]\r\n");
    fs::resize_file(suite.File("lib.ini"), 16 * 1024 * 1024 + 1);
    CRecordingWindow window;
    EXPECT_ANY_THROW(CUpdateDriver(window, suite.Paths(), RunMode::Console));
    EXPECT_EQ(GlobDB(), nullptr);
}

TEST(Console, SecondUpdaterOfTheSameSuiteRefusesAndTouchesNothing) {
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}});
    const std::string go = InstallWaitingArchiver(suite);
    CChildProcess first = StartHeldUpdater(suite);

    const std::vector<std::string> suiteBefore = Tree(suite.Dir());
    const std::vector<std::string> tmpBefore = Tree(suite.Tmp());
    const ConsoleResult second = RunUpdater(suite);
    EXPECT_EQ(Tree(suite.Dir()), suiteBefore);
    EXPECT_EQ(Tree(suite.Tmp()), tmpBefore);
    WriteFile(go, "");
    first.Wait();

    EXPECT_EQ(second.status, 2);
    // The journal says why it stops; the message says what to do.
    const std::string reason = "Інша програма оновлення вже працює з цим комплексом (" +
                               suite.File("tessara-updater.lock") + ")";
    EXPECT_EQ(second.out, (std::vector<std::string>{reason, "Оновлення не можливо!!!"}));
    const std::string message = reason + ". Дочекайтеся її завершення та перезапустіть оновлення!";
    EXPECT_EQ(second.err, (std::vector<std::string>{message, ExitLine(2, message)}));
    EXPECT_EQ(first.ExitCode(), 0) << first.CapturedOutput() << first.CapturedErrors();
    EXPECT_EQ(QueryColumn(suite.Database(), "select data from versions"),
              (std::vector<std::string>{"238"}));
    // The record holds the first updater's run alone.
    const std::string record = ReadFile(suite.File("tessara-updater.log"));
    const std::vector<std::string> lines = SplitLines(record);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.starts_with("=== "); }),
              1)
        << record;
    EXPECT_EQ(record.find("[message]"), std::string::npos) << record;
    EXPECT_NE(record.find("[outcome] succeeded, exit status 0\n"), std::string::npos) << record;
}

TEST(Console, UpdaterOfAnotherSuiteSharingTheTempDirectoryRefuses) {
    CSuite suite;
    CSuite other;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}});
    PrepareConsoleSuite(other, 237, {{238, ContentPackage(238)}});
    const std::string go = InstallWaitingArchiver(suite);
    CChildProcess first = StartHeldUpdater(suite);

    const std::vector<std::string> tmpBefore = Tree(suite.Tmp());
    const ConsoleResult second = RunUpdater(other, "--console", suite.Tmp());
    EXPECT_EQ(Tree(suite.Tmp()), tmpBefore);
    WriteFile(go, "");
    first.Wait();

    const std::string reason =
        "Інша програма оновлення вже працює у спільному тимчасовому "
        "каталозі (" +
        suite.Tmp() + "lib.kvr.lock" + ")";
    const std::string message = reason + ". Дочекайтеся її завершення та перезапустіть оновлення!";
    EXPECT_EQ(second.status, 2);
    EXPECT_EQ(second.out, (std::vector<std::string>{reason, "Оновлення не можливо!!!"}));
    EXPECT_EQ(second.err, (std::vector<std::string>{message, ExitLine(2, message)}));
    EXPECT_EQ(first.ExitCode(), 0) << first.CapturedOutput() << first.CapturedErrors();
    // The refused updater holds its own suite: its record tells why it stopped.
    const std::vector<std::string> record = SplitLines(ReadFile(other.File("tessara-updater.log")));
    ASSERT_EQ(record.size(), 6u);
    EXPECT_EQ(record[1].substr(20), reason);
    EXPECT_EQ(record[3].substr(20), "[message] " + message);
    EXPECT_EQ(record[4].substr(20), "[packages] none");
    EXPECT_EQ(record[5].substr(20), "[outcome] refused: another updater is running, exit status 2");
    EXPECT_EQ(QueryColumn(other.Database(), "select data from versions"),
              (std::vector<std::string>{"237"}));
    EXPECT_EQ(QueryColumn(suite.Database(), "select data from versions"),
              (std::vector<std::string>{"238"}));
}

// Standard output and standard error into one stream, as `2>&1` gives them to a log file.
TEST(ConsoleWindow, TheLineInHandGoesOutAtOnceAndItsMarkEndsIt) {
    std::ostringstream both;
    CConsoleWindow window(both, both);
    window.AppendLine("Наявність архиватора RAR...");
    EXPECT_EQ(both.str(), "");  // a mark may still come
    window.MarkLastLine("[OK]");
    window.AppendLine("Розпаковка пакету...");
    window.MarkLastLine("[OK]");
    EXPECT_EQ(both.str(), "Наявність архиватора RAR...[OK]\n");
    // A long step pumps messages: what is in hand goes out before the step ends, its line end
    // with the next line.
    window.PumpMessages();
    EXPECT_EQ(both.str(), "Наявність архиватора RAR...[OK]\nРозпаковка пакету...[OK]");
    window.PumpMessages();
    // A blocking step shows its line before it starts; the mark it earns ends the same line.
    window.AppendLine("tessara.exe...");
    window.ShowOpenLine();
    EXPECT_EQ(both.str(),
              "Наявність архиватора RAR...[OK]\nРозпаковка пакету...[OK]\ntessara.exe...");
    window.ShowOpenLine();
    window.MarkLastLine("[OK]");
    window.PumpMessages();
    window.AppendLine("Копіювання пакету");
    // The box's text follows the line before it, on one line however many lines it had.
    window.ShowMessageBox(MessageKind::Error, kApplicationTitle,
                          "I/O error\r\n-No such file\nor directory.");
    // A mark after the box cannot reach its line any more: it goes out on its own.
    window.MarkLastLine("[OK]");
    window.Finish();
    EXPECT_EQ(both.str(),
              "Наявність архиватора RAR...[OK]\nРозпаковка пакету...[OK]\ntessara.exe...[OK]\n"
              "Копіювання пакету\nI/O error -No such file or directory.\n[OK]\n");
}

// Text written by one thread and read by another while it is written.
class CSharedText : public std::streambuf {
  public:
    std::string Text() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text;
    }

  protected:
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_text.push_back(traits_type::to_char_type(c));
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_text.append(text, static_cast<size_t>(count));
        return count;
    }

  private:
    mutable std::mutex m_mutex;
    std::string m_text;
};

// A statement that waits for a row, which the test's own connection holds: while it waits,
// standard output already ends with the name of its script (the previous script's line and its
// line end were all it showed before), and the statement runs once the row is free.
TEST(ConsoleWindow, TheScriptInHandIsShownWhileItsStatementWaits) {
    CSuite suite;
    suite.CreateDatabase(237);
    ExecuteStatements(suite.Database(),
                      {"create table SETTINGS (ID integer not null primary key, V integer)",
                       "insert into SETTINGS values (1, 0)"});
    fs::create_directories(suite.File("Reports"));
    suite.InstallArchiver();
    PackageFiles files = ContentPackage(238);
    files["up.2026.05.04.lsql"] = "update SETTINGS set V = 1 where ID = 1;\r\n";
    suite.Pack({{238, suite.MakePackageDir("238", files)}});

    CHeldRow row(suite.Database(), "update SETTINGS set V = 2 where ID = 1");
    CSharedText outText;
    std::ostream out(&outText);
    std::ostringstream err;
    int status = -1;
    std::thread run([&] { status = RunConsole(suite.Paths(), out, err); });
    const bool waited = WaitForStatement(suite.Database(), "update SETTINGS");
    const std::string shown = outText.Text();
    row.Release();
    run.join();

    ASSERT_TRUE(waited) << outText.Text();
    EXPECT_TRUE(shown.ends_with("\nup.2026.05.03.lsql\nup.2026.05.04.lsql")) << shown;
    EXPECT_EQ(status, 0) << err.str() << outText.Text();
    const std::vector<std::string> lines = SplitLines(outText.Text());
    const auto script = std::find(lines.begin(), lines.end(), "up.2026.05.04.lsql");
    ASSERT_NE(script, lines.end()) << outText.Text();
    ASSERT_NE(script + 1, lines.end());
    EXPECT_EQ(*(script + 1), "up.99.238.lsql");
    EXPECT_EQ(QueryColumn(suite.Database(), "select V from SETTINGS"),
              (std::vector<std::string>{"1"}));
}

TEST(ConsoleWindow, FailedItemsFollowTheFinalLine) {
    std::ostringstream both;
    CConsoleWindow window(both, both);
    window.AppendLine("Оновлення завершене успішно");
    window.ShowFailedItems({{"/w/a.lsql.log", 2}},
                           {{"/s/Reports/a.fr3", "error (2) No such file or directory"}});
    window.Finish();
    EXPECT_EQ(both.str(),
              "Оновлення завершене успішно\nНе виконано елементів: 2, журнал: /w/a.lsql.log\n"
              "Не скопійовано: /s/Reports/a.fr3: error (2) No such file or directory\n");
}

TEST(Console, HelpAndBadOptions) {
    CSuite suite;
    suite.Pack({}, BuiltProgram("tessara-updater"));
    const ConsoleResult help = RunUpdater(suite, "--help");
    EXPECT_EQ(help.status, 0);
    ASSERT_FALSE(help.out.empty());
    EXPECT_EQ(help.out[0],
              "Usage: tessara-updater [--console [--no-snapshot] | --plan | --undo | --help]");
    EXPECT_TRUE(help.err.empty());

    const ConsoleResult bad = RunUpdater(suite, "--bogus");
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(bad.out.empty());
    ASSERT_GE(bad.err.size(), 3u);
    EXPECT_EQ(bad.err[0], "tessara-updater: unknown option '--bogus'");
    EXPECT_EQ(bad.err[2],
              "Usage: tessara-updater [--console [--no-snapshot] | --plan | --undo | --help]");
    // The reason line that every status but 0 ends with, as --help promises.
    EXPECT_EQ(bad.err.back(), ExitLine(2, "tessara-updater: unknown option '--bogus'"));

    const ConsoleResult twice = RunUpdater(suite, "--console --console");
    EXPECT_EQ(twice.status, 2);
    ASSERT_FALSE(twice.err.empty());
    EXPECT_EQ(twice.err[0], "tessara-updater: give one option at most");
    EXPECT_EQ(twice.err.back(), ExitLine(2, "tessara-updater: give one option at most"));

    // The window without a display: a hint instead of Qt aborting the program.
    const ConsoleResult window = RunUpdater(suite, "");
    EXPECT_EQ(window.status, 2);
    EXPECT_TRUE(window.out.empty());
    EXPECT_EQ(window.err, (std::vector<std::string>{kNoDisplayText}));
}

TEST(Console, ReaderThatGoesAwayDoesNotStopTheUpdate) {
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}});
    const std::string status = suite.Scratch("status.txt");
    const std::string command = "cd / && { env -u DISPLAY TMPDIR=" + ShellQuote(suite.Tmp()) + " " +
                                ShellQuote(suite.File("updater")) + " --console; echo $? >" +
                                ShellQuote(status) + "; } | head -n 1 >/dev/null";
    RunShell(command);
    EXPECT_EQ(ReadFile(status), "0\n");
    EXPECT_EQ(QueryColumn(suite.Database(), "select data from versions"),
              (std::vector<std::string>{"238"}));
    EXPECT_EQ(ReadFile(suite.File("tessara.exe")), "program of 238");
}

// The undo takes the run's checks: while the suite runs it refuses and changes nothing; once the
// suite is closed, it goes ahead.
TEST(Console, UndoRefusedWhileTheSuiteRuns) {
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}});
    ASSERT_EQ(RunUpdater(suite).status, 0);
    {
        CRunningProgram suiteProgram(suite.Scratch(""), suite.Paths().suiteImageName);
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunUndo(suite.Paths(), out, err), 2);
        EXPECT_NE(err.str().find("Код завершення 2: ПК Тессара запущена. Будь ласка, закрийте "
                                 "програму та перезапустіть скасування оновлення!"),
                  std::string::npos)
            << err.str();
    }
    EXPECT_FALSE(fs::exists(suite.File("lib.ini")));
    EXPECT_EQ(QueryColumn(suite.Database(), "select data from versions"),
              (std::vector<std::string>{"238"}));
    EXPECT_EQ(ReadFile(suite.File("tessara.exe")), "program of 238");
    EXPECT_TRUE(ListSnapshots(suite.Dir()).back().restoredInto.empty());

    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunUndo(suite.Paths(), out, err), 0) << out.str() << err.str();
    const CConfig config = ReadConfig(suite.File("lib.ini"), suite.Dir());
    EXPECT_EQ(config.databasePath, ListSnapshots(suite.Dir()).back().restoredInto);
    EXPECT_EQ(QueryColumn(config.databasePath, "select data from versions"),
              (std::vector<std::string>{"237"}));
    EXPECT_FALSE(fs::exists(suite.File("tessara.exe")));  // the update brought it
}

// Each run takes its snapshot; of one database the newest two are kept, and the older one's
// backup and directory go.
TEST(Console, TheNewestTwoSnapshotsOfADatabaseAreKept) {
    CSuite suite;
    PrepareConsoleSuite(suite, 237, {{238, ContentPackage(238)}});
    std::vector<std::pair<int, PackageFiles>> packages;
    std::vector<std::string> backups;
    for (int number = 238; number <= 240; ++number) {
        SCOPED_TRACE(number);
        packages.emplace_back(number, ContentPackage(number));
        suite.PackDirectories(packages, BuiltProgram("tessara-updater"));
        const ConsoleResult result = RunUpdater(suite);
        ASSERT_EQ(result.status, 0) << ::testing::PrintToString(result.out);
        ASSERT_FALSE(ListSnapshots(suite.Dir()).empty());
        backups.push_back(ListSnapshots(suite.Dir()).back().backup);
        EXPECT_TRUE(fs::exists(backups.back()));
    }
    const std::vector<SnapshotManifest> kept = ListSnapshots(suite.Dir());
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].version, 238);
    EXPECT_EQ(kept[1].version, 239);
    EXPECT_FALSE(fs::exists(backups[0]));
    EXPECT_TRUE(fs::exists(backups[1]));
    EXPECT_TRUE(fs::exists(backups[2]));
    size_t directories = 0;
    for (const auto& entry :
         fs::directory_iterator(suite.File(std::string(kSnapshotsFolderName)))) {
        directories += entry.is_directory() ? 1u : 0u;
    }
    EXPECT_EQ(directories, 2u);
}
