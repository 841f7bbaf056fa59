// The update run end to end: a real embedded database, an updater packed with tessara-pack from
// generated package directories, the shipped rar in the program directory, a private temp path.

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <utility>

#include "app/FormDriver.h"
#include "app/UpdateDriver.h"
#include "db/Database.h"
#include "db/FetchRows.h"
#include "db/Statement.h"
#include "db/Uglobdb.h"
#include "install/Status.h"
#include "platform/EmbeddedItems.h"
#include "platform/Interrupt.h"
#include "platform/SystemError.h"
#include "platform/Text.h"
#include "tests/app/RecordingWindow.h"
#include "tests/app/Suite.h"

namespace fs = std::filesystem;

namespace {

const std::string kCreating = "Створення тимчасового каталога";
const std::string kArchiverCheck = "Наявність архиватора RAR...";
const std::string kCopying = "Копіювання пакету";
const std::string kUnpacking = "Розпаковка пакету...";
const std::string kInstalling = "Встановлення оновлення";
const std::string kSucceeded = "Оновлення завершене успішно";
const std::string kFailedPrefix = "Помилка при оновлені: ";

class UpdateRun : public testing::Test {
  protected:
    // A suite at `version` with a program directory holding an old tessara.exe and a Reports
    // directory, the archiver, and an updater carrying the packages.
    void Prepare(int version, const std::vector<std::pair<int, PackageFiles>>& packages) {
        m_version = version;
        suite.CreateDatabase(version);
        fs::create_directories(suite.File("Reports"));
        WriteFile(suite.File("tessara.exe"), "old program");
        suite.InstallArchiver();
        suite.PackDirectories(packages, BuiltProgram("rar"));
    }

    // The pre-flight (which must admit the update) and the run; returns the run's lines.
    std::vector<std::string> Run() {
        driver = std::make_unique<CUpdateDriver>(window, suite.Paths());
        driver->FormShow();
        EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::Admitted) << Journal();
        // The pumps of the checks (a slow connect pumps too) are no part of the run's.
        window.pumps.clear();
        const size_t preflightLines = window.journal.size();
        driver->btOKClick();
        return std::vector<std::string>(
            window.journal.begin() + static_cast<std::ptrdiff_t>(preflightLines),
            window.journal.end());
    }

    // Ends the driver's attachment before the test reads the database.
    void Close() { driver.reset(); }

    std::string Journal() const {
        std::string text;
        for (const std::string& line : window.journal) {
            text += line + "\n";
        }
        return text;
    }

    std::string Work(const std::string& name) const { return suite.WorkDir() + "/" + name; }
    std::string Version() const {
        return QueryColumn(suite.Database(), "select data from versions").at(0);
    }

    std::vector<std::string> PackageBlock(int number) const {
        return {kCopying,
                Work(std::to_string(number) + ".rar"),
                kUnpacking + "[OK]",
                kInstalling,
                "up.2026.05.03.lsql",
                "up.99." + std::to_string(number) + ".lsql",
                "list.fr3...[OK]",
                "tessara.exe...[OK]"};
    }

    // The run's lines up to its first package: the work directory, the archiver, and the
    // snapshot of the database at the version it was prepared with.
    std::vector<std::string> Start() const {
        return Concat({kCreating, suite.WorkDir(), kArchiverCheck + "[OK]"},
                      SnapshotLines(suite, m_version));
    }

    // After a package's installation the bar is hidden with the labels; a run that failed
    // before installing leaves it as it was before the run (visible).
    void ExpectControlsAfterRun(bool installed = true) {
        EXPECT_FALSE(driver->IsRunning());  // the window can be closed
        EXPECT_FALSE(window.btOK().IsVisible());
        EXPECT_EQ(window.btCancel().Caption(), "Зачинити");
        EXPECT_TRUE(window.btCancel().IsEnabled());
        EXPECT_FALSE(window.lUpdate().IsVisible());
        EXPECT_EQ(window.ProgressBar2().IsVisible(), !installed);
        EXPECT_FALSE(window.lTextFile().IsVisible());
        EXPECT_FALSE(window.lFile().IsVisible());
    }

    CSuite suite;
    int m_version = 0;  // the database's version before the run
    CRecordingWindow window;
    std::unique_ptr<CUpdateDriver> driver;
};

PackageFiles Without(PackageFiles files, const std::string& name) {
    files.erase(name);
    return files;
}

}  // namespace

