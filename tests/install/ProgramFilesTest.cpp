// The program files installer against real directories: order, journal lines, failures.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include "install/ProgramFiles.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "tests/install/RecordingOwner.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace std::chrono_literals;

std::string ErrorLine(int code) {
    return "error (" + std::to_string(code) + ") " + SystemMessage(code);
}

// Once a reader has opened the FIFO at `path` (waiting for one at most 10 s), writes `megabytes`
// into it, one megabyte every 25 ms.
void FeedSlowly(const std::string& path, int megabytes) {
    int descriptor = -1;
    for (int tries = 0; descriptor < 0 && tries < 1000; ++tries) {
        descriptor = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0) {
            std::this_thread::sleep_for(10ms);
        }
    }
    if (descriptor < 0) {
        return;
    }
    fcntl(descriptor, F_SETFL, 0);  // blocking writes from here on
    CFile fifo = CFile::Adopt(descriptor, path);
    const std::string block(1 << 20, 'P');
    try {
        for (int i = 0; i < megabytes; ++i) {
            fifo.WriteAll(block.data(), block.size());
            std::this_thread::sleep_for(25ms);
        }
    } catch (const CSystemError&) {
        // The reader gave up; the test sees that in what was copied.
    }
}

class ProgramFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(m_work + "/Reports");
        std::filesystem::create_directories(m_program);
    }

    int Install() {
        return InstallProgramFiles(m_owner, m_work, {&m_bar, nullptr, &m_fileLabel, &m_timeLabel});
    }

    CTempDir m_dir;
    std::string m_work = m_dir.File("lib.kvr");
    std::string m_program = m_dir.File("program");
    CRecordingOwner m_owner{m_program};
    CRecordingBar m_bar;
    CRecordingLabel m_fileLabel;
    CRecordingLabel m_timeLabel;
};

TEST_F(ProgramFilesTest, CopiesExecutablesAndTemplatesInCaseInsensitivePathOrder) {
    std::filesystem::create_directories(m_program + "/Reports");
    WriteFile(m_work + "/tessara.exe", "new program");
    WriteFile(m_work + "/Zeta.exe", "zeta");
    WriteFile(m_work + "/Reports/list.fr3", "template");
    WriteFile(m_work + "/readme.txt", "not copied");
    WriteFile(m_work + "/Reports/nested.exe", "not copied either");
    WriteFile(m_program + "/tessara.exe", "old program");

    EXPECT_EQ(Install(), 3);

    // Folded to lower case "reports/" < "tessara" < "zeta"; byte order would put Zeta second.
    EXPECT_EQ(m_owner.journal, (std::vector<std::string>{"list.fr3...[OK]", "tessara.exe...[OK]",
                                                         "Zeta.exe...[OK]"}));
    EXPECT_EQ(m_fileLabel.captions,
              (std::vector<std::string>{"list.fr3 (1/3)", "tessara.exe (2/3)", "Zeta.exe (3/3)"}));
    EXPECT_EQ(m_bar.maximums, std::vector<int>{3});
    EXPECT_EQ(m_bar.Position(), 3);
    EXPECT_EQ(m_owner.pumps, 3);
    EXPECT_EQ(m_timeLabel.visibilityChanges, (std::vector<bool>{true, false}));
    EXPECT_TRUE(m_timeLabel.captions.empty());

    EXPECT_TRUE(m_owner.failedCopies.empty());
    EXPECT_EQ(ReadFile(m_program + "/tessara.exe"), "new program");
    EXPECT_EQ(ReadFile(m_program + "/Zeta.exe"), "zeta");
    EXPECT_EQ(ReadFile(m_program + "/Reports/list.fr3"), "template");
    EXPECT_EQ(DirectoryEntries(m_program),
              (std::vector<std::string>{"Reports", "Zeta.exe", "tessara.exe"}));
    EXPECT_EQ(DirectoryEntries(m_program + "/Reports"), std::vector<std::string>{"list.fr3"});
    // The sources stay for a later package of the same run.
    EXPECT_EQ(ReadFile(m_work + "/tessara.exe"), "new program");
}

