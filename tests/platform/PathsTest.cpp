// Paths put together and taken apart, the running program's place and the temp directory, with
// the system's own separator.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

namespace {

// `path` written with '/' as the system writes it.
std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '/', kPathSeparator);
    return path;
}

}  // namespace

TEST(PathJoin, FollowsTheJoinRules) {
    EXPECT_EQ(PathJoin(Native("/opt/suite"), "lib.ini"), Native("/opt/suite/lib.ini"));
    EXPECT_EQ(PathJoin(Native("/opt/suite/"), "lib.ini"), Native("/opt/suite/lib.ini"));
    EXPECT_EQ(PathJoin(Native("/opt/suite"), ""), Native("/opt/suite"));
    EXPECT_EQ(PathJoin("", "lib.ini"), "lib.ini");
    EXPECT_EQ(PathJoin("", ""), "");
    // A program in the root gives no doubled separator.
    EXPECT_EQ(PathJoin(Native("/"), "lib.ini"), Native("/lib.ini"));
    // Nothing else is normalised.
    EXPECT_EQ(PathJoin(Native("a//"), "b"), Native("a//b"));
    EXPECT_EQ(PathJoin("a", Native("/b")), Native("a//b"));
    EXPECT_EQ(PathJoin("a", "Reports/x.fr3"), Native("a/") + "Reports/x.fr3");
}

TEST(PathParts, SplitDirectoryAndName) {
    EXPECT_EQ(ExtractFileDir(Native("/opt/suite/updater")), Native("/opt/suite"));
    EXPECT_EQ(ExtractFileDir(Native("/updater")), Native("/"));
    EXPECT_EQ(ExtractFileDir("updater"), "");
    EXPECT_EQ(ExtractFileName(Native("/opt/suite/updater")), "updater");
    EXPECT_EQ(ExtractFileName("updater"), "updater");
    EXPECT_EQ(ExtractFileName(Native("/opt/suite/")), "");
    // A path of another system (a client on a Windows workstation) is split at either separator.
    EXPECT_EQ(ExtractFileNameAnySeparator("C:\\Tessara\\TESSARA.EXE"), "TESSARA.EXE");
    EXPECT_EQ(ExtractFileNameAnySeparator("/opt/suite/tessara.exe"), "tessara.exe");
    EXPECT_EQ(ExtractFileNameAnySeparator("C:/Tessara\\bin/tessara.exe"), "tessara.exe");
    EXPECT_EQ(ExtractFileNameAnySeparator("tessara.exe"), "tessara.exe");
    EXPECT_EQ(ExtractFileNameAnySeparator("C:\\Tessara\\"), "");
}

TEST(ProgramLocation, IsTheRunningExecutable) {
    const std::string exe = ExecutablePath();
    EXPECT_EQ(ExtractFileName(exe), ProgramFileName("test_platform"));
    EXPECT_TRUE(FileExists(exe));
    const std::string dir = ProgramDirectory();
    EXPECT_TRUE(DirectoryExists(dir));
    EXPECT_NE(dir.back(), kPathSeparator);
    EXPECT_EQ(PathJoin(dir, ProgramFileName("test_platform")), exe);
    EXPECT_TRUE(FileExists(BuiltProgram("test_helper")));
}

TEST(TempPath, IsADirectoryEndingWithOneSeparator) {
    const std::string temp = TempPath();
    ASSERT_GE(temp.size(), 2u);
    EXPECT_EQ(temp.back(), kPathSeparator);
    EXPECT_NE(temp[temp.size() - 2], kPathSeparator);
    EXPECT_TRUE(DirectoryExists(temp));
}