TEST_F(UpdateRun, OnePackageIsInstalledCompletely) {
    Prepare(237, {{238, ContentPackage(238)}});
    const std::vector<std::string> lines = Run();
    EXPECT_EQ(lines, Concat(Concat(Start(), PackageBlock(238)), {kSucceeded})) << Journal();
    EXPECT_EQ(driver->LastRun(), RunOutcome::Succeeded);
    ExpectControlsAfterRun();
    EXPECT_TRUE(window.plUp().IsVisible());
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_TRUE(window.failedItems.empty());
    EXPECT_EQ(driver->ExitStatus(), 0);
    // The version as the package left it, read back after the package.
    EXPECT_EQ(window.lCurVer().Caption(), "238");

    // The click shows at once: the first pump comes right after the first line, with btOK
    // disabled. While messages were pumped, btOK could not start a second run, and while the
    // package was unpacked and installed (lUpdate shown) btCancel could not be pressed either
    // (before and after, the window refuses to close while the run runs).
    ASSERT_FALSE(window.pumps.empty());
    EXPECT_EQ(window.pumps.front().lastLine, kCreating);
    const auto preparing = std::find_if(window.pumps.begin(), window.pumps.end(),
                                        [](const PumpState& state) { return state.updateVisible; });
    ASSERT_NE(preparing, window.pumps.end());
    EXPECT_EQ(preparing->updateCaption, "Підготовка оновлення");
    for (auto state = window.pumps.begin(); state != window.pumps.end(); ++state) {
        EXPECT_FALSE(state->okEnabled);
        EXPECT_EQ(state->cancelCaption, "Відмінити");
        EXPECT_EQ(state->cancelEnabled, !state->updateVisible);
    }

    // Handled database files are renamed, the package file is gone, the rest stays as unpacked.
    for (const char* name :
         {"up.2026.05.03.l~lsql", "up.99.238.l~lsql", "23801.~r", "23801.~u", "23802.~r",
          "INFO_DOC.NOTE.ID 10.~blo", "tessara.exe", "Reports/list.fr3"}) {
        EXPECT_TRUE(fs::exists(Work(name))) << name;
    }
    for (const char* name : {"238.rar", "up.99.238.lsql", "23801.r", "INFO_DOC.NOTE.ID 10.blo"}) {
        EXPECT_FALSE(fs::exists(Work(name))) << name;
    }
    struct stat info {};
    ASSERT_EQ(stat(suite.WorkDir().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    EXPECT_EQ(ReadFile(suite.File("tessara.exe")), "program of 238");
    EXPECT_EQ(ReadFile(suite.File("Reports/list.fr3")), "template of 238");

    Close();
    EXPECT_EQ(Version(), "238");
    EXPECT_EQ(QueryColumn(suite.Database(), "select name from ARTICLE order by id"),
              (std::vector<std::string>{"first of 238", "second of 238"}));
    EXPECT_EQ(QueryBlob(suite.Database(), "select note from ARTICLE where id = 23801"),
              "plain document of 238");
    EXPECT_EQ(QueryBlob(suite.Database(), "select note_u from ARTICLE where id = 23801"),
              ContentPackage(238).at("23801.u"));
    EXPECT_EQ(QueryBlob(suite.Database(), "select note from ARTICLE where id = 23802"), "");
    EXPECT_EQ(QueryBlob(suite.Database(), "select NOTE from INFO_DOC where ID = 10"),
              "blob value of 238");
}

TEST_F(UpdateRun, PackageFileIsDeletedOnceUnpacked) {
    Prepare(237, {{238, ContentPackage(238)}});
    // At each pump: the last journal line, and whether the package file stood there.
    std::vector<std::pair<std::string, bool>> seen;
    window.whilePumping = [&] {
        seen.emplace_back(window.journal.back(), fs::exists(Work("238.rar")));
    };
    EXPECT_EQ(Run().back(), kSucceeded) << Journal();
    // The last pump under "[OK]" of the unpacking is the one after the archiver has ended (the
    // others come while it runs); from there on, through the installers, the package is gone,
    // so the work directory never holds it beside its unpacked contents.
    const auto unpacked = std::find_if(seen.rbegin(), seen.rend(), [](const auto& pump) {
        return pump.first == kUnpacking + "[OK]";
    });
    ASSERT_NE(unpacked, seen.rend());
    for (auto pump = seen.rbegin(); pump != std::next(unpacked); ++pump) {
        EXPECT_FALSE(pump->second) << pump->first;
    }
    EXPECT_FALSE(fs::exists(Work("238.rar")));
}

TEST_F(UpdateRun, LargePackageIsWrittenOutBetweenPumps) {
    // 64 MB that are no archive: written out, then refused by the archiver.
    Prepare(237, {});
    {
        std::ofstream file(suite.Scratch("large.rar"), std::ios::binary);
        std::string block(1 << 20, '\0');
        for (int i = 0; i < 64; ++i) {
            std::fill(block.begin(), block.end(), static_cast<char>(i));
            file.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    suite.Pack({{238, suite.Scratch("large.rar")}});
    // A pump as long as the throttle's interval: once the first has come, every block of 1 MB
    // finds one due.
    window.pumpSeconds = CPumpThrottle::kInterval;
    const std::vector<std::string> lines = Run();
    const size_t start = Start().size();
    ASSERT_GE(lines.size(), start + 2) << Journal();
    EXPECT_EQ(lines[start + 1], Work("238.rar"));
    EXPECT_EQ(driver->LastRun(), RunOutcome::Failed);

    std::vector<PumpState> writeOut;
    std::copy_if(window.pumps.begin(), window.pumps.end(), std::back_inserter(writeOut),
                 [](const PumpState& state) { return state.lastLine == kCopying; });
    // The first megabytes may come before the interval is over; SHA-256 and the writes take
    // about 0.2 s here.
    EXPECT_GE(writeOut.size(), 8u);
    for (size_t i = 1; i < writeOut.size(); ++i) {
        EXPECT_LT(writeOut[i].began - writeOut[i - 1].ended, 0.25) << i;
    }
    for (const PumpState& state : writeOut) {
        EXPECT_FALSE(state.okEnabled);
    }
}

TEST_F(UpdateRun, TwoPackagesInOneRun) {
    Prepare(237, {{238, ContentPackage(238)}, {239, ContentPackage(239)}});
    const std::vector<std::string> lines = Run();
    EXPECT_EQ(lines,
              Concat(Concat(Concat(Start(), PackageBlock(238)), PackageBlock(239)), {kSucceeded}))
        << Journal();
    ExpectControlsAfterRun();
    EXPECT_EQ(ReadFile(suite.File("tessara.exe")), "program of 239");
    Close();
    EXPECT_EQ(Version(), "239");
    EXPECT_EQ(QueryColumn(suite.Database(), "select id from ARTICLE order by id"),
              (std::vector<std::string>{"23801", "23802", "23901", "23902"}));
    EXPECT_EQ(QueryBlob(suite.Database(), "select NOTE from INFO_DOC where ID = 10"),
              "blob value of 239");
}

TEST_F(UpdateRun, MissingPackageInTheRangeEndsTheRunWithAnErrorBox) {
    PackageFiles first = ContentPackage(238);
    first["up.2026.05.03.lsql"] += "insert into NO_SUCH_TABLE values (1);\r\n";
    Prepare(237, {{238, first}, {240, ContentPackage(240)}});
    // The run is over while its error box is up: the window may be closed from the box.
    bool runningWhileBoxWasUp = true;
    window.whileBoxIsUp = [&] { runningWhileBoxWasUp = driver->IsRunning(); };
    const std::vector<std::string> lines = Run();
    EXPECT_EQ(lines, Concat(Concat(Start(), PackageBlock(238)), {kCopying})) << Journal();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].kind, MessageKind::Error);
    EXPECT_EQ(window.boxes[0].text, "Resource 239_RAR not found.");
    EXPECT_FALSE(runningWhileBoxWasUp);
    EXPECT_EQ(driver->LastRun(), RunOutcome::Aborted);
    // The controls stay as they were at that moment.
    EXPECT_TRUE(window.btOK().IsVisible());
    EXPECT_FALSE(window.btOK().IsEnabled());
    EXPECT_EQ(window.btCancel().Caption(), "Відмінити");
    EXPECT_TRUE(window.btCancel().IsEnabled());
    // The failed statement of the package installed before the error is still offered.
    ASSERT_EQ(window.failedItems.size(), 1u);
    ASSERT_EQ(window.failedItems[0].size(), 1u);
    EXPECT_EQ(window.failedItems[0][0].path, suite.KeptLog(238, "up.2026.05.03.lsql.log"));
    EXPECT_EQ(window.failedItems[0][0].count, 1);
    Close();
    EXPECT_EQ(Version(), "238");
    EXPECT_EQ(QueryColumn(suite.Database(), "select count(*) from ARTICLE where id > 24000"),
              (std::vector<std::string>{"0"}));
}

class MissingArchiver : public UpdateRun, public testing::WithParamInterface<bool> {};

TEST_P(MissingArchiver, EndsTheRunBeforeAnyPackage) {
    Prepare(237, {{238, ContentPackage(238)}});
    fs::remove(suite.File("rar"));
    if (GetParam()) {
        fs::create_directory(suite.File("rar"));
    }
    const std::vector<std::string> lines = Run();
    EXPECT_EQ(lines,
              (std::vector<std::string>{kCreating, suite.WorkDir(), kArchiverCheck, "error"}));
    EXPECT_EQ(driver->LastRun(), RunOutcome::NotStarted);
    EXPECT_EQ(driver->ExitStatus(), 2);
    EXPECT_FALSE(fs::exists(Work("238.rar")));
    EXPECT_TRUE(window.btOK().IsVisible());
    EXPECT_FALSE(window.btOK().IsEnabled());
    EXPECT_EQ(window.btCancel().Caption(), "Відмінити");
    EXPECT_TRUE(window.btCancel().IsEnabled());
    // Console mode shows boxes on standard error: the missing program is named there too.
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].kind, MessageKind::Error);
    EXPECT_EQ(window.boxes[0].text, "Не знайдено архіватор " + suite.File("rar") + ".");
    Close();
    EXPECT_EQ(Version(), "237");
}