TEST_F(ProgramFilesTest, SlowCopyPumpsTheWindowBetweenItsBlocks) {
    // A source that yields a megabyte every 25 ms, as a slow disk or share would: the copy takes
    // over half a second, which the window must not spend frozen. A FIFO stands in for it.
    const std::string source = m_work + "/tessara.exe";
    ASSERT_EQ(mkfifo(source.c_str(), 0755), 0);
    constexpr int kMegabytes = 24;
    const auto oldHandler = signal(SIGPIPE, SIG_IGN);  // a copy that gave up ends the feed only
    std::thread writer([&] { FeedSlowly(source, kMegabytes); });
    const double start = MonotonicSeconds();
    const int found = Install();
    const double end = MonotonicSeconds();
    writer.join();
    signal(SIGPIPE, oldHandler);

    EXPECT_EQ(found, 1);
    EXPECT_EQ(m_owner.journal, std::vector<std::string>{"tessara.exe...[OK]"});
    EXPECT_EQ(FileSize(m_program + "/tessara.exe"), int64_t{kMegabytes} << 20);
    // Some twelve pumps while the copy ran, and one after the file.
    EXPECT_GE(m_owner.pumps, 5);
    EXPECT_LT(m_owner.LongestWorkWithoutPump(start, end), 0.3);
}

TEST_F(ProgramFilesTest, MissingReportsDestinationIsMadeOnlyForTemplates) {
    WriteFile(m_work + "/tessara.exe", "program");
    EXPECT_EQ(Install(), 1);
    EXPECT_EQ(DirectoryEntries(m_program), std::vector<std::string>{"tessara.exe"});

    WriteFile(m_work + "/Reports/a.fr3", "a");
    WriteFile(m_work + "/Reports/b.fr3", "b");
    m_owner.journal.clear();
    EXPECT_EQ(Install(), 3);
    EXPECT_EQ(m_owner.journal,
              (std::vector<std::string>{"a.fr3...[OK]", "b.fr3...[OK]", "tessara.exe...[OK]"}));
    EXPECT_TRUE(m_owner.failedCopies.empty());
    EXPECT_EQ(ReadFile(m_program + "/Reports/b.fr3"), "b");
}

TEST_F(ProgramFilesTest, ReportsThatIsALinkOrAFileFailsEveryTemplate) {
    WriteFile(m_work + "/Reports/a.fr3", "a");
    WriteFile(m_work + "/Reports/b.fr3", "b");
    WriteFile(m_work + "/tessara.exe", "program");
    const std::string elsewhere = m_program + "/../elsewhere";
    std::filesystem::create_directories(elsewhere);
    std::filesystem::create_directory_symlink(elsewhere, m_program + "/Reports");

    EXPECT_EQ(Install(), 3);

    const std::string loop = ErrorLine(ELOOP);
    EXPECT_EQ(m_owner.journal,
              (std::vector<std::string>{"a.fr3...", loop, "b.fr3...", loop, "tessara.exe...[OK]"}));
    EXPECT_EQ(m_bar.Position(), 3);  // failed copies step the bar as well
    // Each failure is a failed item of the run, named by where the file should have gone.
    EXPECT_EQ(m_owner.failedCopies,
              (std::vector<std::string>{m_program + "/Reports/a.fr3: " + loop,
                                        m_program + "/Reports/b.fr3: " + loop}));
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
}

TEST_F(ProgramFilesTest, DirectoryNamedLikeAnExecutableIsListedAndFails) {
    std::filesystem::create_directories(m_work + "/x.exe");

    EXPECT_EQ(Install(), 1);

    ASSERT_EQ(m_owner.journal.size(), 2u);
    EXPECT_EQ(m_owner.journal[0], "x.exe...");
    EXPECT_EQ(m_owner.journal[1], ErrorLine(EISDIR));
    EXPECT_TRUE(DirectoryEntries(m_program).empty());
    EXPECT_EQ(m_bar.Position(), 1);
}

