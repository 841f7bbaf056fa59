// The file layer as every system has it: queries, deleting and renaming, emptying a tree, the
// copy and the replacing file that never leave half a file under the target's name, and CFile.
// Paths carry Cyrillic letters (and on Windows the scratch directory as well).

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

TEST(FileQueries, TellFilesAndDirectoriesApart) {
    CTempDir dir;
    const std::string file = dir.File("звіт.fr3");
    const std::string sub = dir.File("Звіти");
    WriteFile(file, "12345");
    ASSERT_TRUE(MakeDirectory(sub));

    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(DirectoryExists(file));
    EXPECT_TRUE(DirectoryExists(sub));
    EXPECT_FALSE(FileExists(sub));
    EXPECT_FALSE(FileExists(dir.File("немає")));
    EXPECT_FALSE(DirectoryExists(dir.File("немає")));
    EXPECT_FALSE(IsSymbolicLink(file));
    EXPECT_FALSE(IsSymbolicLink(sub));
    EXPECT_FALSE(IsSymbolicLink(dir.File("немає")));
    EXPECT_EQ(FileSize(file), 5);
    EXPECT_EQ(FileSize(dir.File("немає")), -1);
    EXPECT_EQ(InspectEntry(file), EntryKind::Regular);
    EXPECT_EQ(InspectEntry(sub), EntryKind::Directory);
    EXPECT_EQ(InspectEntry(dir.File("немає")), EntryKind::Missing);
}

// Appending and ReadRegular open the regular file itself, for files in a directory that others
// may write to (links and FIFOs: the POSIX tests; reparse points: Windows' own).
TEST(FileOperations, AppendAndReadRegularOpenTheFileItselfAndRefuseADirectory) {
    CTempDir dir;
    ASSERT_TRUE(MakeDirectory(dir.File("sub")));
    EXPECT_THROW(CFile(dir.File("sub"), CFile::Mode::Append), CSystemError);
    EXPECT_THROW(CFile(dir.File("sub"), CFile::Mode::ReadRegular), CSystemError);

    // Appended to, created when missing, read.
    CFile appended(dir.File("tessara-updater.log"), CFile::Mode::Append);
    appended.WriteAll("line\n", 5);
    appended.Close();
    CFile read(dir.File("tessara-updater.log"), CFile::Mode::ReadRegular);
    char buffer[16] = {};
    EXPECT_EQ(read.Read(buffer, sizeof buffer), 5u);
    EXPECT_EQ(std::string(buffer, 5), "line\n");
}

TEST(FileOperations, CreateDeleteAndRename) {
    CTempDir dir;
    EXPECT_TRUE(CreatePrivateDirectory(dir.File("lib.kvr")));
    EXPECT_FALSE(CreatePrivateDirectory(dir.File("lib.kvr")));  // exists already

    const std::string a = dir.File("а.lsql");
    const std::string b = dir.File("а.~sql");
    WriteFile(a, "new");
    WriteFile(b, "old");
    EXPECT_TRUE(RenameFile(a, b));  // replaces what was there
    EXPECT_FALSE(FileExists(a));
    EXPECT_EQ(ReadWholeFile(b), "new");
    EXPECT_FALSE(RenameFile(a, dir.File("c")));

    EXPECT_TRUE(RemoveFile(b));
    EXPECT_FALSE(RemoveFile(b));
    EXPECT_FALSE(RemoveFile(dir.File("lib.kvr")));  // directories are not deleted
    EXPECT_TRUE(DirectoryExists(dir.File("lib.kvr")));
}