INSTANTIATE_TEST_SUITE_P(NoFileOrDirectory, MissingArchiver, testing::Bool());

TEST_F(UpdateRun, ArchiverThatCannotBeStartedGivesTheFailureLine) {
    Prepare(237, {{238, ContentPackage(238)}});
    WriteFile(suite.File("rar"), "not a program");
    chmod(suite.File("rar").c_str(), 0644);
    const std::vector<std::string> lines = Run();
    // The reason why the system could not start it follows the code.
    EXPECT_EQ(lines, Concat(Start(), {kCopying, Work("238.rar"), kUnpacking,
                                      "error (-1) Cannot start \"" + suite.File("rar") +
                                          "\": " + SystemMessage(EACCES),
                                      kFailedPrefix + "-1"}))
        << Journal();
    EXPECT_EQ(driver->LastRun(), RunOutcome::Failed);
    EXPECT_EQ(driver->FailureCode(), -1);
    ExpectControlsAfterRun(false);
    EXPECT_TRUE(fs::exists(Work("238.rar")));  // kept for inspection
    Close();
    EXPECT_EQ(Version(), "237");
}

TEST_F(UpdateRun, DamagedPackageIsNotInstalled) {
    Prepare(237, {});
    WriteFile(suite.Scratch("damaged.rar"), "this is not a RAR archive at all");
    suite.Pack({{238, suite.Scratch("damaged.rar")}});
    const std::vector<std::string> lines = Run();
    const size_t start = Start().size();
    ASSERT_EQ(lines.size(), start + 5) << Journal();
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(start + 3)),
              Concat(Start(), {kCopying, Work("238.rar"), kUnpacking + "[OK]"}));
    const int code = driver->FailureCode();
    EXPECT_GT(code, 0);
    // The archiver's own message, under its exit status, stays in the journal.
    EXPECT_EQ(lines[start + 3], "error (" + std::to_string(code) + ") rar: " + Work("238.rar") +
                                    ": The archive cannot be read (error 0)");
    EXPECT_EQ(lines.back(), kFailedPrefix + std::to_string(code));
    EXPECT_EQ(driver->LastRun(), RunOutcome::Failed);
    ExpectControlsAfterRun(false);
    EXPECT_EQ(ReadFile(suite.File("tessara.exe")), "old program");
    EXPECT_TRUE(fs::exists(Work("238.rar")));
    Close();
    EXPECT_EQ(Version(), "237");
}

TEST_F(UpdateRun, CleanUpRemovesEverythingLeftButNeverFollowsALink) {
    Prepare(237, {{238, Without(ContentPackage(238), "Reports/list.fr3")}});
    // What an earlier run left: files, subdirectories, a directory named like the package file
    // (which would stop the package from being written), and a link to someone else's files.
    fs::create_directories(Work("Reports"));
    fs::create_directories(Work("keep/deeper"));
    fs::create_directories(Work("238.rar/inside"));
    fs::create_directories(suite.Scratch("outside"));
    WriteFile(Work("stale.txt"), "stale");
    WriteFile(Work("Reports/old.fr3"), "old template");
    WriteFile(Work("keep/deeper/k.txt"), "k");
    WriteFile(suite.Scratch("outside/outside.txt"), "not ours to delete");
    fs::create_directory_symlink(suite.Scratch("outside"), Work("up"));

    const std::vector<std::string> lines = Run();
    EXPECT_EQ(lines.back(), kSucceeded) << Journal();
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("old.fr3"), std::string::npos) << line;
    }
    EXPECT_FALSE(fs::exists(suite.File("Reports/old.fr3")));
    for (const char* name : {"stale.txt", "Reports", "keep", "238.rar", "up"}) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(Work(name)))) << name;
    }
    EXPECT_EQ(ReadFile(suite.Scratch("outside/outside.txt")), "not ours to delete");
    Close();
    EXPECT_EQ(Version(), "238");
}

