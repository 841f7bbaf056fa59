#include <gtest/gtest.h>

#include <stdlib.h>
#include <filesystem>

#include <optional>

#include "platform/FileSystem.h"
#include "platform/Paths.h"

TEST(PathJoin, FollowsTheJoinRules) {
    EXPECT_EQ(PathJoin("/opt/suite", "lib.ini"), "/opt/suite/lib.ini");
    EXPECT_EQ(PathJoin("/opt/suite/", "lib.ini"), "/opt/suite/lib.ini");
    EXPECT_EQ(PathJoin("/opt/suite", ""), "/opt/suite");
    EXPECT_EQ(PathJoin("", "lib.ini"), "lib.ini");
    EXPECT_EQ(PathJoin("", ""), "");
    // A program in the root gives no doubled separator.
    EXPECT_EQ(PathJoin("/", "lib.ini"), "/lib.ini");
    EXPECT_EQ(PathJoin("/tmp/", "lib.kvr"), "/tmp/lib.kvr");
    // Nothing else is normalised.
    EXPECT_EQ(PathJoin("a//", "b"), "a//b");
    EXPECT_EQ(PathJoin("a", "/b"), "a//b");
    EXPECT_EQ(PathJoin("a", "Reports/x.fr3"), "a/Reports/x.fr3");
}

TEST(PathParts, SplitDirectoryAndName) {
    EXPECT_EQ(ExtractFileDir("/opt/suite/updater"), "/opt/suite");
    EXPECT_EQ(ExtractFileDir("/updater"), "/");
    EXPECT_EQ(ExtractFileDir("updater"), "");
    EXPECT_EQ(ExtractFileName("/opt/suite/updater"), "updater");
    EXPECT_EQ(ExtractFileName("updater"), "updater");
    EXPECT_EQ(ExtractFileName("/opt/suite/"), "");
    // A path of another system (a client on a Windows workstation) is split at either separator.
    EXPECT_EQ(ExtractFileNameAnySeparator("C:\\Tessara\\TESSARA.EXE"), "TESSARA.EXE");
    EXPECT_EQ(ExtractFileNameAnySeparator("/opt/suite/tessara.exe"), "tessara.exe");
    EXPECT_EQ(ExtractFileNameAnySeparator("C:/Tessara\\bin/tessara.exe"), "tessara.exe");
    EXPECT_EQ(ExtractFileNameAnySeparator("tessara.exe"), "tessara.exe");
    EXPECT_EQ(ExtractFileNameAnySeparator("C:\\Tessara\\"), "");
}

TEST(ProgramLocation, IsTheRunningExecutable) {
    const std::string exe = ExecutablePath();
    EXPECT_EQ(exe.front(), '/');
    EXPECT_EQ(ExtractFileName(exe), "test_platform");
    EXPECT_TRUE(FileExists(exe));
    const std::string dir = ProgramDirectory();
    EXPECT_TRUE(DirectoryExists(dir));
    EXPECT_NE(dir.back(), '/');
    EXPECT_EQ(PathJoin(dir, "test_platform"), exe);
}

namespace {

// Sets or unsets TMPDIR for one test and restores the old value afterwards.
class CTmpDirVariable {
  public:
    explicit CTmpDirVariable(const char* value) {
        if (const char* old = getenv("TMPDIR")) {
            m_old = old;
        }
        if (value != nullptr) {
            setenv("TMPDIR", value, 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    ~CTmpDirVariable() {
        if (m_old) {
            setenv("TMPDIR", m_old->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }

  private:
    std::optional<std::string> m_old;
};

}  // namespace

TEST(TempPath, EndsWithOneSeparator) {
    {
        CTmpDirVariable variable(nullptr);
        EXPECT_EQ(TempPath(), "/tmp/");
    }
    {
        CTmpDirVariable variable("");
        EXPECT_EQ(TempPath(), "/tmp/");
    }
    {
        CTmpDirVariable variable("/var/scratch");
        EXPECT_EQ(TempPath(), "/var/scratch/");
        EXPECT_EQ(PathJoin(TempPath(), "lib.kvr"), "/var/scratch/lib.kvr");
    }
    {
        CTmpDirVariable variable("/var/scratch/");
        EXPECT_EQ(TempPath(), "/var/scratch/");
    }
    {
        // The archiver runs in the work directory, where a relative path means another place.
        CTmpDirVariable variable("scratch");
        EXPECT_EQ(TempPath(), std::filesystem::current_path().string() + "/scratch/");
    }
}
