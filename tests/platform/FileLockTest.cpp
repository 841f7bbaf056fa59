// The lock file that keeps a second updater away: one holder at a time, in this process and
// across processes (the test helper is the other process), released with its owner, and
// refused where no lock file can be.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/ChildProcess.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

namespace {

// What the helper program reports when it tries the lock (`mode` "lock") or takes it and ends
// without releasing it ("abandon"): 0 taken, 1 held elsewhere, 2 error.
int FromAnotherProcess(const std::string& mode, const std::string& path) {
    const std::string helper = BuiltProgram("test_helper");
    CChildProcess child;
    child.Start(helper, BuildCommandLine({helper, mode, path}), "");
    EXPECT_TRUE(child.Wait(20000));
    return child.ExitCode();
}

}  // namespace

TEST(FileLock, OneHolderAtATimeInThisProcessAndAcrossProcesses) {
    CTempDir dir;
    const std::string path = dir.File("оновлення.lock");
    CFileLock first;
    ASSERT_TRUE(first.TryAcquire(path));
    EXPECT_TRUE(first.IsHeld());
    EXPECT_EQ(first.Path(), path);

    EXPECT_EQ(FromAnotherProcess("lock", path), 1);
    CFileLock second;  // another open of the same file in this process is refused as well
    EXPECT_FALSE(second.TryAcquire(path));
    EXPECT_FALSE(second.IsHeld());

    // Moving keeps the lock; the moved-from object holds nothing.
    CFileLock moved = std::move(first);
    EXPECT_TRUE(moved.IsHeld());
    EXPECT_FALSE(first.IsHeld());
    EXPECT_EQ(FromAnotherProcess("lock", path), 1);
    moved.Release();
    EXPECT_FALSE(moved.IsHeld());
    // Free, and free again once that process has ended.
    EXPECT_EQ(FromAnotherProcess("lock", path), 0);
    EXPECT_TRUE(second.TryAcquire(path));
    EXPECT_TRUE(FileExists(path));  // the file stays for the next one
}

TEST(FileLock, ALockOfAProcessThatEndedWithoutReleasingItIsFree) {
    CTempDir dir;
    const std::string path = dir.File("lib.kvr.lock");
    ASSERT_EQ(FromAnotherProcess("abandon", path), 0);
    CFileLock lock;
    EXPECT_TRUE(lock.TryAcquire(path));
}

TEST(FileLock, RefusesADirectoryOrAMissingDirectoryInThePlaceOfTheLockFile) {
    CTempDir dir;
    CFileLock lock;
    EXPECT_THROW(lock.TryAcquire(dir.Path()), CSystemError);
    const std::string nowhere = PathJoin(dir.File("немає"), "x.lock");
    try {
        lock.TryAcquire(nowhere);
        FAIL() << "locked in a missing directory";
    } catch (const CSystemError& error) {
        EXPECT_EQ(error.Code(), kErrorPathNotFound);
        EXPECT_NE(std::string(error.what()).find(nowhere), std::string::npos) << error.what();
    }
    EXPECT_FALSE(lock.IsHeld());
    // A lock the users of a directory share is refused there all the same.
    EXPECT_THROW(lock.TryAcquire(dir.Path(), CFileLock::Holders::DirectoryUsers), CSystemError);
    EXPECT_FALSE(lock.IsHeld());
}