TEST_F(UpdateRun, LinkPlantedAtTheWorkDirectoryIsNotTouched) {
    Prepare(237, {{238, ContentPackage(238)}});
    fs::create_directories(suite.Scratch("victim"));
    WriteFile(suite.Scratch("victim/v.txt"), "victim's file");
    fs::create_directory_symlink(suite.Scratch("victim"), suite.WorkDir());

    const std::vector<std::string> lines = Run();
    EXPECT_EQ(lines, (std::vector<std::string>{kCreating, "error"}));
    EXPECT_EQ(driver->LastRun(), RunOutcome::NotStarted);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "Робочий каталог " + suite.WorkDir() +
                                        " є посиланням, тому оновлення його не використовує.");
    EXPECT_TRUE(fs::is_symlink(suite.WorkDir()));
    EXPECT_EQ(ReadFile(suite.Scratch("victim/v.txt")), "victim's file");
    EXPECT_EQ(
        std::distance(fs::directory_iterator(suite.Scratch("victim")), fs::directory_iterator()),
        1);
    EXPECT_FALSE(window.btOK().IsEnabled());
    Close();
    EXPECT_EQ(Version(), "237");
}

TEST_F(UpdateRun, WorkDirectoryOfAnotherUserIsNotTouched) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a directory to another user";
    }
    Prepare(237, {{238, ContentPackage(238)}});
    fs::create_directories(suite.WorkDir());
    WriteFile(Work("theirs.txt"), "their file");
    ASSERT_EQ(chown(suite.WorkDir().c_str(), 65534, 65534), 0);

    const std::vector<std::string> lines = Run();
    EXPECT_EQ(lines, (std::vector<std::string>{kCreating, "error"}));
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text,
              "Робочий каталог " + suite.WorkDir() +
                  " належить іншому користувачеві, тому оновлення його не використовує.");
    EXPECT_EQ(ReadFile(Work("theirs.txt")), "their file");
    EXPECT_FALSE(fs::exists(Work("238.rar")));
}

TEST_F(UpdateRun, ExistingWorkDirectoryIsMadePrivate) {
    Prepare(237, {{238, ContentPackage(238)}});
    fs::create_directories(suite.WorkDir());
    chmod(suite.WorkDir().c_str(), 0777);
    EXPECT_EQ(Run().back(), kSucceeded);
    struct stat info {};
    ASSERT_EQ(stat(suite.WorkDir().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(UpdateRun, DamagedEmbeddedItemIsNeverUnpacked) {
    Prepare(237, {{238, ContentPackage(238)}});
    {
        const CEmbeddedItems items(suite.File("updater"));
        const EmbeddedItem* item = items.Find("238_RAR");
        ASSERT_NE(item, nullptr);
        std::fstream file(suite.File("updater"), std::ios::in | std::ios::out | std::ios::binary);
        const auto at = static_cast<std::streamoff>(item->offset + item->size / 2);
        file.seekg(at);
        char byte = 0;
        file.get(byte);
        file.seekp(at);
        file.put(static_cast<char>(byte ^ 0x5A));
    }
    const std::vector<std::string> lines = Run();
    EXPECT_EQ(lines, Concat(Start(), {kCopying})) << Journal();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].kind, MessageKind::Error);
    EXPECT_NE(window.boxes[0].text.find("238_RAR"), std::string::npos) << window.boxes[0].text;
    EXPECT_EQ(driver->LastRun(), RunOutcome::Aborted);
    EXPECT_FALSE(fs::exists(Work("238.rar")));
    EXPECT_EQ(ReadFile(suite.File("tessara.exe")), "old program");
    Close();
    EXPECT_EQ(Version(), "237");
}

TEST_F(UpdateRun, FailedCopyKeepsThePackageOpenUntilTheNextRunCopiesIt) {
    Prepare(237, {{238, ContentPackage(238)}});
    // "Reports" in the program directory is a file: the template cannot go below it.
    fs::remove(suite.File("Reports"));
    WriteFile(suite.File("Reports"), "keep me");
    std::vector<std::string> lines = Run();
    ASSERT_GE(lines.size(), 5u);
    const std::vector<std::string> tail(lines.end() - 5, lines.end());
    EXPECT_EQ(tail[0], "list.fr3...");
    EXPECT_EQ(tail[1].rfind("error (20) ", 0), 0u) << tail[1];
    EXPECT_EQ(tail[2], "tessara.exe...[OK]");
    EXPECT_EQ(tail[3],
              "Пакет 238 не завершено: не скопійовано файлів: 1. Запустіть оновлення ще "
              "раз, коли причину буде усунено");
    EXPECT_EQ(tail[4], kFailedPrefix + "-3");
    EXPECT_EQ(ReadFile(suite.File("Reports")), "keep me");
    EXPECT_EQ(ReadFile(suite.File("tessara.exe")), "program of 238");
    // The journal line stays as it is; the copy is a failed item of the run besides.
    ASSERT_EQ(window.failedCopies.size(), 1u);
    ASSERT_EQ(window.failedCopies[0].size(), 1u);
    EXPECT_EQ(window.failedCopies[0][0].destination, suite.File("Reports/list.fr3"));
    EXPECT_EQ(window.failedCopies[0][0].error, tail[1]);
    EXPECT_TRUE(window.failedItems[0].empty());
    EXPECT_EQ(driver->FailedItemCount(), 1);
    EXPECT_EQ(driver->LastRun(), RunOutcome::Failed);
    EXPECT_EQ(driver->FailureCode(), kFilesNotCopied);
    EXPECT_EQ(driver->ExitStatus(), 1);
    Close();
    EXPECT_EQ(Version(), "238");

    // The cause goes; the next run continues the package, which copies the template then.
    fs::remove(suite.File("Reports"));
    lines = Run();
    EXPECT_EQ(driver->ExitStatus(), 0) << Journal();
    EXPECT_EQ(lines.back(), kSucceeded);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "list.fr3...[OK]"), lines.end()) << Journal();
    EXPECT_EQ(ReadFile(suite.File("Reports/list.fr3")), "template of 238");
    Close();
    // Every statement ran once, and the package is complete: nothing is left to install.
    EXPECT_EQ(QueryColumn(suite.Database(), "select id from ARTICLE order by id"),
              (std::vector<std::string>{"23801", "23802"}));
    driver = std::make_unique<CUpdateDriver>(window, suite.Paths());
    driver->FormShow();
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::NothingToInstall) << Journal();
    Close();
}

