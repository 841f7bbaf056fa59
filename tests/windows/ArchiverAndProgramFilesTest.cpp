// The steps of the update run that need no database, on Windows: the archiver started with the
// updater's command line in the work directory (the test-only rar.exe stands in for RARLAB's),
// then the program files and templates copied into the suite's directory, the running updater
// and held files among them; and the run record that a link stands in the place of.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/RunRecord.h"
#include "app/UpdateDriver.h"
#include "install/ProgramFiles.h"
#include "platform/ChildProcess.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "tests/windows/WindowsTestSupport.h"
#include "tools/pack/RarWriter.h"

namespace {

class CRecordingOwner : public IOwner {
  public:
    explicit CRecordingOwner(std::string programDirectory)
        : m_programDirectory(std::move(programDirectory)) {}
    void AppendLine(const std::string& text) override { lines.push_back(text); }
    void MarkLastLine(const std::string& suffix) override { lines.back() += suffix; }
    void PumpMessages() override {}
    std::string CurrentLogPath() const override { return {}; }
    void SetCurrentLogPath(const std::string&) override {}
    std::string ProgramDirectory() const override { return m_programDirectory; }
    void ReportFailedCopy(const std::string& destination, const std::string&) override {
        failedCopies.push_back(destination);
    }

    std::vector<std::string> lines;
    std::vector<std::string> failedCopies;

  private:
    std::string m_programDirectory;
};

struct Unpacked {
    int exitCode = -1;
    std::string errors;
};

// What the update run does with a package file: the archiver beside the suite, started in the
// work directory with the run's own command line.
Unpacked Unpack(const std::string& archiver, const std::string& packageFile,
                const std::string& workDir) {
    CChildProcess child;
    child.Start(archiver, ArchiverCommandLine(archiver, packageFile), workDir,
                CChildProcess::Output::Capture);
    child.Wait();
    return {child.ExitCode(), child.CapturedErrors()};
}

class ArchiverAndProgramFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        // A suite directory with a blank in its name, as under "Program Files".
        m_suite = m_dir.File("Тессара suite");
        m_work = m_dir.File("lib.kvr");
        m_package = m_dir.File("пакет");
        for (const std::string& directory : {m_suite, m_work, m_package, m_package + "\\Reports"}) {
            ASSERT_TRUE(MakeDirectory(directory)) << directory;
        }
        WriteFile(m_package + "\\tessara.exe", "program of 238");
        WriteFile(m_package + "\\Reports\\list.fr3", "template of 238");
        WriteFile(m_package + "\\up.99.238.lsql", "update versions set data = 238;\r\n");
        m_archiver = m_suite + "\\rar.exe";
        ASSERT_TRUE(
            CopyFileW(ToUtf16(BuiltProgram("rar")).c_str(), ToUtf16(m_archiver).c_str(), FALSE));
        m_packageFile = m_work + "\\238.rar";
        WriteRarStoreFromDirectory(m_package, m_packageFile);
    }

    CTempDir m_dir;
    std::string m_suite;
    std::string m_work;
    std::string m_package;
    std::string m_archiver;
    std::string m_packageFile;
};

}  // namespace

TEST_F(ArchiverAndProgramFiles, UnpackedPackageReplacesTheSuitesFiles) {
    WriteFile(m_suite + "\\tessara.exe", "program of 237");
    ASSERT_TRUE(MakeDirectory(m_suite + "\\Reports"));

    const Unpacked unpacked = Unpack(m_archiver, m_packageFile, m_work);
    ASSERT_EQ(unpacked.exitCode, 0) << unpacked.errors;
    EXPECT_EQ(ReadFile(m_work + "\\up.99.238.lsql"), "update versions set data = 238;\r\n");

    CRecordingOwner owner(m_suite);
    EXPECT_EQ(InstallProgramFiles(owner, m_work, {}), 2);
    EXPECT_EQ(owner.lines, (std::vector<std::string>{"list.fr3...[OK]", "tessara.exe...[OK]"}));
    EXPECT_TRUE(owner.failedCopies.empty());
    EXPECT_EQ(ReadFile(m_suite + "\\tessara.exe"), "program of 238");
    EXPECT_EQ(ReadFile(m_suite + "\\Reports\\list.fr3"), "template of 238");
    // Scripts stay in the work directory: they are the database's.
    EXPECT_FALSE(PathExists(m_suite + "\\up.99.238.lsql"));
}