TEST(FileOperations, DeleteDirectoryContentsEmptiesTheTreeAndKeepsTheDirectory) {
    CTempDir dir;
    const std::string work = dir.File("lib.kvr");
    ASSERT_TRUE(MakeDirectory(work));
    const std::string deep = PathJoin(PathJoin(work, "238.rar"), "вкладена");
    ASSERT_TRUE(MakeDirectory(PathJoin(work, "238.rar")));
    ASSERT_TRUE(MakeDirectory(deep));
    WriteFile(PathJoin(work, "file"), "f");
    WriteFile(PathJoin(work, ".hidden"), "h");
    // A read-only file: the archiver restores the read-only attribute of what it unpacks.
    WriteFile(PathJoin(deep, "list.fr3"), "fr3");
    MakeReadOnly(PathJoin(deep, "list.fr3"));

    EXPECT_TRUE(DeleteDirectoryContents(work));
    EXPECT_TRUE(DirectoryEntries(work).empty());
    EXPECT_TRUE(DirectoryExists(work));
    EXPECT_TRUE(DeleteDirectoryContents(work));  // nothing left to delete
    EXPECT_FALSE(DeleteDirectoryContents(dir.File("немає")));
}

TEST(CopyFileReplace, ReplacesOnlyWholeAndCallsBackAfterEveryBlock) {
    CTempDir dir;
    // Three blocks of 1 MiB and one byte, with a pattern a block-boundary mistake would disturb.
    std::string bytes(3 * 1024 * 1024 + 1, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 1021) & 0xFF);
    }
    const std::string from = dir.File("нова версія.exe");
    const std::string to = dir.File("tessara.exe");
    WriteFile(from, bytes);
    WriteFile(to, "the old program, shorter");
    std::vector<std::string> seen;  // what stands at the destination at every call
    const auto afterBlock = [&] { seen.push_back(ReadFile(to)); };

    const CopyResult result = CopyFileReplace(from, to, afterBlock);
    EXPECT_TRUE(result.Ok()) << result.message;
    EXPECT_EQ(result.code, 0);
    EXPECT_TRUE(ReadWholeFile(to) == bytes);
    // Four calls, while the destination was still the old file.
    EXPECT_EQ(seen, std::vector<std::string>(4, "the old program, shorter"));
    EXPECT_EQ(DirectoryEntries(dir.Path()),
              (std::vector<std::string>{"tessara.exe", "нова версія.exe"}));

    // A new destination and an empty source: no block, no call.
    seen.clear();
    WriteFile(dir.File("empty.fr3"), "");
    EXPECT_TRUE(CopyFileReplace(dir.File("empty.fr3"), dir.File("copy.fr3"), afterBlock).Ok());
    EXPECT_EQ(FileSize(dir.File("copy.fr3")), 0);
    EXPECT_TRUE(seen.empty());
}

TEST(CopyFileReplace, FailuresCarryTheSystemsCodeAndKeepTheOldFile) {
    CTempDir dir;
    const std::string to = dir.File("tessara.exe");
    WriteFile(to, "old");
    WriteFile(dir.File("list.fr3"), "template");

    // A missing source leaves the destination alone.
    CopyResult result = CopyFileReplace(dir.File("немає.exe"), to);
    EXPECT_EQ(result.code, kErrorFileNotFound);
    EXPECT_EQ(result.message, SystemMessage(kErrorFileNotFound));
    // No destination directory: nothing is created.
    result = CopyFileReplace(dir.File("list.fr3"), PathJoin(dir.File("Reports"), "list.fr3"));
    EXPECT_EQ(result.code, kErrorPathNotFound);
    EXPECT_EQ(result.message, SystemMessage(kErrorPathNotFound));
    EXPECT_FALSE(DirectoryExists(dir.File("Reports")));
    // A directory is no source (a package may hold one named like a program), and a directory
    // as the destination stays a directory.
    ASSERT_TRUE(MakeDirectory(dir.File("pkg.exe")));
    result = CopyFileReplace(dir.File("pkg.exe"), to);
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.message, SystemMessage(result.code));
    result = CopyFileReplace(dir.File("list.fr3"), dir.File("pkg.exe"));
    EXPECT_FALSE(result.Ok());
    EXPECT_TRUE(DirectoryExists(dir.File("pkg.exe")));

    EXPECT_EQ(ReadWholeFile(to), "old");
    EXPECT_EQ(DirectoryEntries(dir.Path()),
              (std::vector<std::string>{"list.fr3", "pkg.exe", "tessara.exe"}));
}

