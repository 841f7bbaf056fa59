// The file layer on Windows: CFile and CReplacingFile over the W functions, the copy with its
// temporary file, directory search with the mask rules of Linux, deleting a tree without
// following links, and the work directory's checks and access list.

#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FileSearch.h"
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

std::vector<std::string> Listed(const std::string& dir, const std::string& mask) {
    std::vector<std::string> list;
    ListFiles(dir, mask, list);
    return list;
}

}  // namespace

TEST(FileQueries, TellFilesDirectoriesAndLinksApartByUtf8Path) {
    CScratchDir scratch;
    const std::string file = scratch.File("звіт.fr3");
    const std::string dir = scratch.File("Звіти");
    WriteBytes(file, "12345");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(dir).c_str(), nullptr));

    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(DirectoryExists(file));
    EXPECT_TRUE(DirectoryExists(dir));
    EXPECT_FALSE(FileExists(dir));
    EXPECT_FALSE(FileExists(scratch.File("немає")));
    EXPECT_FALSE(IsSymbolicLink(file));
    EXPECT_FALSE(IsSymbolicLink(dir));
    EXPECT_EQ(FileSize(file), 5);
    EXPECT_EQ(FileSize(scratch.File("немає")), -1);

    // A file held open without sharing is still seen (its attributes need no sharing).
    const CWin32Handle exclusive(
        CreateFileW(ToUtf16(file).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(exclusive.IsValid());
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(FileSize(file), 5);
}

TEST(FileOperations, DeleteRenameAndDeleteTreeContents) {
    CScratchDir scratch;
    const std::string a = scratch.File("а.lsql");
    const std::string b = scratch.File("а.~sql");
    WriteBytes(a, "new");
    WriteBytes(b, "old");
    EXPECT_TRUE(RenameFile(a, b));  // replaces, as on Linux
    EXPECT_EQ(ReadBytes(b), "new");
    EXPECT_FALSE(PathExists(a));
    EXPECT_FALSE(RenameFile(a, b));
    EXPECT_FALSE(DeleteFile(scratch.Path()));  // no directories
    EXPECT_TRUE(DeleteFile(b));
    EXPECT_FALSE(DeleteFile(b));

    // A tree with a read-only file and nested directories goes; the directory itself stays.
    const std::string root = scratch.File("lib.kvr");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(root).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(root + "\\Reports").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(root + "\\Reports\\вкладена").c_str(), nullptr));
    WriteBytes(root + "\\238.rar", "rar");
    WriteBytes(root + "\\Reports\\вкладена\\list.fr3", "fr3");
    ASSERT_TRUE(SetFileAttributesW(ToUtf16(root + "\\Reports\\вкладена\\list.fr3").c_str(),
                                   FILE_ATTRIBUTE_READONLY));
    // A link inside goes itself; what it points to stays.
    const std::string outside = scratch.File("поза");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(outside).c_str(), nullptr));
    WriteBytes(outside + "\\keep.txt", "keep");
    const bool linked = MakeLink(root + "\\link", outside);

    const bool deleted = DeleteDirectoryContents(root);
    EXPECT_TRUE(DirectoryExists(root));
    EXPECT_EQ(ReadBytes(outside + "\\keep.txt"), "keep");
    if (linked && RunningUnderWine()) {
        // No Win32 call removes a Unix link to a directory under Wine 8 (it opens the target):
        // the link stays, and nothing behind it was touched.
        EXPECT_FALSE(deleted);
        EXPECT_EQ(DirectoryNames(root), std::vector<std::string>{"link"});
    } else {
        EXPECT_TRUE(deleted);
        EXPECT_EQ(DirectoryNames(root), std::vector<std::string>{});
    }
    EXPECT_FALSE(DeleteDirectoryContents(scratch.File("немає")));
    if (!linked) {
        GTEST_SKIP() << "no link could be made here: the link case was not run";
    }
}