TEST_F(ArchiverAndProgramFiles, MissingReportsDirectoryIsMadeButAFileInItsPlaceFailsTheTemplate) {
    ASSERT_EQ(Unpack(m_archiver, m_packageFile, m_work).exitCode, 0);
    WriteFile(m_suite + "\\Reports", "a file where the directory should be");
    CRecordingOwner blocked(m_suite);
    EXPECT_EQ(InstallProgramFiles(blocked, m_work, {}), 2);
    ASSERT_EQ(blocked.lines.size(), 3u);
    EXPECT_EQ(blocked.lines[0], "list.fr3...");
    EXPECT_EQ(blocked.lines[1].rfind("error (", 0), 0u) << blocked.lines[1];
    EXPECT_EQ(blocked.lines[2], "tessara.exe...[OK]");
    EXPECT_EQ(blocked.failedCopies, std::vector<std::string>{m_suite + "\\Reports\\list.fr3"});
    EXPECT_EQ(ReadFile(m_suite + "\\Reports"), "a file where the directory should be");

    ASSERT_TRUE(DeleteFileW(ToUtf16(m_suite + "\\Reports").c_str()));
    CRecordingOwner owner(m_suite);
    EXPECT_EQ(InstallProgramFiles(owner, m_work, {}), 2);
    EXPECT_EQ(owner.lines, (std::vector<std::string>{"list.fr3...[OK]", "tessara.exe...[OK]"}));
    EXPECT_TRUE(owner.failedCopies.empty());
    EXPECT_EQ(ReadFile(m_suite + "\\Reports\\list.fr3"), "template of 238");
}

TEST_F(ArchiverAndProgramFiles, TruncatedPackageFailsWithTheArchiversMessage) {
    const std::string whole = ReadFile(m_packageFile);
    WriteFile(m_packageFile, whole.substr(0, whole.size() - 40));
    const Unpacked unpacked = Unpack(m_archiver, m_packageFile, m_work);
    EXPECT_NE(unpacked.exitCode, 0);
    EXPECT_FALSE(unpacked.errors.empty());
}

// A package that carries the updater replaces the running updater: its file is moved aside, the
// new one put in place, and the next start removes the old one.
TEST_F(ArchiverAndProgramFiles, APackageReplacesTheRunningUpdater) {
    const std::string updater = m_suite + "\\tessara-updater.exe";
    ASSERT_TRUE(CopyFileReplace(BuiltProgram("test_helper"), updater).Ok());
    const std::string release = m_dir.File("release");
    CStartedProgram running(updater, "until \"" + release + "\"");
    WriteFile(m_package + "\\tessara-updater.exe", "updater of 238");
    WriteRarStoreFromDirectory(m_package, m_packageFile);
    ASSERT_EQ(Unpack(m_archiver, m_packageFile, m_work).exitCode, 0);

    CRecordingOwner owner(m_suite);
    EXPECT_EQ(InstallProgramFiles(owner, m_work, {}, {m_archiver, false}), 3);
    ASSERT_EQ(owner.lines.size(), 4u);
    EXPECT_EQ(owner.lines[1], "tessara-updater.exe...[OK]");
    const std::string prefix =
        "tessara-updater.exe використовується: його перейменовано на "
        "tessara-updater.exe.old-";
    EXPECT_EQ(owner.lines[2].rfind(prefix, 0), 0u) << owner.lines[2];
    EXPECT_EQ(owner.lines[3], "tessara.exe...[OK]");
    EXPECT_NE(owner.lines[2].find(", а новий файл встановлено; старий буде видалено під час "
                                  "наступного запуску оновлення"),
              std::string::npos);
    EXPECT_TRUE(owner.failedCopies.empty());
    EXPECT_EQ(ReadFile(updater), "updater of 238");
    EXPECT_EQ(running.WaitForExit(0), -1);  // runs on from the file moved aside

    WriteFile(release, "");
    EXPECT_EQ(running.WaitForExit(10000), 0);
    CRecordingOwner next(m_suite);
    CleanUpReplacedFiles(next, m_archiver);
    ASSERT_EQ(next.lines.size(), 1u);
    EXPECT_EQ(next.lines[0].rfind(
                  "Видалено файл, замінений попереднім оновленням: " + updater + ".old-", 0),
              0u)
        << next.lines[0];
    EXPECT_EQ(
        DirectoryEntries(m_suite),
        (std::vector<std::string>{"Reports", "rar.exe", "tessara-updater.exe", "tessara.exe"}));
}