TEST(CReplacingFile, TheTargetChangesOnlyOnCommit) {
    CTempDir dir;
    const std::string target = dir.File("238.rar");
    WriteFile(target, "old");
    {
        CReplacingFile file(target);
        file.WriteAll("new bytes", 9);
        // The bytes wait beside the target, which is still the old file.
        EXPECT_EQ(ReadWholeFile(target), "old");
        EXPECT_EQ(DirectoryEntries(dir.Path()).size(), 2u);
        file.Commit();
    }
    EXPECT_EQ(ReadWholeFile(target), "new bytes");
    EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"238.rar"});

    // Dropped without a commit, by an error or on purpose: the target stays, nothing is left.
    try {
        CReplacingFile file(target);
        file.WriteAll("half", 4);
        throw std::runtime_error("failed half-way");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(ReadWholeFile(target), "new bytes");
    EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"238.rar"});

    // A new target appears whole, an empty one too.
    {
        CReplacingFile file(dir.File("новий.fr3"));
        file.WriteAll("fr3", 3);
        file.Commit();
        CReplacingFile empty(dir.File("порожній"));
        empty.Commit();
    }
    EXPECT_EQ(ReadWholeFile(dir.File("новий.fr3")), "fr3");
    EXPECT_EQ(FileSize(dir.File("порожній")), 0);
}

TEST(CReplacingFile, AFileRewrittenByNameIsPutInPlaceOnCommitOrDropped) {
    CTempDir dir;
    const std::string target = dir.File("tessara-updater.exe");
    WriteFile(target, "old program");
    {
        CReplacingFile file(target);
        file.WriteAll("program", 7);
        const std::string temporary = file.CloseForRewrite();
        // Beside the target, in the same directory, with what was written so far.
        EXPECT_EQ(ExtractFileDir(temporary), dir.Path());
        EXPECT_EQ(ReadWholeFile(temporary), "program");
        WriteFile(temporary, "program with resources");  // as a resource updater rewrites it
        EXPECT_EQ(ReadWholeFile(target), "old program");
        file.Commit();
    }
    EXPECT_EQ(ReadWholeFile(target), "program with resources");
    EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"tessara-updater.exe"});
    {
        CReplacingFile file(target);
        WriteFile(file.CloseForRewrite(), "never committed");
    }
    EXPECT_EQ(ReadWholeFile(target), "program with resources");
    EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"tessara-updater.exe"});
}

TEST(CReplacingFile, ErrorsNameTheTargetAndLeaveNothingBehind) {
    CTempDir dir;
    const std::string nowhere = PathJoin(dir.File("немає"), "238.rar");
    try {
        CReplacingFile file(nowhere);
        FAIL() << "created a file in a missing directory";
    } catch (const CSystemError& e) {
        EXPECT_EQ(e.Code(), kErrorPathNotFound);
        EXPECT_EQ(std::string(e.what()), "Cannot create a file beside \"" + nowhere +
                                             "\": " + SystemMessage(kErrorPathNotFound));
    }

    // A directory in the target's place is not replaced.
    ASSERT_TRUE(MakeDirectory(dir.File("238.rar")));
    try {
        CReplacingFile file(dir.File("238.rar"));
        file.WriteAll("x", 1);
        file.Commit();
        FAIL() << "replaced a directory";
    } catch (const CSystemError& e) {
        EXPECT_NE(e.Code(), 0);
        EXPECT_EQ(std::string(e.what()),
                  "Cannot replace \"" + dir.File("238.rar") + "\": " + SystemMessage(e.Code()));
    }
    EXPECT_TRUE(DirectoryExists(dir.File("238.rar")));
    EXPECT_EQ(DirectoryEntries(dir.Path()), std::vector<std::string>{"238.rar"});
}