// The window's process ends with the status of a run that did not end in success, whether or
// not a later package waited; the checks alone, and a success with failed items, end with 0.
TEST_F(UpdateRun, TheWindowEndsWithTheStatusOfItsRun) {
    PackageFiles later = ContentPackage(239);
    later["up.2026.05.03.lsql"] += "insert into NO_SUCH_TABLE values (1);\r\n";
    Prepare(237, {{238, ContentPackage(238)}, {239, later}});
    fs::remove(suite.File("Reports"));
    WriteFile(suite.File("Reports"), "in the way");
    const auto windowRun = [&](bool click) {
        std::unique_ptr<IFormDriver> form = UpdateDriverFactory(suite.Paths())(window);
        form->FormShow();
        if (click) {
            form->btOKClick();
        }
        return form->ExitStatus();
    };
    EXPECT_EQ(windowRun(false), 0) << Journal();
    EXPECT_EQ(windowRun(true), 1) << Journal();  // the only package is unfinished
    fs::remove(suite.File("Reports"));
    EXPECT_EQ(windowRun(true), 0) << Journal();
    ASSERT_FALSE(window.failedItems.empty());
    EXPECT_EQ(window.failedItems.back().size(), 1u);  // 239's statement: 4 in console mode
    EXPECT_EQ(windowRun(false), 0) << Journal();      // nothing to install: 3 in console mode
}

TEST_F(UpdateRun, FailedCopyStopsTheRunBeforeTheLaterPackages) {
    Prepare(237, {{238, ContentPackage(238)}, {239, ContentPackage(239)}});
    fs::remove(suite.File("tessara.exe"));
    fs::create_directories(suite.File("tessara.exe/in the way"));
    std::vector<std::string> lines = Run();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "Пакет 238 не завершено: не скопійовано файлів: 1. "
              "Запустіть оновлення ще раз, коли причину буде усунено");
    EXPECT_EQ(lines.back(), kFailedPrefix + "-3");
    EXPECT_EQ(driver->FailureCode(), kFilesNotCopied);
    EXPECT_EQ(driver->ExitStatus(), 1);
    Close();
    EXPECT_EQ(Version(), "238");  // 239 waits for 238's program

    fs::remove_all(suite.File("tessara.exe"));
    lines = Run();
    EXPECT_EQ(driver->ExitStatus(), 0) << Journal();
    Close();
    EXPECT_EQ(Version(), "239");
    EXPECT_EQ(ReadFile(suite.File("tessara.exe")), "program of 239");
    EXPECT_EQ(QueryColumn(suite.Database(), "select id from ARTICLE order by id"),
              (std::vector<std::string>{"23801", "23802", "23901", "23902"}));
}

TEST_F(UpdateRun, MissingReportsDirectoryIsMade) {
    Prepare(237, {{238, ContentPackage(238)}});
    fs::remove_all(suite.File("Reports"));
    Run();
    EXPECT_EQ(driver->ExitStatus(), 0) << Journal();
    EXPECT_EQ(ReadFile(suite.File("Reports/list.fr3")), "template of 238");
    Close();
}

TEST_F(UpdateRun, ReportsLinkedElsewhereGetsNoTemplate) {
    // Whoever may write in the suite's directory turned "Reports" into a link to a directory
    // of theirs: templates are not written through it.
    Prepare(237, {{238, ContentPackage(238)}});
    const std::string elsewhere = suite.Scratch("elsewhere");
    fs::create_directories(elsewhere);
    fs::remove_all(suite.File("Reports"));
    fs::create_directory_symlink(elsewhere, suite.File("Reports"));
    Run();
    EXPECT_EQ(driver->ExitStatus(), 1) << Journal();
    ASSERT_EQ(window.failedCopies.size(), 1u);
    ASSERT_EQ(window.failedCopies[0].size(), 1u);
    EXPECT_EQ(window.failedCopies[0][0].error, "error (40) Too many levels of symbolic links");
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_TRUE(fs::is_symlink(suite.File("Reports")));
    Close();
}

TEST_F(UpdateRun, FailedStatementsAreOfferedBesideTheJournal) {
    PackageFiles files = ContentPackage(238);
    files["up.2026.05.03.lsql"] +=
        "insert into NO_SUCH_TABLE values (1);\r\nupdate ARTICLE set nosuchcolumn = 1;\r\n";
    Prepare(237, {{238, files}});
    const std::vector<std::string> lines = Run();
    // The journal is the same as for a clean run.
    EXPECT_EQ(lines, Concat(Concat(Start(), PackageBlock(238)), {kSucceeded})) << Journal();
    const std::string log = Work("up.2026.05.03.lsql.log");
    ASSERT_EQ(window.failedItems.size(), 1u);
    ASSERT_EQ(window.failedItems[0].size(), 1u);
    // The next run empties the work directory: the log the window offers is a copy beside the
    // run record.
    const std::string kept = suite.KeptLog(238, "up.2026.05.03.lsql.log");
    EXPECT_EQ(window.failedItems[0][0].path, kept);
    EXPECT_EQ(window.failedItems[0][0].count, 2);
    EXPECT_EQ(CountLogEntries(kept), 2);
    EXPECT_EQ(ReadFile(kept), ReadFile(log));
    EXPECT_NE(ReadFile(kept).find("NO_SUCH_TABLE"), std::string::npos);
    Close();
    EXPECT_EQ(Version(), "238");
}

