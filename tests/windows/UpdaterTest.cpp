// tessara-updater.exe as its users start it, under Wine: packed by tessara-pack.exe, placed in
// a suite directory with lib.ini, with no Firebird client or an unsuitable one. What needs the
// database is tested on Linux; here the program goes up to the connection and fails there as it
// must.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Config.h"
#include "app/PackageDiscovery.h"
#include "platform/ChildProcess.h"
#include "platform/EmbeddedItems.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "platform/SystemError.h"
#include "platform/Text.h"
#include "platform/Utf16.h"
#include "tests/windows/UpdaterTestSupport.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

// Packed once per test process (ctest starts one for each test): package 238 from a directory
// (archived by tessara-pack itself) and package 239 from an archive file given as it is.
class UpdaterPacking : public CPackedUpdaterTest {};

class CJournalLines : public IJournal {
  public:
    void AppendLine(const std::string& text) override { lines.push_back(text); }
    void MarkLastLine(const std::string& suffix) override { lines.back() += suffix; }
    std::vector<std::string> lines;
};

}  // namespace

TEST_F(UpdaterPacking, PackagesAreDiscoveredFromTheUpdatersResources) {
    const CPackedUpdater& packed = *s_packed;
    ASSERT_TRUE(packed.error.empty()) << packed.error;

    const CEmbeddedItems items(packed.path);
    ASSERT_EQ(items.Names(), (std::vector<std::string>{"238_RAR", "239_RAR"}));
    CJournalLines journal;
    CPlainLabel lActVer("-");
    const PackageRange range = DiscoverPackages(PackageNames(items.Names()), journal, lActVer);
    EXPECT_EQ(journal.lines, (std::vector<std::string>{"238_RAR", "239_RAR"}));
    EXPECT_EQ(range.lowest, 238);
    EXPECT_EQ(range.highest, 239);
    EXPECT_EQ(lActVer.Caption(), "238 - 239");

    // The archive given as a file comes back byte for byte; the directory became an archive.
    CTempDir out;
    items.ExtractTo("239_RAR", out.File("239.rar"));
    EXPECT_EQ(ReadFile(out.File("239.rar")), ReadFile(packed.package239));
    items.ExtractTo("238_RAR", out.File("238.rar"));
    const std::string archive = ReadFile(out.File("238.rar"));
    EXPECT_EQ(archive.substr(0, 7), std::string("Rar!\x1A\x07\x00", 7));
    EXPECT_NE(archive.find("up.99.238.lsql"), std::string::npos);
    EXPECT_NE(archive.find("Reports\\list.fr3"), std::string::npos);

    // The packer lists what the updater carries: name, size and SHA-256.
    const ProgramRun listed =
        RunProgram(BuiltProgram("tessara-pack"), "--list \"" + packed.path + "\"", out.Path());
    EXPECT_EQ(listed.exitCode, 0) << listed.errors;
    EXPECT_EQ(SplitLines(listed.output),
              (std::vector<std::string>{
                  "238_RAR\t" + std::to_string(archive.size()) + "\t" + Sha256Hex(archive),
                  "239_RAR\t" + std::to_string(ReadFile(packed.package239).size()) + "\t" +
                      Sha256Hex(ReadFile(packed.package239))}));

    // A packed updater still runs.
    const ProgramRun help = RunProgram(packed.path, "--help", out.Path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find(
                  "Usage: tessara-updater [--console [--no-snapshot] | --plan | --undo | --help]"),
              std::string::npos);
    EXPECT_NE(help.output.find("archiver rar.exe"), std::string::npos);
}

TEST_F(UpdaterPacking, PackingRefusesBadInputAndLeavesNoOutput) {
    CTempDir dir;
    const std::string out = dir.File("out.exe");
    const std::string packer = BuiltProgram("tessara-pack");
    const ProgramRun twice = RunProgram(
        packer,
        "--updater \"" + BuiltProgram("tessara-updater") + "\" --out \"" + out + "\" 238=\"" +
            s_packed->package239 + "\" 0238=\"" + s_packed->package239 + "\"",
        dir.Path());
    EXPECT_EQ(twice.exitCode, 2);
    EXPECT_NE(twice.errors.find("Package 238 is given twice"), std::string::npos) << twice.errors;
    const ProgramRun missing =
        RunProgram(packer,
                   "--updater \"" + BuiltProgram("tessara-updater") + "\" --out \"" + out +
                       "\" 238=\"" + dir.File("нема.rar") + "\"",
                   dir.Path());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.errors.find("No such file or directory: " + dir.File("нема.rar")),
              std::string::npos)
        << missing.errors;
    EXPECT_TRUE(DirectoryEntries(dir.Path()).empty());
}

