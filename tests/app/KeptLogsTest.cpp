// The logs of failed items kept beside the run record: copied whole or cut with a note, the
// oldest runs' copies removed first, nothing done through a link.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/KeptLogs.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

namespace {

class KeptLogs : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(MakeDirectory(m_dir.File("suite")));
        ASSERT_TRUE(MakeDirectory(m_dir.File("work")));
    }
    std::string Suite() const { return m_dir.File("suite"); }
    std::string Folder() const { return Suite() + "/" + kKeptLogsFolder; }
    std::string WorkLog(const std::string& name, const std::string& bytes) const {
        const std::string path = m_dir.File("work/" + name);
        WriteFile(path, bytes);
        return path;
    }

    CTempDir m_dir;
};

}  // namespace

TEST_F(KeptLogs, CopiesAreNamedByRunAndPackageAndLongOnesAreCut) {
    CKeptLogs logs(Suite(), RunStamp("2026-05-03 14:22:05"));
    const std::string log = WorkLog("up.2026.05.03.lsql.log", "statement\r\nerror\r\n");
    const std::string kept = logs.Keep(log, 238);
    EXPECT_EQ(kept, Folder() + "/2026-05-03_142205_238_up.2026.05.03.lsql.log");
    EXPECT_EQ(ReadFile(kept), "statement\r\nerror\r\n");

    // The same name again in the same second gets a number rather than replacing the first.
    EXPECT_EQ(logs.Keep(log, 238), kept + ".2");

    const std::string large = WorkLog("big.lsql.log", std::string(5000, 'x'));
    const std::string cut = logs.Keep(large, 239, 1000);
    EXPECT_EQ(ReadFile(cut), std::string(1000, 'x') +
                                 "\r\n[... cut at 1000 of 5000 bytes; the "
                                 "whole log: " +
                                 large + "]\r\n");
}

TEST_F(KeptLogs, OldestCopiesOfEarlierRunsGoFirst) {
    const std::string log = WorkLog("a.lsql.log", std::string(400, 'a'));
    for (const char* stamp :
         {"2026-01-01 10:00:00", "2026-01-02 10:00:00", "2026-01-03 10:00:00"}) {
        CKeptLogs(Suite(), RunStamp(stamp)).Keep(log, 1);
    }
    // The next run finds 1,200 bytes where 900 may stay: the oldest copy goes.
    CKeptLogs(Suite(), RunStamp("2026-01-04 10:00:00")).Keep(log, 1, kKeptLogLimit, 900);
    EXPECT_EQ(DirectoryEntries(Folder()),
              (std::vector<std::string>{"2026-01-02_100000_1_a.lsql.log",
                                        "2026-01-03_100000_1_a.lsql.log",
                                        "2026-01-04_100000_1_a.lsql.log"}));
    // Anything that is not a regular file is left alone and not counted.
    ASSERT_TRUE(MakeDirectory(Folder() + "/0000-subdirectory"));
    CKeptLogs(Suite(), RunStamp("2026-01-05 10:00:00")).Keep(log, 1, kKeptLogLimit, 500);
    EXPECT_EQ(DirectoryEntries(Folder()),
              (std::vector<std::string>{"0000-subdirectory", "2026-01-04_100000_1_a.lsql.log",
                                        "2026-01-05_100000_1_a.lsql.log"}));
}

TEST_F(KeptLogs, LinkAtTheFolderOrAtACopysNameIsNeverFollowed) {
    const std::string log = WorkLog("a.lsql.log", "failed statement");
    const std::string elsewhere = m_dir.File("elsewhere");
    ASSERT_TRUE(MakeDirectory(elsewhere));
    ASSERT_EQ(symlink(elsewhere.c_str(), Folder().c_str()), 0);
    EXPECT_THROW(CKeptLogs(Suite(), "2026-01-01_100000").Keep(log, 1), CSystemError);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));

    // A link planted at the name the copy will have.
    ASSERT_EQ(unlink(Folder().c_str()), 0);
    ASSERT_TRUE(MakeDirectory(Folder()));
    const std::string victim = m_dir.File("victim");
    WriteFile(victim, "private");
    ASSERT_EQ(symlink(victim.c_str(), (Folder() + "/2026-01-01_100000_1_a.lsql.log").c_str()), 0);
    const std::string kept = CKeptLogs(Suite(), "2026-01-01_100000").Keep(log, 1);
    EXPECT_EQ(kept, Folder() + "/2026-01-01_100000_1_a.lsql.log.2");
    EXPECT_EQ(ReadFile(kept), "failed statement");
    EXPECT_EQ(ReadFile(victim), "private");
}

TEST_F(KeptLogs, AUsersFilesInTheFolderAreNeitherCountedNorRemoved) {
    const std::string log = WorkLog("a.lsql.log", std::string(400, 'a'));
    CKeptLogs(Suite(), RunStamp("2026-01-01 10:00:00")).Keep(log, 1);
    CKeptLogs(Suite(), RunStamp("2026-01-02 10:00:00")).Keep(log, 1);
    // Files of the user's, some of them named much like copies, larger than the bound on their
    // own: counted, they would push out every copy, and would go themselves.
    const std::vector<std::string> users = {"my-notes.bin",
                                            "2026-01-01_100000_notes.txt",
                                            "2026-01-01_100000_1_a.lsql",
                                            "2026-01-01_1000_1_a.log",
                                            "2026-01-01_100000_x_a.log",
                                            "2026-01-01_100000_1_a.log.10",
                                            "2026-01-01_100000_1_.log"};
    for (const std::string& name : users) {
        WriteFile(Folder() + "/" + name, std::string(2000, 'u'));
    }
    // 800 bytes of copies where 500 may stay: the oldest copy goes, and nothing of the user's.
    CKeptLogs(Suite(), RunStamp("2026-01-03 10:00:00")).Keep(log, 1, kKeptLogLimit, 500);
    std::vector<std::string> expected = users;
    expected.push_back("2026-01-02_100000_1_a.lsql.log");
    expected.push_back("2026-01-03_100000_1_a.lsql.log");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(DirectoryEntries(Folder()), expected);
    for (const std::string& name : users) {
        EXPECT_EQ(ReadFile(Folder() + "/" + name), std::string(2000, 'u')) << name;
    }
}

TEST(KeptLogName, OnlyTheUpdatersOwnNamesAreItsCopies) {
    for (const char* name : {"2026-05-03_142205_238_up.2026.05.03.lsql.log",
                             "2026-05-03_142205_238_up.2026.05.03.lsql.log.2",
                             "2026-05-03_142205_238_up.2026.05.03.lsql.238.log"}) {
        EXPECT_TRUE(IsKeptLogName(name)) << name;
    }
    for (const char* name : {"my-notes.bin", "2026-05-03_142205_238_notes.txt",
                             "2026-05-03_142205__a.log", "2026-05-03 142205_238_a.log",
                             "2026-05-03_142205_238_a.log.1", "2026-05-03_142205_238"}) {
        EXPECT_FALSE(IsKeptLogName(name)) << name;
    }
}