TEST_F(UpdateRun, VersionScriptWithoutItsTerminatorStopsTheRunAfterItsPackage) {
    PackageFiles first = ContentPackage(238);
    first["up.99.238.lsql"] = "update versions set data = 238\r\n";
    Prepare(237, {{238, first}, {239, ContentPackage(239)}});
    const std::vector<std::string> lines = Run();
    EXPECT_EQ(lines,
              Concat(Concat(Start(), PackageBlock(238)),
                     {"error: після пакета 238 версія бази даних 237", kFailedPrefix + "-2"}))
        << Journal();
    EXPECT_EQ(driver->LastRun(), RunOutcome::Failed);
    EXPECT_EQ(driver->FailureCode(), kVersionNotReached);
    EXPECT_EQ(driver->ExitStatus(), 1);
    EXPECT_EQ(window.lCurVer().Caption(), "237");
    ExpectControlsAfterRun();
    // The statement that never ran is in its log, offered beside the journal.
    ASSERT_EQ(window.failedItems.size(), 1u);
    ASSERT_EQ(window.failedItems[0].size(), 1u);
    EXPECT_EQ(window.failedItems[0][0].path, suite.KeptLog(238, "up.99.238.lsql.log"));
    Close();
    EXPECT_EQ(Version(), "237");
    // Package 239 was not touched.
    EXPECT_EQ(QueryColumn(suite.Database(), "select id from ARTICLE order by id"),
              (std::vector<std::string>{"23801", "23802"}));
    EXPECT_EQ(ReadFile(suite.File("tessara.exe")), "program of 238");
}

TEST_F(UpdateRun, VersionStatementRefusedOnceIsTriedAgainByTheNextRun) {
    Prepare(237, {{238, ContentPackage(238)}});
    // The version statement is refused while BLOCKED has a row, as by a lock that passes.
    ExecuteStatements(suite.Database(),
                      {"create table BLOCKED (N integer)", "insert into BLOCKED values (1)",
                       "create exception E_BLOCKED 'versions are blocked'",
                       "create trigger VERSIONS_GUARD for versions before update as begin "
                       "if (exists(select 1 from BLOCKED)) then exception E_BLOCKED; end"});
    Run();
    EXPECT_EQ(driver->FailureCode(), kVersionNotReached) << Journal();
    EXPECT_NE(ReadFile(Work("up.99.238.lsql.log")).find("versions are blocked"), std::string::npos);
    Close();

    ExecuteStatements(suite.Database(), {"delete from BLOCKED"});
    const std::vector<std::string> lines = Run();
    EXPECT_EQ(lines.back(), kSucceeded) << Journal();
    EXPECT_EQ(driver->ExitStatus(), 0) << Journal();
    Close();
    EXPECT_EQ(Version(), "238");
    // Every other statement ran once: the articles are there once each.
    EXPECT_EQ(QueryColumn(suite.Database(), "select id from ARTICLE order by id"),
              (std::vector<std::string>{"23801", "23802"}));
}

TEST_F(UpdateRun, FailuresOfAScriptWhoseNameALaterPackageRepeatsAreKept) {
    PackageFiles first = ContentPackage(238);
    first["up.2026.05.03.lsql"] += "insert into NO_SUCH_TABLE values (1);\r\n";
    Prepare(237, {{238, first}, {239, ContentPackage(239)}});
    Run();
    EXPECT_EQ(driver->ExitStatus(), 4) << Journal();
    // Both packages have up.2026.05.03.lsql: the first one's log is kept under its number.
    const std::string kept = Work("up.2026.05.03.lsql.238.log");
    ASSERT_EQ(window.failedItems.size(), 1u);
    ASSERT_EQ(window.failedItems[0].size(), 1u);
    EXPECT_EQ(window.failedItems[0][0].path, suite.KeptLog(238, "up.2026.05.03.lsql.238.log"));
    EXPECT_EQ(window.failedItems[0][0].count, 1);
    EXPECT_NE(ReadFile(kept).find("NO_SUCH_TABLE"), std::string::npos);
    EXPECT_FALSE(FileExists(Work("up.2026.05.03.lsql.log")));
}

TEST_F(UpdateRun, EmptyPackageIsAFailure) {
    Prepare(237, {{238, PackageFiles{}}});
    const std::vector<std::string> lines = Run();
    EXPECT_EQ(lines, Concat(Start(), {kCopying, Work("238.rar"), kUnpacking + "[OK]", kInstalling,
                                      "error: після пакета 238 версія бази даних 237",
                                      kFailedPrefix + "-2"}))
        << Journal();
    EXPECT_EQ(driver->ExitStatus(), 1);
    EXPECT_EQ(window.lCurVer().Caption(), "237");
}

TEST_F(UpdateRun, RowLockedByAnotherConnectionFailsItsStatementAfterTheTimeout) {
    PackageFiles files = ContentPackage(238);
    files["up.2026.05.03.lsql"] += "update SETTINGS set V = 1 where ID = 1;\r\n";
    Prepare(237, {{238, files}});
    ExecuteStatements(suite.Database(), {"create table SETTINGS (ID integer not null primary key, "
                                         "V integer)",
                                         "insert into SETTINGS values (1, 0)"});
    // Another connection changes the row and does not commit.
    CDatabase holder;
    holder.Attachment().Attach(suite.Database(), "SYSDBA", "masterkey");
    holder.DefaultTransaction().Start();
    CSqlStatement hold(holder);
    hold.SetText("update SETTINGS set V = 2 where ID = 1");
    hold.Execute();

    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> lines = Run();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(lines, Concat(Concat(Start(), PackageBlock(238)), {kSucceeded})) << Journal();
    EXPECT_GE(took, std::chrono::seconds(kLockTimeoutSeconds - 1));
    EXPECT_LT(took, std::chrono::seconds(kLockTimeoutSeconds + 20));
    const std::string log = Work("up.2026.05.03.lsql.log");
    EXPECT_EQ(CountLogEntries(log), 1);
    EXPECT_NE(ReadFile(log).find("update SETTINGS set V = 1"), std::string::npos);
    EXPECT_NE(ReadFile(log).find("update conflicts with concurrent update"), std::string::npos)
        << ReadFile(log);
    EXPECT_EQ(driver->ExitStatus(), 4);

    holder.DefaultTransaction().Rollback();
    holder.Attachment().Detach();
    Close();
    EXPECT_EQ(Version(), "238");  // the statements after it ran
    EXPECT_EQ(QueryColumn(suite.Database(), "select V from SETTINGS"),
              (std::vector<std::string>{"0"}));
}

