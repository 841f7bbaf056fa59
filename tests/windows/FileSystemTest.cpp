// What only Windows' file layer has (the portable behaviour is in tests/platform): files held
// open by others, read-only attributes, attributes and times taken over by a copy, links as
// reparse points, and the work directory's access list.

#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "platform/WorkDirectory.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

// The access list of `path`: whether it is protected from inheritance, and how many entries.
struct AccessList {
    bool isProtected = false;
    int entries = -1;
};

AccessList AccessListOf(const std::string& path) {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    AccessList result;
    if (GetNamedSecurityInfoW(ToUtf16(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return result;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    result.isProtected = (control & SE_DACL_PROTECTED) != 0;
    result.entries = acl != nullptr ? acl->AceCount : -1;
    LocalFree(descriptor);
    return result;
}

}  // namespace

TEST(WindowsFileQueries, AFileHeldOpenWithoutSharingIsStillSeen) {
    CTempDir scratch;
    const std::string file = scratch.File("звіт.fr3");
    WriteFile(file, "12345");
    // Its attributes need no sharing.
    const CWin32Handle exclusive(
        CreateFileW(ToUtf16(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(exclusive.IsValid());
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(FileSize(file), 5);
}

TEST(WindowsFileOperations, DeleteDirectoryContentsDeletesALinkNotWhatItPointsTo) {
    CTempDir scratch;
    const std::string root = scratch.File("lib.kvr");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(root).c_str(), nullptr));
    WriteFile(root + "\\238.rar", "rar");
    // A link inside goes itself; what it points to stays.
    const std::string outside = scratch.File("поза");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(outside).c_str(), nullptr));
    WriteFile(outside + "\\keep.txt", "keep");
    const bool linked = MakeLink(root + "\\link", outside);

    const bool deleted = DeleteDirectoryContents(root);
    EXPECT_TRUE(DirectoryExists(root));
    EXPECT_EQ(ReadFile(outside + "\\keep.txt"), "keep");
    if (linked && RunningUnderWine()) {
        // No Win32 call removes a Unix link to a directory under Wine 8 (it opens the target):
        // the link stays, and nothing behind it was touched.
        EXPECT_FALSE(deleted);
        EXPECT_EQ(DirectoryEntries(root), std::vector<std::string>{"link"});
    } else {
        EXPECT_TRUE(deleted);
        EXPECT_EQ(DirectoryEntries(root), std::vector<std::string>{});
    }
    EXPECT_FALSE(DeleteDirectoryContents(scratch.File("немає")));
    if (!linked) {
        GTEST_SKIP() << "no link could be made here: the link case was not run";
    }
}

TEST(WindowsFile, ALinkInTheDirectorysPlaceIsRefused) {
    CTempDir scratch;
    const std::string linkPath = scratch.File("link");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(scratch.File("Звіти")).c_str(), nullptr));
    if (!MakeLink(linkPath, scratch.File("Звіти"))) {
        GTEST_SKIP() << "no link could be made here";
    }
    EXPECT_TRUE(IsSymbolicLink(linkPath));
    EXPECT_THROW(CFile(linkPath, CFile::Mode::Directory), CSystemError);
}