TEST(CFile, ReadsWritesAppendsAndReadsAtAnOffsetKeepingThePosition) {
    CScratchDir scratch;
    const std::string path = scratch.File("журнал.log");
    {
        CFile file(path, CFile::Mode::WriteTruncate);
        file.WriteAll("0123456789", 10);
        file.Close();
        file.Close();  // twice does nothing
    }
    {
        CFile file(path, CFile::Mode::Append);
        CFile other(path, CFile::Mode::Append);  // appenders share the file
        file.WriteAll("ab", 2);
        other.WriteAll("cd", 2);
    }
    CFile file(path, CFile::Mode::Read);
    EXPECT_EQ(file.Size(), 14);
    EXPECT_EQ(file.GetKind(), CFile::Kind::Regular);
    char head[3] = {};
    ASSERT_EQ(file.Read(head, 3), 3u);
    char middle[4] = {};
    file.ReadAt(10, middle, 4);
    EXPECT_EQ(std::string(middle, 4), "abcd");
    char next[2] = {};
    ASSERT_EQ(file.Read(next, 2), 2u);
    EXPECT_EQ(std::string(next, 2), "34");  // where the plain reads left off
    char beyond[8] = {};
    EXPECT_THROW(file.ReadAt(10, beyond, 8), CSystemError);
    EXPECT_EQ(file.Read(next, 2), 2u);
    EXPECT_EQ(std::string(next, 2), "56");

    EXPECT_EQ(CFile(scratch.Path(), CFile::Mode::Directory).GetKind(), CFile::Kind::Directory);
    try {
        CFile notADirectory(path, CFile::Mode::Directory);
        FAIL() << "a file opened as a directory";
    } catch (const CSystemError& error) {
        EXPECT_EQ(error.Code(), ERROR_DIRECTORY);
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open \"" + path + "\": " + SystemMessage(ERROR_DIRECTORY));
    }
    try {
        CFile missing(scratch.File("немає.txt"), CFile::Mode::Read);
        FAIL() << "a missing file opened";
    } catch (const CSystemError& error) {
        EXPECT_EQ(error.Code(), ERROR_FILE_NOT_FOUND);
        EXPECT_NE(std::string(error.what()).find("немає.txt"), std::string::npos);
    }
    const std::string linkPath = scratch.File("link");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(scratch.File("Звіти")).c_str(), nullptr));
    if (!MakeLink(linkPath, scratch.File("Звіти"))) {
        GTEST_SKIP() << "no link could be made here";
    }
    EXPECT_TRUE(IsSymbolicLink(linkPath));
    EXPECT_THROW(CFile(linkPath, CFile::Mode::Directory), CSystemError);
}

TEST(CReplacingFile, TheTargetChangesOnlyOnCommit) {
    CScratchDir scratch;
    const std::string target = scratch.File("tessara.exe");
    WriteBytes(target, "old");
    {
        CReplacingFile file(target);
        file.WriteAll("new contents", 12);
        EXPECT_EQ(ReadBytes(target), "old");
        EXPECT_EQ(DirectoryNames(scratch.Path()).size(), 2u);  // the temporary file beside it
        file.Commit();
    }
    EXPECT_EQ(ReadBytes(target), "new contents");
    EXPECT_EQ(DirectoryNames(scratch.Path()), std::vector<std::string>{"tessara.exe"});
    {
        CReplacingFile discarded(target);
        discarded.WriteAll("half", 4);
    }
    EXPECT_EQ(ReadBytes(target), "new contents");
    EXPECT_EQ(DirectoryNames(scratch.Path()), std::vector<std::string>{"tessara.exe"});

    // A new target appears whole.
    {
        CReplacingFile file(scratch.File("новий.fr3"));
        file.WriteAll("fr3", 3);
        file.Commit();
    }
    EXPECT_EQ(ReadBytes(scratch.File("новий.fr3")), "fr3");
}