// The console run in a suite directory without a usable client library: the checks up to the
// connection, then the loader's error, exit status 2, and the run record.
class UpdaterConsole : public UpdaterPacking {
  protected:
    void SetUp() override {
        ASSERT_TRUE(s_packed->error.empty()) << s_packed->error;
        m_suite.Install(s_packed->path);
    }

    ProgramRun RunConsole() { return RunProgram(m_suite.Updater(), "--console", m_suite.Path()); }

    // Standard error of a run refused with `message`: the message, then the exit line naming it.
    static std::vector<std::string> RefusedWith(const std::string& message) {
        return {message, "Код завершення 2: " + message};
    }

    CSuiteDir m_suite;
};

TEST_F(UpdaterConsole, NoClientLibraryStopsAtTheConnection) {
    const std::string database = "D:\\Тессара\\LIB.GDB";
    m_suite.WriteConfig("[Common]\r\nPathBaseGDB=" + database + "\r\nTypeServer=0\r\n");
    const ProgramRun run = RunConsole();
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(SplitLines(run.output),
              (std::vector<std::string>{"Перевірка запущенної програми...OK",
                                        "Підключення до бази даних", database}));
    EXPECT_EQ(
        SplitLines(run.errors),
        RefusedWith("The Firebird client library fbclient.dll is neither in " + m_suite.Path() +
                    " nor on the system's search path: " + SystemMessage(126) + "."));
    const std::string record = ReadFile(m_suite.File("tessara-updater.log"));
    // The header names the user and the machine; every line ends with CR LF, as Notepad of
    // Windows 7 and 8.1 needs to show lines at all.
    wchar_t user[256] = {};
    DWORD userLength = 256;
    ASSERT_TRUE(GetUserNameW(user, &userLength));
    wchar_t host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD hostLength = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(host, &hostLength));
    EXPECT_NE(record.find(" console " + ToUtf8(user) + "@" + ToUtf8(host) + " " +
                          m_suite.Updater() + "\r\n"),
              std::string::npos)
        << record;
    ASSERT_NE(record.find('\n'), std::string::npos);
    for (size_t at = record.find('\n'); at != std::string::npos; at = record.find('\n', at + 1)) {
        EXPECT_TRUE(at > 0 && record[at - 1] == '\r') << "a line of LF alone at " << at;
    }
    EXPECT_NE(record.find("[message] The Firebird client library fbclient.dll is neither in"),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("[outcome] refused: the checks failed, exit status 2"), std::string::npos)
        << record;
}

TEST_F(UpdaterConsole, WithoutConfigurationTheDatabaseIsBesideTheUpdater) {
    const ProgramRun run = RunConsole();
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(SplitLines(run.output),
              (std::vector<std::string>{"Перевірка запущенної програми...OK",
                                        "Підключення до бази даних", m_suite.File("lib.gdb")}));
}

// With a server, so that the client library is the first thing the connection needs (a local
// database's engine files are checked before it, app/EngineFiles).
TEST_F(UpdaterConsole, TextFileNamedLikeTheClientIsRefused) {
    m_suite.WriteConfig(
        "[Common]\r\nPathBaseGDB=lib.gdb\r\nTypeServer=1\r\nNameServer=localhost\r\n");
    WriteFile(m_suite.File("fbclient.dll"), "not a library\r\n");
    const ProgramRun run = RunConsole();
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(SplitLines(run.output),
              (std::vector<std::string>{"Перевірка запущенної програми...OK",
                                        "Підключення до бази даних", "lib.gdb"}));
    const std::string prefix =
        "Cannot load the Firebird client library " + m_suite.File("fbclient.dll") + ": ";
    const std::vector<std::string> errors = SplitLines(run.errors);
    ASSERT_EQ(errors.size(), 2u) << run.errors;
    EXPECT_EQ(errors, RefusedWith(errors[0]));
    EXPECT_EQ(run.errors.rfind(prefix, 0), 0u) << run.errors;
    // The system's own text, with the file named where the text has its insert.
    EXPECT_GT(run.errors.size(), prefix.size() + 2) << run.errors;
    EXPECT_EQ(run.errors.find("%1"), std::string::npos) << run.errors;
}