// A program file that another program holds open past the wait fails like any failed copy, and
// its line says how long it waited and who holds it, when Windows can tell.
TEST_F(ArchiverAndProgramFiles, AFileHeldPastTheWaitFailsNamingItsHolder) {
    ASSERT_EQ(Unpack(m_archiver, m_packageFile, m_work).exitCode, 0);
    const std::string program = m_suite + "\\tessara.exe";
    WriteFile(program, "program of 237");
    const std::string release = m_dir.File("release");
    CStartedProgram holder(BuiltProgram("test_helper"),
                           "hold \"" + program + "\" \"" + release + "\"");
    ASSERT_EQ(WaitUntilHeld(program, holder), "");

    CRecordingOwner owner(m_suite);
    const double started = MonotonicSeconds();
    EXPECT_EQ(InstallProgramFiles(owner, m_work, {}), 2);
    const double waited = MonotonicSeconds() - started;
    EXPECT_GE(waited, kHeldFileWaitSeconds);
    EXPECT_LT(waited, kHeldFileWaitSeconds + 10);
    WriteFile(release, "");
    EXPECT_EQ(holder.WaitForExit(10000), 0);

    ASSERT_EQ(owner.lines.size(), 3u);
    EXPECT_EQ(owner.lines[0], "list.fr3...[OK]");
    EXPECT_EQ(owner.lines[1], "tessara.exe...");
    const std::string error =
        "error (32) " + SystemMessage(ERROR_SHARING_VIOLATION) + "; файл зайнятий понад 10 с";
    // Wine's Restart Manager lists no program for any file; Windows' names a local holder.
    const std::string unnamed = error + ", а програму, яка його тримає, система не назвала";
    const std::string named = error + ": його тримає test_helper.exe (процес ";
    EXPECT_TRUE(RunningUnderWine() ? owner.lines[2] == unnamed
                                   : owner.lines[2].rfind(named, 0) == 0)
        << owner.lines[2];
    EXPECT_EQ(owner.failedCopies, std::vector<std::string>{program});
    EXPECT_EQ(ReadFile(program), "program of 237");
    EXPECT_EQ(DirectoryEntries(m_suite),
              (std::vector<std::string>{"Reports", "rar.exe", "tessara.exe"}));
}

// The run record is refused like the other files of the suite's directory when a link stands at
// its name, whether it points to a file or nowhere; nothing is written through it.
TEST_F(ArchiverAndProgramFiles, TheRunRecordIsNeverWrittenThroughALink) {
    const std::string outside = m_dir.File("outside.log");
    const std::string nowhere = m_dir.File("nowhere.log");
    WriteFile(outside, "someone else's\n");
    WriteFile(nowhere, "");
    for (const std::string& target : {outside, nowhere}) {
        // A directory without a blank: Wine hands "ln" its arguments split at blanks.
        const std::string suite = target + ".suite";
        ASSERT_TRUE(MakeDirectory(suite));
        const std::string record = suite + "\\" + kRunRecordName;
        if (!MakeUnixFileLink(record, target)) {
            GTEST_SKIP() << "not Wine: Unix links are made only there (" << target << ")";
        }
        const bool pointsNowhere = target == nowhere;
        if (pointsNowhere) {
            ASSERT_TRUE(DeleteFileW(ToUtf16(nowhere).c_str()));
        }
        CRunRecord run;
        run.Begin(record, "console", suite + "\\tessara-updater.exe");
        // Wine shows a link pointing nowhere as nothing, so its reason is the system's text.
        const std::string refused = "Журнал запусків " + record + " не ведеться: ";
        EXPECT_EQ(run.Problem(), refused + (pointsNowhere ? SystemMessage(ERROR_CANT_ACCESS_FILE)
                                                          : "на його місці посилання"));
        run.AppendLine("Перевірка запущенної програми...");
        run.Note("[outcome] succeeded, exit status 0");
    }
    EXPECT_EQ(ReadFile(outside), "someone else's\n");
    EXPECT_FALSE(PathExists(nowhere));
}
