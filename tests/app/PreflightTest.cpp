// The checks made when the window is first shown, against real embedded databases and a real
// packed updater.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/CommandLine.h"
#include "app/UpdateDriver.h"
#include "db/Uglobdb.h"
#include "install/PackageLedger.h"
#include "platform/EmbeddedItems.h"
#include "platform/FileSystem.h"
#include "tests/app/RecordingWindow.h"
#include "tests/app/Suite.h"

namespace {

const std::string kSuiteCheck = "Перевірка запущенної програми...";
const std::string kConnecting = "Підключення до бази даних";
const std::string kPackagesHeading = "Наявні пакети оновлення:";
const std::string kTooOld = "Версія БД меньше номеру пакета оновлень";
const std::string kTooNew = "Версія БД більша за номер пакета оновлень";
const std::string kImpossible = "Оновлення не можливо!!!";

class Preflight : public testing::Test {
  protected:
    // Packs the updater with the given package numbers (each a small package file).
    void PackNumbers(const std::vector<int>& numbers) {
        WriteFile(suite.Scratch("package.rar"), "Rar!\x1a\x07");
        std::vector<std::pair<int, std::string>> packages;
        for (const int number : numbers) {
            packages.emplace_back(number, suite.Scratch("package.rar"));
        }
        suite.Pack(packages);
    }

    void Run() {
        driver = std::make_unique<CUpdateDriver>(window, suite.Paths());
        driver->FormShow();
    }

    std::vector<std::string> Head(const std::string& versionLine) const {
        return {kSuiteCheck + "OK", kConnecting, suite.Database(), versionLine, kPackagesHeading};
    }

    CSuite suite;
    CRecordingWindow window;
    std::unique_ptr<CUpdateDriver> driver;
};

}  // namespace

TEST_F(Preflight, AdmitsTheVersionBelowTheSinglePackage) {
    suite.CreateDatabase(237);
    PackNumbers({238});
    Run();
    EXPECT_EQ(window.journal, Concat(Head("Версія бази даних: 237"), {"238_RAR [OK]"}));
    EXPECT_EQ(window.journal.size(), 6u);
    EXPECT_TRUE(window.btOK().IsEnabled());
    EXPECT_EQ(window.lCurVer().Caption(), "237");
    EXPECT_EQ(window.lActVer().Caption(), "238");
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::Admitted);
    EXPECT_EQ(driver->DatabaseVersion(), 237);
    EXPECT_EQ(driver->LowestPackage(), 238);
    EXPECT_EQ(driver->HighestPackage(), 238);
}

TEST_F(Preflight, RefusesTheSameVersionAsThePackage) {
    suite.CreateDatabase(238);
    PackNumbers({238});
    Run();
    EXPECT_EQ(window.journal,
              Concat(Head("Версія бази даних: 238"), {"238_RAR", kTooNew, kImpossible}));
    EXPECT_FALSE(window.btOK().IsEnabled());
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::NothingToInstall);
}

TEST_F(Preflight, RefusesAVersionTwoBelowThePackage) {
    suite.CreateDatabase(236);
    PackNumbers({238});
    Run();
    EXPECT_EQ(window.journal,
              Concat(Head("Версія бази даних: 236"), {"238_RAR", kTooOld, kImpossible}));
    EXPECT_FALSE(window.btOK().IsEnabled());
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::DatabaseTooOld);
}

TEST_F(Preflight, HighestVersionDoesNotWrapRoundToTooOld) {
    // version + 1 overflows 32 bits; the database is beyond the package, not below it.
    suite.CreateDatabase(2147483647);
    PackNumbers({238});
    Run();
    EXPECT_EQ(window.journal,
              Concat(Head("Версія бази даних: 2147483647"), {"238_RAR", kTooNew, kImpossible}));
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::NothingToInstall);
}

TEST_F(Preflight, AdmitsAVersionOneBelowTheLowestOfSeveral) {
    suite.CreateDatabase(236);
    PackNumbers({237, 238, 239});
    Run();
    EXPECT_EQ(window.journal,
              Concat(Head("Версія бази даних: 236"), {"237_RAR", "238_RAR", "239_RAR [OK]"}));
    EXPECT_EQ(window.lActVer().Caption(), "237 - 239");
    EXPECT_TRUE(window.btOK().IsEnabled());
}

