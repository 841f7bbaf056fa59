// What only POSIX paths have: the root and $TMPDIR.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Paths.h"
#include "tests/support/TestSupport.h"

TEST(PosixPaths, TheProgramPathIsAbsolute) {
    EXPECT_EQ(ExecutablePath().front(), '/');
    EXPECT_EQ(PathJoin("/tmp/", "lib.kvr"), "/tmp/lib.kvr");
}

TEST(PosixPaths, TempPathFollowsTmpdir) {
    // Unset (the variable of this scope is then removed again).
    {
        CEnvironmentVariable variable("TMPDIR", "");
        unsetenv("TMPDIR");
        EXPECT_EQ(TempPath(), "/tmp/");
    }
    {
        CEnvironmentVariable variable("TMPDIR", "");
        EXPECT_EQ(TempPath(), "/tmp/");
    }
    {
        CEnvironmentVariable variable("TMPDIR", "/var/scratch");
        EXPECT_EQ(TempPath(), "/var/scratch/");
        EXPECT_EQ(PathJoin(TempPath(), "lib.kvr"), "/var/scratch/lib.kvr");
    }
    {
        CEnvironmentVariable variable("TMPDIR", "/var/scratch/");
        EXPECT_EQ(TempPath(), "/var/scratch/");
    }
    {
        // The archiver runs in the work directory, where a relative path means another place.
        CEnvironmentVariable variable("TMPDIR", "scratch");
        EXPECT_EQ(TempPath(), std::filesystem::current_path().string() + "/scratch/");
    }
}
