// A directory in a place that others write to: made when missing, never entered through a
// link, its files made, listed and removed by name without following links.

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/Directory.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

TEST(Directory, MadeWhenMissingAndRefusedWhenALinkOrAFileStandsThere) {
    CTempDir dir;
    const CDirectory made(dir.File("logs"));
    EXPECT_EQ(made.Path(), dir.File("logs"));
    EXPECT_EQ(InspectEntry(dir.File("logs")), EntryKind::Directory);
    const CDirectory again(dir.File("logs"));  // an existing one is opened as it is
    EXPECT_TRUE(again.Files().empty());

    ASSERT_TRUE(MakeDirectory(dir.File("elsewhere")));
    ASSERT_EQ(symlink(dir.File("elsewhere").c_str(), dir.File("link").c_str()), 0);
    try {
        CDirectory link(dir.File("link"));
        FAIL() << "a link was opened as the directory";
    } catch (const CSystemError& error) {
        EXPECT_EQ(error.Code(), ELOOP);
    }
    WriteFile(dir.File("file"), "x");
    EXPECT_THROW(CDirectory(dir.File("file")), CSystemError);
    EXPECT_THROW(CDirectory(dir.File("missing/parent")), CSystemError);
}

TEST(Directory, FilesAreMadeListedAndRemovedByNameWithoutFollowingLinks) {
    CTempDir dir;
    CDirectory logs(dir.File("logs"));
    CFile b = logs.CreateNew("b.log");
    b.WriteAll("bbb", 3);
    b.Close();
    logs.CreateNew("a.log").Close();
    EXPECT_THROW(logs.CreateNew("a.log"), CSystemError);  // taken

    const std::string victim = dir.File("victim");
    WriteFile(victim, "private");
    ASSERT_EQ(symlink(victim.c_str(), dir.File("logs/c.log").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("absent").c_str(), dir.File("logs/d.log").c_str()), 0);
    EXPECT_THROW(logs.CreateNew("c.log"), CSystemError);
    EXPECT_THROW(logs.CreateNew("d.log"), CSystemError);
    EXPECT_FALSE(FileExists(dir.File("absent")));
    ASSERT_TRUE(MakeDirectory(dir.File("logs/sub")));

    const std::vector<DirectoryEntry> files = logs.Files();
    ASSERT_EQ(files.size(), 2u);  // links and the subdirectory left out
    EXPECT_EQ(files[0].name, "a.log");
    EXPECT_EQ(files[0].size, 0);
    EXPECT_EQ(files[1].name, "b.log");
    EXPECT_EQ(files[1].size, 3);

    EXPECT_TRUE(logs.Remove("c.log"));  // the link goes, not its target
    EXPECT_EQ(ReadFile(victim), "private");
    EXPECT_TRUE(logs.Remove("a.log"));
    EXPECT_FALSE(logs.Remove("a.log"));
    EXPECT_EQ(DirectoryEntries(dir.File("logs")),
              (std::vector<std::string>{"b.log", "d.log", "sub"}));
}