TEST(CFile, ReadsWritesAppendsAndReadsAtAnOffsetKeepingThePosition) {
    CTempDir dir;
    const std::string path = dir.File("журнал.log");
    {
        CFile file(path, CFile::Mode::WriteTruncate);
        file.WriteAll(
            "0123\0"
            "56789",
            10);
        EXPECT_EQ(file.Size(), 10);
        file.Close();
        file.Close();  // a second close does nothing
    }
    {
        CFile file(path, CFile::Mode::Append);
        CFile other(path, CFile::Mode::Append);  // appenders share the file
        file.WriteAll("ab", 2);
        other.WriteAll("cd", 2);
    }
    EXPECT_EQ(ReadWholeFile(path), std::string("0123\0"
                                               "56789abcd",
                                               14));

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
    EXPECT_EQ(std::string(next, 2), std::string("3\0", 2));  // where the plain reads left off
    char beyond[8] = {};
    EXPECT_THROW(file.ReadAt(10, beyond, 8), CSystemError);  // past the end

    // The position moves with the owner; reads end with 0 at the end of the file.
    CFile moved(std::move(file));
    EXPECT_FALSE(file.IsOpen());
    char rest[16] = {};
    EXPECT_EQ(moved.Read(rest, sizeof rest), 9u);
    EXPECT_EQ(std::string(rest, 9), "56789abcd");
    EXPECT_EQ(moved.Read(rest, sizeof rest), 0u);

    // Truncation empties the file.
    CFile(path, CFile::Mode::WriteTruncate).Close();
    EXPECT_EQ(FileSize(path), 0);
    EXPECT_FALSE(CFile().IsOpen());
}

TEST(CFile, OpensDirectoriesAndRefusesWhatIsNone) {
    CTempDir dir;
    EXPECT_EQ(CFile(dir.Path(), CFile::Mode::Directory).GetKind(), CFile::Kind::Directory);
    WriteFile(dir.File("file"), "x");
    EXPECT_THROW(CFile(dir.File("file"), CFile::Mode::Directory), CSystemError);
    // A directory is no file to write.
    EXPECT_THROW(CFile(dir.Path(), CFile::Mode::WriteTruncate), CSystemError);
}

TEST(CFile, ErrorsCarryCodePathAndText) {
    CTempDir dir;
    const std::string missing = dir.File("немає.txt");
    try {
        CFile file(missing, CFile::Mode::Read);
        FAIL() << "a missing file opened";
    } catch (const CSystemError& e) {
        EXPECT_EQ(e.Code(), kErrorFileNotFound);
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open \"" + missing + "\": " + SystemMessage(kErrorFileNotFound));
    }
    const std::string nowhere = PathJoin(dir.File("немає"), "file.txt");
    try {
        CFile file(nowhere, CFile::Mode::WriteTruncate);
        FAIL() << "opened a file in a missing directory";
    } catch (const CSystemError& e) {
        EXPECT_EQ(e.Code(), kErrorPathNotFound);
        EXPECT_NE(std::string(e.what()).find(nowhere), std::string::npos) << e.what();
    }
    EXPECT_THROW(ReadWholeFile(missing), CSystemError);
}

