// What a directory in a place that others write to must refuse on POSIX: a link at its name, and
// links at its files' names, which are never followed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Directory.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

TEST(PosixDirectory, ALinkAtItsNameIsRefused) {
    CTempDir dir;
    ASSERT_TRUE(MakeDirectory(dir.File("elsewhere")));
    ASSERT_EQ(symlink(dir.File("elsewhere").c_str(), dir.File("link").c_str()), 0);
    try {
        CDirectory link(dir.File("link"));
        FAIL() << "a link was opened as the directory";
    } catch (const CSystemError& error) {
        EXPECT_EQ(error.Code(), ELOOP);
    }
}

TEST(PosixDirectory, LinksAtFileNamesAreNeverFollowed) {
    CTempDir dir;
    CDirectory logs(dir.File("logs"));
    logs.CreateNew("a.log").Close();
    const std::string victim = dir.File("victim");
    WriteFile(victim, "private");
    ASSERT_EQ(symlink(victim.c_str(), dir.File("logs/c.log").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("absent").c_str(), dir.File("logs/d.log").c_str()), 0);
    EXPECT_THROW(logs.CreateNew("c.log"), CSystemError);
    EXPECT_THROW(logs.CreateNew("d.log"), CSystemError);
    EXPECT_FALSE(FileExists(dir.File("absent")));

    const std::vector<DirectoryEntry> files = logs.Files();
    ASSERT_EQ(files.size(), 1u);  // links left out
    EXPECT_EQ(files[0].name, "a.log");

    EXPECT_TRUE(logs.Remove("c.log"));  // the link goes, not its target
    EXPECT_EQ(ReadFile(victim), "private");
    EXPECT_EQ(DirectoryEntries(dir.File("logs")), (std::vector<std::string>{"a.log", "d.log"}));
}