TEST(WindowsReplacingFile, AReadOnlyTargetIsReplacedAndAReadOnlyFileDeleted) {
    // Windows refuses both for a read-only file, which the archiver makes of what it unpacks
    // read-only (Wine as root does not refuse, so here the outcome is checked, not the refusal).
    CTempDir scratch;
    const std::string target = scratch.File("tessara.exe");
    WriteFile(target, "old");
    ASSERT_TRUE(SetFileAttributesW(ToUtf16(target).c_str(), FILE_ATTRIBUTE_READONLY));
    {
        CReplacingFile file(target);
        file.WriteAll("new", 3);
        file.Commit();
    }
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(GetFileAttributesW(ToUtf16(target).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

    ASSERT_TRUE(SetFileAttributesW(ToUtf16(target).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(RemoveFile(target));
    EXPECT_FALSE(PathExists(target));
    // A delete that fails (the file is open, as a virus scanner may hold it for longer than the
    // retries wait) leaves it as it was, read-only included.
    const std::string held = scratch.File("held.fr3");
    WriteFile(held, "fr3");
    ASSERT_TRUE(SetFileAttributesW(ToUtf16(held).c_str(), FILE_ATTRIBUTE_READONLY));
    const CWin32Handle open(CreateFileW(ToUtf16(held).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(open.IsValid());
    EXPECT_FALSE(RemoveFile(held));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_NE(GetFileAttributesW(ToUtf16(held).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(ReadFile(held), "fr3");
}

TEST(WindowsReplacingFile, CommitOverAnOpenFileFailsCleanly) {
    CTempDir scratch;
    const std::string target = scratch.File("tessara.exe");
    WriteFile(target, "running");
    {
        // The suite's program still runs: its file is open (without delete sharing).
        CFile reader(target, CFile::Mode::Read);
        CReplacingFile file(target);
        file.WriteAll("update", 6);
        try {
            file.Commit();
            FAIL() << "replaced a file that is open";
        } catch (const CSystemError& error) {
            EXPECT_TRUE(error.Code() == ERROR_ACCESS_DENIED ||
                        error.Code() == ERROR_SHARING_VIOLATION)
                << error.Code();
            EXPECT_EQ(std::string(error.what()),
                      "Cannot replace \"" + target + "\": " + SystemMessage(error.Code()));
        }
    }
    EXPECT_EQ(ReadFile(target), "running");
    EXPECT_EQ(DirectoryEntries(scratch.Path()), std::vector<std::string>{"tessara.exe"});
}

TEST(WindowsCopyFileReplace, ReplacesKeepingAttributesAndTimes) {
    CTempDir scratch;
    const std::string from = scratch.File("нова версія.exe");
    const std::string to = scratch.File("tessara.exe");
    const std::string bytes(2500000, 'x');
    WriteFile(from, bytes);
    WriteFile(to, "old");
    FILETIME written{};
    written.dwHighDateTime = 30000000;  // in 1989, far from now
    {
        const CWin32Handle handle(CreateFileW(ToUtf16(from).c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(handle.Get(), nullptr, nullptr, &written));
    }
    ASSERT_TRUE(SetFileAttributesW(ToUtf16(from).c_str(), FILE_ATTRIBUTE_HIDDEN));

    const CopyResult result = CopyFileReplace(from, to);
    ASSERT_TRUE(result.Ok()) << result.message;
    EXPECT_EQ(ReadFile(to), bytes);
    WIN32_FILE_ATTRIBUTE_DATA copied{};
    ASSERT_TRUE(GetFileAttributesExW(ToUtf16(to).c_str(), GetFileExInfoStandard, &copied));
    EXPECT_EQ(copied.ftLastWriteTime.dwHighDateTime, written.dwHighDateTime);
    EXPECT_TRUE(copied.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(DirectoryEntries(scratch.Path()).size(), 2u);
}

TEST(WindowsCopyFileReplace, AFileHeldOpenIsNotReplaced) {
    CTempDir scratch;
    const std::string to = scratch.File("tessara.exe");
    WriteFile(to, "old");
    const std::string from = scratch.File("new.exe");
    WriteFile(from, "new");
    {
        CFile running(to, CFile::Mode::Read);
        const CopyResult busy = CopyFileReplace(from, to);
        EXPECT_FALSE(busy.Ok());
        EXPECT_EQ(busy.message, SystemMessage(busy.code));
    }
    EXPECT_EQ(ReadFile(to), "old");
    EXPECT_EQ(DirectoryEntries(scratch.Path()),
              (std::vector<std::string>{"new.exe", "tessara.exe"}));
}

TEST(WindowsWorkDirectory, MissingOwnedPrivateAndLinked) {
    CTempDir scratch;
    const std::string work = scratch.File("lib.kvr");
    EXPECT_EQ(InspectWorkDirectory(work), WorkDirectoryState::Missing);
    ASSERT_TRUE(CreatePrivateDirectory(work));
    EXPECT_FALSE(CreatePrivateDirectory(work));  // there already
    EXPECT_EQ(InspectWorkDirectory(work), WorkDirectoryState::Owned);
    EXPECT_EQ(InspectWorkDirectory(scratch.Path()), WorkDirectoryState::Owned);

    // A junction or link in the work directory's place points somewhere else: never ours.
    const std::string linked = scratch.File("lib.kvr.link");
    if (!MakeLink(linked, work)) {
        GTEST_SKIP() << "no link could be made here: the Unsafe case was not run";
    }
    EXPECT_EQ(InspectWorkDirectory(linked), WorkDirectoryState::Unsafe);
    EXPECT_TRUE(IsSymbolicLink(linked));
    RestrictToOwner(linked);  // leaves a link alone
    EXPECT_TRUE(DirectoryExists(work));
}

TEST(WindowsWorkDirectory, PrivateDirectoriesGrantTheCurrentUserAloneWithNothingInherited) {
    CTempDir scratch;
    const std::string work = scratch.File("lib.kvr");
    ASSERT_TRUE(CreatePrivateDirectory(work));
    const std::string plain = scratch.File("plain");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(plain).c_str(), nullptr));
    RestrictToOwner(plain);
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine keeps no access list of a file's own: it maps one to Unix mode bits "
                        "and gives back the list it derives from them";
    }
    const AccessList created = AccessListOf(work);
    const AccessList restricted = AccessListOf(plain);
    EXPECT_TRUE(created.isProtected);
    EXPECT_EQ(created.entries, 1);
    EXPECT_TRUE(restricted.isProtected);
    EXPECT_EQ(restricted.entries, 1);
}
