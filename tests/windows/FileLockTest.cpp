// What only Windows' lock file has to refuse (the portable behaviour is in tests/platform): a
// link, which Windows and Wine show as a reparse point, in the place of the lock file.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/FileLock.h"
#include "platform/SystemError.h"
#include "tests/windows/WindowsTestSupport.h"

TEST(WindowsFileLock, RefusesALinkInThePlaceOfTheLockFile) {
    CTempDir scratch;
    const std::string target = scratch.File("target.lock");
    WriteFile(target, "");
    const std::string link = scratch.File("link.lock");
    if (!MakeLink(link, target)) {
        GTEST_SKIP() << "no link to a file could be made here";
    }
    CFileLock lock;
    try {
        lock.TryAcquire(link);
        FAIL() << "locked through a link";
    } catch (const CSystemError& error) {
        EXPECT_NE(std::string(error.what()).find("link.lock"), std::string::npos);
    }
    EXPECT_FALSE(lock.IsHeld());
}