// Anything that leaves the wait for a statement (here an allocation that fails in the window's
// loop) ends the run after the statement has been ended and waited for: it is neither counted as
// a failed item nor applied, and no later call takes its end for its own. The next run applies
// it once.
TEST_F(UpdateRun, AnErrorWhileAStatementRunsEndsTheRunAfterTheStatement) {
    PackageFiles files = ContentPackage(238);
    files["up.2026.05.03.lsql"] += "update SETTINGS set V = 1 where ID = 1;\r\n";
    Prepare(237, {{238, files}});
    ExecuteStatements(suite.Database(), {"create table SETTINGS (ID integer not null primary key, "
                                         "V integer)",
                                         "insert into SETTINGS values (1, 0)"});
    CDatabase holder;  // keeps the row locked: the statement waits for it
    holder.Attachment().Attach(suite.Database(), "SYSDBA", "masterkey");
    holder.DefaultTransaction().Start();
    CSqlStatement hold(holder);
    hold.SetText("update SETTINGS set V = 2 where ID = 1");
    hold.Execute();
    bool injected = false;
    window.whilePumping = [&] {
        // Thrown once the server shows the statement waiting for the row.
        if (!injected && QueryColumn(suite.Database(),
                                     "select count(*) from MON$STATEMENTS where MON$STATE = 1 "
                                     "and MON$SQL_TEXT starting with 'update SETTINGS set V = 1'")
                                 .at(0) == "1") {
            injected = true;
            throw std::bad_alloc();
        }
    };
    Run();
    window.whilePumping = nullptr;
    ASSERT_TRUE(injected) << Journal();
    EXPECT_EQ(driver->LastRun(), RunOutcome::Aborted);
    ASSERT_EQ(window.boxes.size(), 1u) << Journal();
    EXPECT_EQ(driver->FailedItemCount(), 0);
    EXPECT_FALSE(FileExists(Work("up.2026.05.03.lsql.log")));
    Close();
    holder.DefaultTransaction().Rollback();

    // The rerun continues the package and applies the statement once.
    const std::vector<std::string> rerun = Run();
    EXPECT_EQ(rerun.back(), kSucceeded) << Journal();
    EXPECT_EQ(driver->FailedItemCount(), 0);
    Close();
    EXPECT_EQ(Version(), "238");
    EXPECT_EQ(QueryColumn(suite.Database(), "select V from SETTINGS"),
              (std::vector<std::string>{"1"}));
    holder.Attachment().Detach();
}

// The date and time at the start of a record line.
const std::regex kStamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");