TEST_F(Preflight, EmptyVersionsTableIsVersionZero) {
    CreateDatabase(suite.Database(), {"create table versions (data integer, update_date date)"});
    PackNumbers({238});
    Run();
    EXPECT_EQ(window.journal,
              Concat(Head("Версія бази даних: 0"), {"238_RAR", kTooOld, kImpossible}));
    EXPECT_EQ(window.lCurVer().Caption(), "0");
    EXPECT_FALSE(window.btOK().IsEnabled());
}

TEST_F(Preflight, NullNewestVersionIsZeroAndAdmitsPackageOne) {
    CreateDatabase(suite.Database(), {"create table versions (data integer, update_date date)",
                                      "insert into versions values (237, '2026-01-01')",
                                      "insert into versions values (null, '2026-02-01')"});
    PackNumbers({1});
    Run();
    EXPECT_EQ(window.journal, Concat(Head("Версія бази даних: 0"), {"1_RAR [OK]"}));
    EXPECT_TRUE(window.btOK().IsEnabled());
}

TEST_F(Preflight, UpdaterWithoutPackagesIsDamagedNotUpToDate) {
    suite.CreateDatabase(237);
    suite.Pack({});  // the bare program: cut exactly at its end, or never packed
    Run();
    EXPECT_EQ(window.journal, Head("Версія бази даних: 237"));
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].kind, MessageKind::Error);
    EXPECT_EQ(window.boxes[0].text, "Програма оновлення " + suite.File("updater") +
                                        " пошкоджена: вона не містить жодного пакета оновлення.");
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::Failed);
    EXPECT_EQ(driver->ExitStatus(), kExitNotStarted);
    EXPECT_FALSE(window.btOK().IsEnabled());
}

TEST_F(Preflight, WrongDatabasePathShowsTheClientsError) {
    const std::string missing = suite.File("missing.gdb");
    suite.WriteIni("[Common]\r\nPathBaseGDB=" + missing + "\r\n");
    PackNumbers({238});
    Run();
    EXPECT_EQ(window.journal, (std::vector<std::string>{kSuiteCheck + "OK", kConnecting, missing}));
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].kind, MessageKind::Error);
    EXPECT_EQ(window.boxes[0].title, kApplicationTitle);
    const std::string& text = window.boxes[0].text;
    EXPECT_EQ(text.rfind("I/O error during \"open\" operation for file", 0), 0u) << text;
    EXPECT_NE(text.find(missing), std::string::npos) << text;
    EXPECT_EQ(text.back(), '.');
    EXPECT_NE(text[text.size() - 2], '.');
    EXPECT_FALSE(window.btOK().IsEnabled());
    EXPECT_EQ(window.lCurVer().Caption(), "-");
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::Failed);
}

TEST_F(Preflight, ServerNameIsUsedOnlyForANonZeroServerType) {
    suite.CreateDatabase(237);
    PackNumbers({238});
    // Type 0: the server name plays no part and the local file opens.
    suite.WriteIni("[Common]\r\nNameServer=127.0.0.1/1\r\nTypeServer=0\r\n");
    Run();
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::Admitted);
    driver.reset();

    // Type 1: the same name is the server, where nothing listens; the journal still shows the
    // database path, not the connection string.
    CRecordingWindow remote;
    suite.WriteIni("[Common]\r\nNameServer= 127.0.0.1/1 \r\nTypeServer=1\r\n");
    CUpdateDriver remoteDriver(remote, suite.Paths());
    remoteDriver.FormShow();
    ASSERT_EQ(remote.boxes.size(), 1u);
    EXPECT_NE(remote.boxes[0].text.find("127.0.0.1"), std::string::npos) << remote.boxes[0].text;
    EXPECT_EQ(remote.journal.back(), suite.Database());
    EXPECT_FALSE(remote.btOK().IsEnabled());
}