// A program file replaced while it runs, as the updater replaces its own: Linux renames over it,
// Windows lets it be renamed aside; either way the new file is in place, the program runs on, and
// the next start removes what was moved aside.
TEST(CReplacingFile, ReplacesARunningProgramWhichRunsOn) {
    CTempDir dir;
    const std::string program = dir.File(ProgramFileName("tessara-updater"));
    ASSERT_TRUE(CopyFileReplace(BuiltProgram("test_helper"), program).Ok());
    const std::string release = dir.File("release");
    CChildProcess running;
    running.Start(program, BuildCommandLine({program, "until", release}), "");
    WriteFile(dir.File("нова версія"), "new updater");

    const CopyResult result = CopyFileReplace(dir.File("нова версія"), program);
    ASSERT_TRUE(result.Ok()) << result.code << " " << result.message;
    EXPECT_EQ(ReadFile(program), "new updater");
    EXPECT_FALSE(running.Wait(0));
#ifdef _WIN32
    EXPECT_EQ(OriginalOfMovedAside(result.movedAside), program);
    EXPECT_EQ(DirectoryEntries(dir.Path()).size(), 3u);
#else
    EXPECT_EQ(result.movedAside, "");
#endif
    WriteFile(release, "");
    ASSERT_TRUE(running.Wait(60000));
    EXPECT_EQ(running.ExitCode(), 0);  // the old program ran to its end

    const std::vector<MovedAsideFile> cleaned = CleanUpMovedAside(dir.Path());
    ASSERT_EQ(cleaned.size(), result.movedAside.empty() ? 0u : 1u);
    for (const MovedAsideFile& file : cleaned) {
        EXPECT_EQ(file.path, result.movedAside);
        EXPECT_EQ(file.fate, MovedAsideFile::Fate::Removed) << file.error;
    }
    EXPECT_EQ(DirectoryEntries(dir.Path()),
              (std::vector<std::string>{"release", "release.seen", ExtractFileName(program),
                                        "нова версія"}));
}

TEST(MovedAside, OnlyItsOwnNamesAreCleanedUpAndAnEmptyNameIsFilledAgain) {
    CTempDir dir;
    const std::string program = dir.File("tessara.exe");
    const std::string first = MovedAsideName(program);
    EXPECT_EQ(OriginalOfMovedAside(first), program);
    WriteFile(first, "aside 1");
    // Taken names are never reused: the same second gets a number.
    const std::string second = MovedAsideName(program);
    EXPECT_NE(second, first);
    EXPECT_EQ(OriginalOfMovedAside(second), program);
    WriteFile(second, "aside 2");
    WriteFile(program, "new");

    // A user's files that only look alike stay.
    const std::vector<std::string> others = {"tessara.exe.old-2026",
                                             "tessara.exe.old-20260503142205x",
                                             "tessara.exe.old-20260503142205-",
                                             ".old-20260503142205",
                                             "notes.old-draft",
                                             "tessara.exe.old-2026050314220a"};
    for (const std::string& name : others) {
        EXPECT_EQ(OriginalOfMovedAside(dir.File(name)), "") << name;
        WriteFile(dir.File(name), "user's");
    }
    // The name emptied by a process that ended between the two renames: the newest goes back.
    const std::string archiver = dir.File("rar.exe");
    WriteFile(archiver + ".old-20260503142205", "archiver, newest");
    WriteFile(archiver + ".old-20260503142100-2", "archiver, older");
    ASSERT_TRUE(MakeDirectory(dir.File("Reports.old-20260503142205")));

    std::vector<std::pair<std::string, MovedAsideFile::Fate>> fates;
    for (const MovedAsideFile& file : CleanUpMovedAside(dir.Path())) {
        fates.emplace_back(ExtractFileName(file.path), file.fate);
        EXPECT_EQ(OriginalOfMovedAside(file.path), file.original);
    }
    using Fate = MovedAsideFile::Fate;
    EXPECT_EQ(fates, (std::vector<std::pair<std::string, Fate>>{
                         {ExtractFileName(second), Fate::Removed},
                         {ExtractFileName(first), Fate::Removed},
                         {"rar.exe.old-20260503142205", Fate::Restored},
                         {"rar.exe.old-20260503142100-2", Fate::Removed}}));
    EXPECT_EQ(ReadFile(archiver), "archiver, newest");
    EXPECT_EQ(ReadFile(program), "new");
    std::vector<std::string> left = others;
    left.insert(left.end(), {"Reports.old-20260503142205", "rar.exe", "tessara.exe"});
    std::sort(left.begin(), left.end());
    EXPECT_EQ(DirectoryEntries(dir.Path()), left);
}