TEST_F(ProgramFilesTest, FailedCopyKeepsTheOldDestinationAndLeavesNoTemporaryFile) {
    // A source whose reading fails after the copy has begun: /proc/self/mem opens but reading
    // its first page fails with EIO.
    ASSERT_EQ(symlink("/proc/self/mem", (m_work + "/broken.exe").c_str()), 0);
    WriteFile(m_program + "/broken.exe", "old broken");
    // A destination that cannot be replaced once the data is written: a directory in its place.
    WriteFile(m_work + "/tessara.exe", "new program");
    std::filesystem::create_directories(m_program + "/tessara.exe/inside");
    // A "Reports" that is a regular file: the temporary file cannot even be made.
    WriteFile(m_work + "/Reports/list.fr3", "template");
    WriteFile(m_program + "/Reports", "a file, not a directory");

    EXPECT_EQ(Install(), 3);

    ASSERT_EQ(m_owner.journal.size(), 6u);
    EXPECT_EQ(m_owner.journal[0], "broken.exe...");
    EXPECT_EQ(m_owner.journal[1], ErrorLine(EIO));
    EXPECT_EQ(m_owner.journal[2], "list.fr3...");
    EXPECT_EQ(m_owner.journal[3], "error (20) Not a directory");
    EXPECT_EQ(m_owner.journal[4], "tessara.exe...");
    EXPECT_EQ(m_owner.journal[5], ErrorLine(EISDIR));

    EXPECT_EQ(ReadFile(m_program + "/broken.exe"), "old broken");
    EXPECT_EQ(ReadFile(m_program + "/Reports"), "a file, not a directory");
    EXPECT_EQ(DirectoryEntries(m_program),
              (std::vector<std::string>{"Reports", "broken.exe", "tessara.exe"}));
    EXPECT_EQ(DirectoryEntries(m_program + "/tessara.exe"), std::vector<std::string>{"inside"});
}

TEST_F(ProgramFilesTest, ErrorTextLosesTrailingFullStopsAndBlanks) {
    // Every error line is the frame plus the system text with nothing trailing.
    WriteFile(m_work + "/Reports/a.fr3", "a");
    WriteFile(m_program + "/Reports", "a file where the directory should be");
    std::filesystem::create_directories(m_work + "/b.exe");
    Install();
    const std::regex frame(R"(error \((\d+)\) (.*[^ .\r\n]))");
    int errorLines = 0;
    for (const std::string& line : m_owner.journal) {
        if (line.rfind("error", 0) == 0) {
            ++errorLines;
            std::smatch match;
            ASSERT_TRUE(std::regex_match(line, match, frame)) << line;
            EXPECT_EQ(match[2].str(), SystemMessage(std::stoi(match[1].str())));
        }
    }
    EXPECT_EQ(errorLines, 2);
}

TEST_F(ProgramFilesTest, EmptyPackageWritesNoLineButShowsAndHidesTheTimeLabel) {
    WriteFile(m_work + "/18612.u", "document, not a program file");
    m_bar.SetMaximum(50);
    m_bar.SetPosition(50);

    EXPECT_EQ(Install(), 0);

    EXPECT_TRUE(m_owner.journal.empty());
    EXPECT_EQ(m_bar.Maximum(), 0);
    EXPECT_EQ(m_bar.Position(), 0);
    EXPECT_EQ(m_timeLabel.visibilityChanges, (std::vector<bool>{true, false}));
    EXPECT_FALSE(m_timeLabel.IsVisible());
}

