// The steps of the update run that need no database, on Windows: the archiver started with the
// updater's command line in the work directory (the test-only rar.exe stands in for RARLAB's),
// then the program files and templates copied into the suite's directory.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/UpdateDriver.h"
#include "install/ProgramFiles.h"
#include "platform/ChildProcess.h"
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
