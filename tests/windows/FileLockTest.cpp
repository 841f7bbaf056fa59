// What only Windows' lock file has to refuse (the portable behaviour is in tests/platform): a
// link in the place of the lock file, whichever way Windows or Wine shows it. The lock is never
// taken through it, and nothing is created or changed where it points.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/FileLock.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

enum class LinkKind {
    Shown,    // a link that Windows or Wine shows as a reparse point
    ToAFile,  // under Wine a Unix link to a file, which looks like the file itself
    Nowhere,  // under Wine a Unix link whose file is gone, which looks like no file at all
};

class WindowsFileLock : public ::testing::TestWithParam<LinkKind> {};

}  // namespace

TEST_P(WindowsFileLock, RefusesALinkInThePlaceOfTheLockFile) {
    CTempDir scratch;
    const std::string target = scratch.File("target.lock");
    WriteFile(target, "a file of someone else's");
    const std::string link = scratch.File("link.lock");
    const bool made =
        GetParam() == LinkKind::Shown ? MakeLink(link, target) : MakeUnixFileLink(link, target);
    if (!made) {
        GTEST_SKIP() << "no such link could be made here";
    }
    if (GetParam() == LinkKind::Nowhere) {
        ASSERT_TRUE(DeleteFileW(ToUtf16(target).c_str()));
    }
    for (const auto holders :
         {CFileLock::Holders::CurrentUser, CFileLock::Holders::DirectoryUsers}) {
        CFileLock lock;
        try {
            lock.TryAcquire(link, holders);
            ADD_FAILURE() << "locked through a link";
        } catch (const CSystemError& error) {
            EXPECT_NE(std::string(error.what()).find("link.lock"), std::string::npos)
                << error.what();
        }
        EXPECT_FALSE(lock.IsHeld());
    }
    if (GetParam() == LinkKind::Nowhere) {
        EXPECT_FALSE(PathExists(target)) << "the lock created the file the link points to";
    } else {
        EXPECT_EQ(ReadFile(target), "a file of someone else's");
    }
}

INSTANTIATE_TEST_SUITE_P(Links, WindowsFileLock,
                         ::testing::Values(LinkKind::Shown, LinkKind::ToAFile, LinkKind::Nowhere),
                         [](const ::testing::TestParamInfo<LinkKind>& info) -> std::string {
                             switch (info.param) {
                                 case LinkKind::Shown:
                                     return "Shown";
                                 case LinkKind::ToAFile:
                                     return "ToAFile";
                                 case LinkKind::Nowhere:
                                     return "Nowhere";
                             }
                             return "Unknown";
                         });