TEST(CReplacingFile, AReadOnlyTargetIsReplacedAndAReadOnlyFileDeleted) {
    // Windows refuses both for a read-only file, which the archiver makes of what it unpacks
    // read-only (Wine as root does not refuse, so here the outcome is checked, not the refusal).
    CScratchDir scratch;
    const std::string target = scratch.File("tessara.exe");
    WriteBytes(target, "old");
    ASSERT_TRUE(SetFileAttributesW(ToUtf16(target).c_str(), FILE_ATTRIBUTE_READONLY));
    {
        CReplacingFile file(target);
        file.WriteAll("new", 3);
        file.Commit();
    }
    EXPECT_EQ(ReadBytes(target), "new");
    EXPECT_EQ(GetFileAttributesW(ToUtf16(target).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

    ASSERT_TRUE(SetFileAttributesW(ToUtf16(target).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(DeleteFile(target));
    EXPECT_FALSE(PathExists(target));
    // A delete that fails (the file is open, as a virus scanner may hold it for longer than the
    // retries wait) leaves it as it was, read-only included.
    const std::string held = scratch.File("held.fr3");
    WriteBytes(held, "fr3");
    ASSERT_TRUE(SetFileAttributesW(ToUtf16(held).c_str(), FILE_ATTRIBUTE_READONLY));
    const CWin32Handle open(CreateFileW(ToUtf16(held).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(open.IsValid());
    EXPECT_FALSE(DeleteFile(held));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_NE(GetFileAttributesW(ToUtf16(held).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(ReadBytes(held), "fr3");
}

TEST(CReplacingFile, CommitOverAnOpenFileFailsCleanly) {
    CScratchDir scratch;
    const std::string target = scratch.File("tessara.exe");
    WriteBytes(target, "running");
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
    EXPECT_EQ(ReadBytes(target), "running");
    EXPECT_EQ(DirectoryNames(scratch.Path()), std::vector<std::string>{"tessara.exe"});

    // A missing directory fails at once and names the target.
    const std::string nowhere = scratch.File("немає\\x.exe");
    try {
        CReplacingFile file(nowhere);
        FAIL() << "created a file in a missing directory";
    } catch (const CSystemError& error) {
        EXPECT_EQ(error.Code(), ERROR_PATH_NOT_FOUND);
        EXPECT_NE(std::string(error.what()).find(nowhere), std::string::npos);
    }
}

TEST(CopyFileReplace, ReplacesKeepingAttributesAndTimesAndCallsBackPerBlock) {
    CScratchDir scratch;
    const std::string from = scratch.File("нова версія.exe");
    const std::string to = scratch.File("tessara.exe");
    const std::string bytes(2500000, 'x');
    WriteBytes(from, bytes);
    WriteBytes(to, "old");
    FILETIME written{};
    written.dwHighDateTime = 30000000;  // in 1989, far from now
    {
        const CWin32Handle handle(CreateFileW(ToUtf16(from).c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(SetFileTime(handle.Get(), nullptr, nullptr, &written));
    }
    ASSERT_TRUE(SetFileAttributesW(ToUtf16(from).c_str(), FILE_ATTRIBUTE_HIDDEN));

    int blocks = 0;
    const CopyResult result = CopyFileReplace(from, to, [&] { ++blocks; });
    ASSERT_TRUE(result.Ok()) << result.message;
    EXPECT_EQ(blocks, 3);  // 1 MiB blocks
    EXPECT_EQ(ReadBytes(to), bytes);
    WIN32_FILE_ATTRIBUTE_DATA copied{};
    ASSERT_TRUE(GetFileAttributesExW(ToUtf16(to).c_str(), GetFileExInfoStandard, &copied));
    EXPECT_EQ(copied.ftLastWriteTime.dwHighDateTime, written.dwHighDateTime);
    EXPECT_TRUE(copied.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(DirectoryNames(scratch.Path()).size(), 2u);
}

TEST(CopyFileReplace, FailuresCarryTheSystemsCodeAndKeepTheOldFile) {
    CScratchDir scratch;
    const std::string to = scratch.File("tessara.exe");
    WriteBytes(to, "old");
    const CopyResult missing = CopyFileReplace(scratch.File("немає.exe"), to);
    EXPECT_EQ(missing.code, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.message, SystemMessage(ERROR_FILE_NOT_FOUND));

    const std::string from = scratch.File("new.exe");
    WriteBytes(from, "new");
    const CopyResult noDirectory = CopyFileReplace(from, scratch.File("Reports\\new.exe"));
    EXPECT_EQ(noDirectory.code, ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(CopyFileReplace(scratch.Path(), to).Ok());  // a directory is no source

    {
        CFile running(to, CFile::Mode::Read);
        const CopyResult busy = CopyFileReplace(from, to);
        EXPECT_FALSE(busy.Ok());
        EXPECT_EQ(busy.message, SystemMessage(busy.code));
    }
    EXPECT_EQ(ReadBytes(to), "old");
    EXPECT_EQ(DirectoryNames(scratch.Path()), (std::vector<std::string>{"new.exe", "tessara.exe"}));
}

TEST(ListFiles, MasksMatchAsOnLinuxWithCyrillicNamesSorted) {
    CScratchDir scratch;
    const std::string dir = scratch.Path();
    for (const char* name : {"up.99.238.lsql", "Up.2026.05.03.LSQL", "звіт.fr3", "Звіт.FR3.bak",
                             "18619.u", "18619.~u", "readme", "note.lsql.log"}) {
        WriteBytes(dir + "\\" + name, "x");
    }
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(dir + "\\каталог.lsql").c_str(), nullptr));

    EXPECT_EQ(Listed(dir, "*.lsql"),
              (std::vector<std::string>{dir + "\\Up.2026.05.03.LSQL", dir + "\\up.99.238.lsql",
                                        dir + "\\каталог.lsql"}));
    EXPECT_EQ(Listed(dir, "*.u"), std::vector<std::string>{dir + "\\18619.u"});
    EXPECT_EQ(Listed(dir, "?????.~u"), std::vector<std::string>{dir + "\\18619.~u"});
    // Case is ignored for ASCII letters only, as on Linux.
    EXPECT_EQ(Listed(dir, "звіт.*"), (std::vector<std::string>{dir + "\\звіт.fr3"}));
    EXPECT_EQ(Listed(dir, "readme.*"), std::vector<std::string>{dir + "\\readme"});
    const std::vector<std::string> all = Listed(dir, "*.*");
    ASSERT_EQ(all.size(), 11u);  // with "." and ".."
    EXPECT_EQ(all[0], dir + "\\.");
    EXPECT_EQ(all[1], dir + "\\..");
    EXPECT_EQ(all.back(), dir + "\\каталог.lsql");
    EXPECT_EQ(Listed(dir + "\\немає", "*.*"), std::vector<std::string>{});

    // Entries are added to what the list holds, and the whole list is sorted.
    std::vector<std::string> list = {dir + "\\zzz"};
    ListFiles(dir, "*.u", list);
    EXPECT_EQ(list, (std::vector<std::string>{dir + "\\18619.u", dir + "\\zzz"}));
}

TEST(WorkDirectory, MissingOwnedPrivateAndLinked) {
    CScratchDir scratch;
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

TEST(WorkDirectory, PrivateDirectoriesGrantTheCurrentUserAloneWithNothingInherited) {
    CScratchDir scratch;
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
