// A directory in a place that others write to: made when missing, refused when a file stands
// there, its files made, listed and removed by name. (Links: DirectoryPosixTest.cpp on POSIX,
// reparse points are Windows' own.)

#include <gtest/gtest.h>

#include "platform/Directory.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

TEST(Directory, MadeWhenMissingAndRefusedWhenAFileStandsThere) {
    CTempDir dir;
    const CDirectory made(dir.File("logs"));
    EXPECT_EQ(made.Path(), dir.File("logs"));
    EXPECT_EQ(InspectEntry(dir.File("logs")), EntryKind::Directory);
    const CDirectory again(dir.File("logs"));  // an existing one is opened as it is
    EXPECT_TRUE(again.Files().empty());

    WriteFile(dir.File("file"), "x");
    EXPECT_THROW(CDirectory(dir.File("file")), CSystemError);
    EXPECT_THROW(CDirectory(PathJoin(dir.File("missing"), "parent")), CSystemError);
}

TEST(Directory, FilesAreMadeListedAndRemovedByName) {
    CTempDir dir;
    CDirectory logs(dir.File("журнали"));
    CFile b = logs.CreateNew("b.log");
    b.WriteAll("bbb", 3);
    b.Close();
    logs.CreateNew("a.log").Close();
    EXPECT_THROW(logs.CreateNew("a.log"), CSystemError);  // taken
    ASSERT_TRUE(MakeDirectory(PathJoin(logs.Path(), "sub")));

    const std::vector<DirectoryEntry> files = logs.Files();
    ASSERT_EQ(files.size(), 2u);  // the subdirectory left out
    EXPECT_EQ(files[0].name, "a.log");
    EXPECT_EQ(files[0].size, 0);
    EXPECT_EQ(files[1].name, "b.log");
    EXPECT_EQ(files[1].size, 3);

    EXPECT_TRUE(logs.Remove("a.log"));
    EXPECT_FALSE(logs.Remove("a.log"));
    EXPECT_EQ(DirectoryEntries(logs.Path()), (std::vector<std::string>{"b.log", "sub"}));
}