TEST_F(Preflight, PackageNameWithoutNumberStopsTheChecks) {
    suite.CreateDatabase(237);
    WriteFile(suite.Scratch("package.rar"), "Rar!");
    WriteEmbeddedItems(
        BuiltProgram("rar"),
        {{"238_RAR", suite.Scratch("package.rar")}, {"ABC_RAR", suite.Scratch("package.rar")}},
        suite.File("updater"));
    Run();
    EXPECT_EQ(window.journal, Concat(Head("Версія бази даних: 237"), {"238_RAR", "ABC_RAR"}));
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "'ABC' is not a valid integer value.");
    EXPECT_FALSE(window.btOK().IsEnabled());
}

// A package that a run began and did not finish, as the database's ledger records it.
class UnfinishedPackage : public Preflight {
  protected:
    void Leave(int version, int number, const std::string& sha256) {
        suite.CreateDatabase(version);
        CGlobDB session(suite.Dir());
        session.Connect("", suite.Database(), "", "");
        CPackageLedger(session.GetDatabase()).Begin({number, sha256});
    }
    std::string CarriedSha() const {
        return CEmbeddedItems(suite.File("updater")).Find("238_RAR")->sha256;
    }
};

TEST_F(UnfinishedPackage, IsAdmittedAtTheVersionItsVersionScriptGave) {
    // Killed after the version script: the version says 238, the ledger says "not finished".
    PackNumbers({238});
    Leave(238, 238, CarriedSha());
    Run();
    EXPECT_EQ(window.journal,
              Concat(Head("Версія бази даних: 238"),
                     {"238_RAR [OK]", "Пакет 238 встановлено не до кінця: його буде продовжено"}));
    EXPECT_TRUE(window.btOK().IsEnabled());
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::Admitted);
}

struct RefusedCase {
    const char* name;
    int version;
    int number;
    bool sameSha;
    const char* reason;
};

class UnfinishedPackageRefused : public UnfinishedPackage,
                                 public testing::WithParamInterface<RefusedCase> {};