TEST_F(UpdateRun, EveryRunIsRecordedInTheSuitesDirectory) {
    Prepare(237, {{238, ContentPackage(238)}});
    fs::remove(suite.File("Reports"));
    WriteFile(suite.File("Reports"), "a file: the template's copy fails");
    const std::vector<std::string> lines = Run();
    ASSERT_EQ(lines.back(), kFailedPrefix + "-3") << Journal();
    Close();

    const std::vector<std::string> record = SplitLines(ReadFile(suite.File("tessara-updater.log")));
    ASSERT_EQ(record.size(), 1 + window.journal.size() + 3)
        << ReadFile(suite.File("tessara-updater.log"));
    const std::string header = "=== ";
    EXPECT_EQ(record[0].rfind(header, 0), 0u) << record[0];
    EXPECT_TRUE(std::regex_match(record[0].substr(4, 19), kStamp)) << record[0];
    // Who ran it: the user and the machine, as the system names them.
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    const passwd* user = getpwuid(geteuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(record[0].substr(23),
              " window " + std::string(user->pw_name) + "@" + host + " " + suite.File("updater"));
    // Every journal line, final (marks included), each after its time stamp.
    for (size_t i = 0; i < window.journal.size(); ++i) {
        const std::string& line = record[1 + i];
        ASSERT_GT(line.size(), 20u);
        EXPECT_TRUE(std::regex_match(line.substr(0, 19), kStamp)) << line;
        EXPECT_EQ(line.substr(20), window.journal[i]);
    }
    const std::vector<std::string> tail(record.end() - 3, record.end());
    EXPECT_EQ(tail[0].substr(20), "[packages] 238");
    EXPECT_EQ(tail[1].substr(20), "[outcome] failed with code -3 (exit status 1 in console mode)");
    EXPECT_EQ(tail[2].substr(20),
              "[failed] copy " + suite.File("Reports/list.fr3") + ": error (20) Not a directory");
}

TEST_F(UpdateRun, RecordOverItsLimitKeepsTheNewestWholeRuns) {
    Prepare(238, {{238, ContentPackage(238)}});  // nothing to install: the pre-flight alone
    // Twelve earlier runs of about 100 KB each: 1.2 MB.
    const std::string recordPath = suite.File("tessara-updater.log");
    std::string earlier;
    for (int run = 0; run < 12; ++run) {
        earlier += "=== 2026-01-01 10:00:00 console /old/updater run " + std::to_string(run) + "\n";
        for (int line = 0; line < 1000; ++line) {
            earlier +=
                "2026-01-01 10:00:01 " + std::string(80, 'a' + static_cast<char>(run)) + "\n";
        }
    }
    WriteFile(recordPath, earlier);
    chmod(recordPath.c_str(), 0640);
    driver = std::make_unique<CUpdateDriver>(window, suite.Paths());
    driver->FormShow();
    ASSERT_EQ(driver->LastPreflight(), PreflightOutcome::NothingToInstall);
    Close();

    const std::string record = ReadFile(recordPath);
    EXPECT_LE(record.size(), kRunRecordLimit / 2 + 4096);
    // Runs 7 to 11 fit in half the limit, run 6 would not; the new run follows them.
    EXPECT_EQ(record.rfind("=== 2026-01-01 10:00:00 console /old/updater run 7\n", 0), 0u);
    EXPECT_NE(record.find("run 11\n"), std::string::npos);
    EXPECT_EQ(record.find("run 6\n"), std::string::npos);
    EXPECT_EQ(record.find(std::string(80, 'g')), std::string::npos);
    const std::vector<std::string> lines = SplitLines(record);
    EXPECT_EQ(lines.back().substr(20),
              "[outcome] nothing to install (exit status 3 in console mode)");
    struct stat info {};
    ASSERT_EQ(stat(recordPath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    // Cut by a replacing write: nothing is left beside it.
    for (const std::string& name : DirectoryEntries(suite.Dir())) {
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    }
}

TEST_F(UpdateRun, RecordThatCannotBeWrittenDoesNotStopTheUpdate) {
    Prepare(237, {{238, ContentPackage(238)}});
    fs::create_directory(suite.File("tessara-updater.log"));
    EXPECT_EQ(Run().back(), kSucceeded) << Journal();
    EXPECT_EQ(driver->ExitStatus(), 0);
}

namespace {

// Another connection that has a statement on the package ledger UPD$LEDGER prepared, as a
// monitoring tool or a curious administrator may: the table cannot be dropped meanwhile.
class CLedgerReader {
  public:
    explicit CLedgerReader(const std::string& database) {
        m_database.Attachment().Attach(database, "SYSDBA", "masterkey");
        m_database.DefaultTransaction().Start();
        m_reader = std::make_unique<CSqlStatement>(m_database);
        m_reader->SetText("select count(*) from UPD$LEDGER where SCRIPT is null");
        m_reader->Prepare();
    }
    // Whether the ledger's package row is gone (the package is complete), as committed now.
    bool PackageRowGone() {
        CTransaction transaction(m_database.Attachment());
        std::vector<CDbRow> rows;
        RunInOwnTransaction(transaction, [&] {
            rows = FetchRows(transaction, "select count(*) from UPD$LEDGER where SCRIPT is null");
        });
        return rows.at(0).at(0).value.integer == 0;
    }

  private:
    CDatabase m_database;
    std::unique_ptr<CSqlStatement> m_reader;
};

const std::string kLedgerLeftFor238 = "Пакет 238 встановлено, але таблицю UPD$LEDGER не видалено (";
const std::string kLedgerCleared = "Таблицю UPD$LEDGER завершеного пакета 238 видалено";

}  // namespace

TEST_F(UpdateRun, LedgerInUseAsThePackageCompletesIsSaidAndTheNextRunClearsIt) {
    Prepare(237, {{238, ContentPackage(238)}});
    std::unique_ptr<CLedgerReader> reader;
    window.whilePumping = [&] {
        if (!reader && !window.journal.empty() && window.journal.back() == "up.2026.05.03.lsql") {
            reader = std::make_unique<CLedgerReader>(suite.Database());
        }
    };
    const std::vector<std::string> lines = Run();
    ASSERT_NE(reader, nullptr);
    ASSERT_GE(lines.size(), 2u);
    const std::string& left = lines[lines.size() - 2];
    EXPECT_EQ(left.rfind(kLedgerLeftFor238, 0), 0u) << Journal();
    EXPECT_NE(left.find("in use"), std::string::npos) << left;
    EXPECT_TRUE(left.ends_with("): її видалить наступний запуск програми оновлення")) << left;
    EXPECT_EQ(lines.back(), kSucceeded);
    EXPECT_EQ(driver->ExitStatus(), 0);
    Close();
    reader.reset();
    window = CRecordingWindow();

    // The next run finds the package complete, says so and drops what it left.
    driver = std::make_unique<CUpdateDriver>(window, suite.Paths());
    driver->FormShow();
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::NothingToInstall);
    EXPECT_NE(std::find(window.journal.begin(), window.journal.end(), kLedgerCleared),
              window.journal.end())
        << Journal();
    Close();
    EXPECT_TRUE(QueryColumn(suite.Database(),
                            "select 1 from RDB$RELATIONS where "
                            "RDB$RELATION_NAME = 'UPD$LEDGER'")
                    .empty());
}

TEST_F(UpdateRun, SignalWhileTheLedgerWaitsForAnotherConnectionLosesNothing) {
    Prepare(237, {{238, ContentPackage(238)}, {239, ContentPackage(239)}});
    std::unique_ptr<CLedgerReader> reader;
    bool signalled = false;
    window.whilePumping = [&] {
        if (!reader && !window.journal.empty() && window.journal.back() == "up.2026.05.03.lsql") {
            reader = std::make_unique<CLedgerReader>(suite.Database());
        } else if (reader && !signalled && reader->PackageRowGone()) {
            // 238 is complete, and its ledger waits to be dropped.
            SetInterruptForTest("SIGTERM");
            signalled = true;
        }
    };
    Run();
    SetInterruptForTest("");
    ASSERT_TRUE(signalled) << Journal();
    EXPECT_EQ(driver->LastRun(), RunOutcome::Interrupted) << Journal();
    EXPECT_EQ(driver->ExitStatus(), 5);
    Close();
    reader.reset();
    EXPECT_EQ(Version(), "238");

    window = CRecordingWindow();
    const std::vector<std::string> lines = Run();
    const auto cleared = std::find(window.journal.begin(), window.journal.end(), kLedgerCleared);
    ASSERT_NE(cleared, window.journal.end()) << Journal();
    EXPECT_EQ(*(cleared - 1), "Версія бази даних: 238");
    EXPECT_NE(std::find(window.journal.begin(), window.journal.end(), "239_RAR [OK]"),
              window.journal.end())
        << Journal();
    EXPECT_EQ(lines.back(), kSucceeded) << Journal();
    Close();
    EXPECT_EQ(Version(), "239");
    EXPECT_EQ(QueryColumn(suite.Database(), "select id from ARTICLE order by id"),
              (std::vector<std::string>{"23801", "23802", "23901", "23902"}));
}