TEST_F(UpdaterConsole, LibraryWithoutTheMasterInterfaceIsRefused) {
    m_suite.WriteConfig(
        "[Common]\r\nPathBaseGDB=lib.gdb\r\nTypeServer=1\r\nNameServer=localhost\r\n");
    ASSERT_TRUE(CopyFileW(ToUtf16(PathJoin(ProgramDirectory(), "not_a_client.dll")).c_str(),
                          ToUtf16(m_suite.File("fbclient.dll")).c_str(), FALSE));
    const ProgramRun run = RunConsole();
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(SplitLines(run.output).back(), "lib.gdb");
    const std::string message =
        "The library " + m_suite.File("fbclient.dll") +
        " is no Firebird client: it lacks fb_get_master_interface: " + SystemMessage(127) + ".";
    EXPECT_EQ(SplitLines(run.errors),
              RefusedWith("The library " + m_suite.File("fbclient.dll") +
                          " is no Firebird client: it lacks fb_get_master_interface: " +
                          SystemMessage(127) + "."));
}

TEST_F(UpdaterConsole, RunningSuiteStopsBeforeTheConnection) {
    // A program of the suite's image name, found by its name in the process list.
    ASSERT_TRUE(CopyFileW(ToUtf16(BuiltProgram("test_helper")).c_str(),
                          ToUtf16(m_suite.File("TESSARA.EXE")).c_str(), FALSE));
    CStartedProgram suite(m_suite.File("TESSARA.EXE"), "sleep 60000");
    const ProgramRun run = RunConsole();
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(SplitLines(run.output),
              (std::vector<std::string>{"Перевірка запущенної програми...", "Программа запущена",
                                        "Оновлення не можливо!!!"}));
    EXPECT_EQ(SplitLines(run.errors), RefusedWith("ПК Тессара запущена. Будь ласка, закрийте "
                                                  "програму та перезапустіть оновлення!"));
}

TEST_F(UpdaterConsole, SuiteDirectoryWithoutTheRightToWriteIsRefusedBeforeAnything) {
    // As a suite under Program Files is for a user who is no administrator.
    m_suite.WriteConfig("[Common]\r\nPathBaseGDB=lib.gdb\r\n");
    const std::vector<std::string> before = DirectoryEntries(m_suite.Path());
    const CImmutableDirectory frozen(m_suite.Path());
    if (!frozen.IsSet()) {
        GTEST_SKIP() << "cannot take the right to write from root here";
    }
    const ProgramRun run = RunConsole();
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(SplitLines(run.errors),
              RefusedWith("Немає права на запис до каталогу комплексу " + m_suite.Path() + ": " +
                          SystemMessage(ERROR_ACCESS_DENIED) +
                          ". Оновлення нічого не змінило. Запустіть його від імені "
                          "адміністратора або користувача, який може змінювати цей каталог."));
    // No lock file and no run record.
    EXPECT_EQ(DirectoryEntries(m_suite.Path()), before);
}

TEST_F(UpdaterConsole, OptionsItDoesNotKnowAreRefused) {
    const ProgramRun run = RunProgram(m_suite.Updater(), "--консоль", m_suite.Path());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.errors.rfind("tessara-updater: unknown option '--консоль'\n\nUsage:", 0), 0u)
        << run.errors;
    EXPECT_TRUE(
        run.errors.ends_with("\nКод завершення 2: tessara-updater: unknown option '--консоль'\n"))
        << run.errors;
    // Nothing was checked, so nothing was recorded.
    EXPECT_FALSE(PathExists(m_suite.File("tessara-updater.log")));
}

TEST(Config, WindowsPathsJoinWithOneBackslashAndKeepTheDriveRoot) {
    CTempDir dir;
    EXPECT_EQ(ReadConfig(dir.File("lib.ini"), dir.Path()).databasePath, dir.File("lib.gdb"));
    // The updater in a drive root: "C:\lib.gdb", with no doubled separator.
    EXPECT_EQ(ReadConfig("C:\\nonexistent-dir-for-test\\lib.ini", "C:\\").databasePath,
              "C:\\lib.gdb");

    WriteFile(dir.File("lib.ini"),
              "[COMMON]\r\nPathBaseGDB = \"D:\\Дані\\LIB.GDB\" \r\nNameServer=srv\r\n"
              "TypeServer=$1\r\n");
    const CConfig config = ReadConfig(dir.File("lib.ini"), dir.Path());
    EXPECT_EQ(config.databasePath, "D:\\Дані\\LIB.GDB");
    EXPECT_EQ(config.serverName, "srv");
    EXPECT_EQ(config.serverType, 1);
}