TEST_P(UnfinishedPackageRefused, WhenThisUpdaterCannotContinueIt) {
    // Starting the package afresh would apply its statements twice: the run is refused, and
    // the box says which updater can continue it.
    const RefusedCase& c = GetParam();
    PackNumbers({238});
    Leave(c.version, c.number, c.sameSha ? CarriedSha() : std::string(64, '0'));
    Run();
    EXPECT_EQ(window.journal, Concat(Head("Версія бази даних: " + std::to_string(c.version)),
                                     {"238_RAR", c.reason, kImpossible}));
    EXPECT_FALSE(window.btOK().IsEnabled());
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].kind, MessageKind::Error);
    EXPECT_NE(window.boxes[0].text.find("було перервано"), std::string::npos);
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::UnfinishedElsewhere);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnfinishedPackageRefused,
    testing::Values(RefusedCase{"NotCarried", 238, 239, true,
                                "Незавершеного пакета 239 немає в цій програмі оновлення"},
                    RefusedCase{"AnotherBuild", 237, 238, false,
                                "Незавершений пакет 238 відрізняється від пакета цієї програми"},
                    RefusedCase{"DatabaseMovedOn", 240, 238, true,
                                "Версія БД не відповідає незавершеному пакету 238"}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

namespace {

// Offsets in a 64-bit ELF program, read from its headers: where the loaded segments end and
// where the section headers begin.
struct ElfLayout {
    uint64_t programHeaders = 0;
    uint64_t loadedEnd = 0;
    uint64_t sectionHeaders = 0;
};

ElfLayout ReadElfLayout(const std::string& bytes) {
    const auto field = [&](size_t offset, size_t size) {
        uint64_t value = 0;
        std::memcpy(&value, bytes.data() + offset, size);  // little-endian, as the host
        return value;
    };
    ElfLayout layout;
    layout.programHeaders = field(32, 8);
    layout.sectionHeaders = field(40, 8);
    const uint64_t entrySize = field(54, 2);
    const uint64_t count = field(56, 2);
    for (uint64_t i = 0; i < count; ++i) {
        const size_t entry = static_cast<size_t>(layout.programHeaders + i * entrySize);
        constexpr uint64_t kLoad = 1;
        if (field(entry, 4) == kLoad) {
            layout.loadedEnd =
                std::max(layout.loadedEnd, field(entry + 8, 8) + field(entry + 32, 8));
        }
    }
    return layout;
}

}  // namespace

TEST_F(Preflight, UpdaterCutAnywhereIsDamagedNeverUpToDate) {
    // A database beyond the package: an updater that lost its package would read as "nothing
    // to install" there, the answer that hides the damage.
    suite.CreateDatabase(300);
    WriteFile(suite.Scratch("package.rar"), RandomBytes(200000, 3));
    const std::string packed =
        suite.Pack({{238, suite.Scratch("package.rar")}}, BuiltProgram("tessara-updater"));
    const std::string bytes = ReadFile(packed);
    const ElfLayout elf = ReadElfLayout(bytes);
    const uint64_t programEnd = CEmbeddedItems(packed).ProgramSize();
    const uint64_t size = bytes.size();
    ASSERT_LT(elf.loadedEnd, elf.sectionHeaders);
    ASSERT_LT(elf.sectionHeaders, programEnd);

    const std::vector<std::pair<std::string, uint64_t>> cuts = {
        {"inside the ELF header", 30},
        {"inside the program headers", elf.programHeaders + 20},
        {"inside the loaded code", elf.loadedEnd / 2},
        {"at the end of the loaded code", elf.loadedEnd},
        {"between the loaded code and the section headers",
         (elf.loadedEnd + elf.sectionHeaders) / 2},
        {"inside the section headers", elf.sectionHeaders + 10},
        {"one byte before the end of the program", programEnd - 1},
        {"exactly at the end of the program", programEnd},
        {"one byte into the package", programEnd + 1},
        {"inside the package", programEnd + 100000},
        {"at the index", size - 72 - 40},
        {"inside the footer", size - 30},
        {"one byte before the end", size - 1},
    };
    for (const auto& [where, length] : cuts) {
        SCOPED_TRACE(where);
        WriteFile(packed, bytes.substr(0, static_cast<size_t>(length)));
        window = CRecordingWindow();
        Run();
        EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::Failed);
        EXPECT_EQ(driver->ExitStatus(), kExitNotStarted);
        ASSERT_EQ(window.boxes.size(), 1u);
        EXPECT_EQ(window.boxes[0].text.rfind("Програма оновлення " + packed + " пошкоджена: ", 0),
                  0u)
            << window.boxes[0].text;
        EXPECT_EQ(window.journal, Head("Версія бази даних: 300"));
        driver.reset();
    }
}

TEST_F(Preflight, LockFileReplacedByALinkIsRefusedAndNothingIsWrittenThroughIt) {
    suite.CreateDatabase(237);
    PackNumbers({238});
    const std::string victim = suite.Scratch("victim");
    WriteFile(victim, "private\n");
    ASSERT_EQ(symlink(victim.c_str(), suite.File("tessara-updater.lock").c_str()), 0);
    Run();
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::Failed);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "Не вдалося відкрити файл блокування " +
                                        suite.File("tessara-updater.lock") +
                                        ": на його місці посилання.");
    EXPECT_EQ(ReadFile(victim), "private\n");
    EXPECT_FALSE(FileExists(suite.File("tessara-updater.log")));
}

TEST_F(Preflight, RunRecordReplacedByALinkIsSkippedWithALineAndTheChecksGoOn) {
    suite.CreateDatabase(237);
    PackNumbers({238});
    const std::string victim = suite.Scratch("victim");
    WriteFile(victim, "private\n");
    ASSERT_EQ(symlink(victim.c_str(), suite.File("tessara-updater.log").c_str()), 0);
    Run();
    EXPECT_EQ(driver->LastPreflight(), PreflightOutcome::Admitted);
    EXPECT_EQ(window.journal, Concat({"Журнал запусків " + suite.File("tessara-updater.log") +
                                      " не ведеться: на його місці посилання"},
                                     Concat(Head("Версія бази даних: 237"), {"238_RAR [OK]"})));
    driver.reset();
    EXPECT_EQ(ReadFile(victim), "private\n");
}
