// CFileLock on Windows: one holder at a time, within this process and across processes, and a
// lock file that is a link refused.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/FileLock.h"
#include "platform/SystemError.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

// What the helper program reports when it tries the lock: 0 taken, 1 held elsewhere, 2 error.
int LockFromAnotherProcess(const std::string& path) {
    CStartedProgram helper(TestProgram("test_helper.exe"), "lock \"" + path + "\"");
    return helper.WaitForExit(20000);
}

}  // namespace

TEST(FileLock, OneHolderAtATimeInThisProcessAndAcrossProcesses) {
    CScratchDir scratch;
    const std::string path = scratch.File("оновлення.lock");
    CFileLock first;
    ASSERT_TRUE(first.TryAcquire(path));
    EXPECT_TRUE(first.IsHeld());
    EXPECT_EQ(first.Path(), path);

    CFileLock second;
    EXPECT_FALSE(second.TryAcquire(path));
    EXPECT_FALSE(second.IsHeld());
    EXPECT_EQ(LockFromAnotherProcess(path), 1);

    first.Release();
    EXPECT_FALSE(first.IsHeld());
    EXPECT_EQ(LockFromAnotherProcess(path), 0);  // free, and free again once that process ended
    EXPECT_TRUE(second.TryAcquire(path));
    EXPECT_TRUE(PathExists(path));  // the file stays for the next run
}

TEST(FileLock, RefusesADirectoryOrALinkInThePlaceOfTheLockFile) {
    CScratchDir scratch;
    CFileLock lock;
    EXPECT_THROW(lock.TryAcquire(scratch.Path()), CSystemError);
    EXPECT_THROW(lock.TryAcquire(scratch.File("немає\\x.lock")), CSystemError);

    const std::string target = scratch.File("target.lock");
    WriteBytes(target, "");
    const std::string link = scratch.File("link.lock");
    if (!MakeLink(link, target)) {
        GTEST_SKIP() << "no link to a file could be made here";
    }
    try {
        lock.TryAcquire(link);
        FAIL() << "locked through a link";
    } catch (const CSystemError& error) {
        EXPECT_NE(std::string(error.what()).find("link.lock"), std::string::npos);
    }
    EXPECT_FALSE(lock.IsHeld());
}