// The archiver unpacks every package of the run: a package that carries one never replaces it
// while a later package needs it. Its own waits beside it until the run's last package.
TEST_F(ProgramFilesTest, AnArchiverThatLaterPackagesNeedIsReplacedWithTheLastPackage) {
    const std::string archiver = m_program + "/rar.exe";
    WriteFile(archiver, "archiver of 237");
    WriteFile(m_work + "/rar.exe", "archiver of 238");
    const std::string waiting = PendingArchiverPath(archiver);

    EXPECT_EQ(InstallProgramFiles(m_owner, m_work, {&m_bar}, {archiver, true}), 1);
    EXPECT_EQ(m_owner.journal,
              (std::vector<std::string>{"rar.exe...[OK]",
                                        "rar.exe буде замінено після останнього пакета: архіватор "
                                        "потрібен для наступних пакетів"}));
    EXPECT_EQ(ReadFile(archiver), "archiver of 237");
    EXPECT_EQ(ReadFile(waiting), "archiver of 238");

    // The last package finds the same work directory (packages are unpacked into one).
    m_owner.journal.clear();
    EXPECT_EQ(InstallProgramFiles(m_owner, m_work, {&m_bar}, {archiver, false}), 1);
    EXPECT_EQ(m_owner.journal, std::vector<std::string>{"rar.exe...[OK]"});
    EXPECT_EQ(ReadFile(archiver), "archiver of 238");
    EXPECT_EQ(DirectoryEntries(m_program), std::vector<std::string>{"rar.exe"});
    EXPECT_TRUE(m_owner.failedCopies.empty());
}

TEST_F(ProgramFilesTest, WhatWaitsOrWasMovedAsideIsSettledAtTheNextStartOrByTheLastPackage) {
    const std::string archiver = m_program + "/rar.exe";
    WriteFile(archiver, "archiver of 237");
    WriteFile(PendingArchiverPath(archiver), "archiver of 238");
    WriteFile(m_program + "/tessara.exe", "program of 238");
    WriteFile(m_program + "/tessara.exe.old-20260503142205", "program of 237");
    // A process ended between moving a template aside and putting the new one in place.
    std::filesystem::create_directories(m_program + "/Reports");
    WriteFile(m_program + "/Reports/list.fr3.old-20260503142206", "template of 237");

    CleanUpReplacedFiles(m_owner, archiver);
    EXPECT_EQ(m_owner.journal,
              (std::vector<std::string>{
                  "Заміна архіватора rar.exe з пакета...[OK]",
                  "Видалено файл, замінений попереднім оновленням: " + m_program +
                      "/tessara.exe.old-20260503142205",
                  "Відновлено " + m_program +
                      "/Reports/list.fr3 з list.fr3.old-20260503142206: попереднє оновлення "
                      "перервано під час його заміни"}));
    EXPECT_EQ(ReadFile(archiver), "archiver of 238");
    EXPECT_EQ(ReadFile(m_program + "/Reports/list.fr3"), "template of 237");
    EXPECT_EQ(DirectoryEntries(m_program),
              (std::vector<std::string>{"Reports", "rar.exe", "tessara.exe"}));

    // A run continued at its last package, which carries no archiver: the one an earlier run's
    // package left waiting is put in place with it.
    m_owner.journal.clear();
    WriteFile(PendingArchiverPath(archiver), "archiver of 239");
    EXPECT_EQ(InstallProgramFiles(m_owner, m_work, {}, {archiver, false}), 0);
    EXPECT_EQ(m_owner.journal,
              std::vector<std::string>{"Заміна архіватора rar.exe з пакета...[OK]"});
    EXPECT_EQ(ReadFile(archiver), "archiver of 239");

    // Nothing to settle: nothing said.
    m_owner.journal.clear();
    CleanUpReplacedFiles(m_owner, archiver);
    EXPECT_TRUE(m_owner.journal.empty());
}

TEST_F(ProgramFilesTest, MissingWorkDirectoryAndNoControlsFindNothing) {
    CRecordingOwner owner(m_program);
    EXPECT_EQ(InstallProgramFiles(owner, m_dir.File("absent"), {}), 0);
    EXPECT_TRUE(owner.journal.empty());
}

}  // namespace
