// What only POSIX file systems have: modes, links, FIFOs, descriptors, errno texts, and the
// faults a test can make there (a file size limit, a file that fails on reading).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

}  // namespace

TEST(PosixFileQueries, TellFilesDirectoriesAndLinksApart) {
    CTempDir dir;
    WriteFile(dir.File("file"), "12345");
    ASSERT_TRUE(MakeDirectory(dir.File("sub")));
    ASSERT_EQ(symlink(dir.File("file").c_str(), dir.File("link-to-file").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("sub").c_str(), dir.File("link-to-dir").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("absent").c_str(), dir.File("dangling").c_str()), 0);

    EXPECT_TRUE(FileExists(dir.File("file")));
    EXPECT_FALSE(FileExists(dir.File("sub")));
    EXPECT_FALSE(FileExists(dir.File("absent")));
    EXPECT_TRUE(FileExists(dir.File("link-to-file")));
    EXPECT_FALSE(FileExists(dir.File("link-to-dir")));
    EXPECT_FALSE(FileExists(dir.File("dangling")));

    EXPECT_TRUE(DirectoryExists(dir.File("sub")));
    EXPECT_TRUE(DirectoryExists(dir.File("link-to-dir")));
    EXPECT_FALSE(DirectoryExists(dir.File("file")));

    EXPECT_TRUE(IsSymbolicLink(dir.File("link-to-dir")));
    EXPECT_TRUE(IsSymbolicLink(dir.File("dangling")));
    EXPECT_FALSE(IsSymbolicLink(dir.File("file")));
    EXPECT_FALSE(IsSymbolicLink(dir.File("absent")));

    EXPECT_EQ(FileSize(dir.File("file")), 5);
    EXPECT_EQ(FileSize(dir.File("absent")), -1);

    EXPECT_EQ(InspectEntry(dir.File("link-to-file")), EntryKind::Link);
    EXPECT_EQ(InspectEntry(dir.File("dangling")), EntryKind::Link);
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_EQ(InspectEntry(dir.File("fifo")), EntryKind::Other);
}

// Whoever planted a link or a FIFO at the name gets nothing written or read through it, and a
// FIFO does not make the open wait.
TEST(PosixFileOperations, AppendAndReadRegularRefuseLinksAndFifos) {
    CTempDir dir;
    const std::string target = dir.File("target");
    WriteFile(target, "private");
    ASSERT_EQ(symlink(target.c_str(), dir.File("link").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("absent").c_str(), dir.File("dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    for (const char* name : {"link", "dangling", "fifo"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(CFile(dir.File(name), CFile::Mode::Append), CSystemError);
        EXPECT_THROW(CFile(dir.File(name), CFile::Mode::ReadRegular), CSystemError);
    }
    EXPECT_EQ(ReadWholeFile(target), "private");
    EXPECT_FALSE(FileExists(dir.File("absent")));
    try {
        CFile(dir.File("link"), CFile::Mode::Append);
    } catch (const CSystemError& error) {
        EXPECT_EQ(error.Code(), ELOOP);
        EXPECT_NE(std::string(error.what()).find("symbolic link"), std::string::npos);
    }
}

TEST(PosixFileOperations, APrivateDirectoryIsItsOwnersAlone) {
    CTempDir dir;
    EXPECT_TRUE(CreatePrivateDirectory(dir.File("private")));
    EXPECT_EQ(ModeOf(dir.File("private")), 0700u);
}

TEST(PosixFileOperations, DeleteDirectoryContentsNeverFollowsALink) {
    CTempDir dir;
    const std::string work = dir.File("work");
    ASSERT_TRUE(MakeDirectory(work));
    ASSERT_TRUE(MakeDirectory(dir.File("outside")));
    WriteFile(dir.File("outside/theirs.txt"), "not ours");
    WriteFile(work + "/file", "f");
    WriteFile(work + "/.hidden", "h");
    ASSERT_TRUE(MakeDirectory(work + "/238.rar"));
    ASSERT_TRUE(MakeDirectory(work + "/238.rar/deep"));
    WriteFile(work + "/238.rar/deep/x", "x");
    chmod((work + "/238.rar/deep/x").c_str(), 0);  // a read-only file in a writable directory
    ASSERT_EQ(symlink(dir.File("outside").c_str(), (work + "/up").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("outside/theirs.txt").c_str(), (work + "/link").c_str()), 0);

    EXPECT_TRUE(DeleteDirectoryContents(work));
    EXPECT_TRUE(DirectoryEntries(work).empty());
    EXPECT_TRUE(DirectoryExists(work));
    EXPECT_EQ(ReadWholeFile(dir.File("outside/theirs.txt")), "not ours");
    EXPECT_TRUE(DeleteDirectoryContents(work));  // nothing left to delete
    EXPECT_FALSE(DeleteDirectoryContents(dir.File("absent")));
}

TEST(PosixFileOperations, RemoveFileInStepsCutsALargeFileFromItsEndButNeverFollowsALink) {
    CTempDir dir;
    constexpr int64_t kMiB = 1024 * 1024;
    const std::string package = dir.File("238.rar");
    WriteFile(package, "");
    ASSERT_EQ(truncate(package.c_str(), 200 * kMiB), 0);
    std::vector<int64_t> sizes;
    EXPECT_TRUE(RemoveFileInSteps(package, [&] { sizes.push_back(FileSize(package)); }));
    EXPECT_EQ(sizes, (std::vector<int64_t>{136 * kMiB, 72 * kMiB, 8 * kMiB}));
    EXPECT_FALSE(FileExists(package));

    // A small file goes at once; a link goes itself, and what it points to stays whole.
    const std::string small = dir.File("small.rar");
    WriteFile(small, "Rar!");
    const std::string target = dir.File("target.fdb");
    WriteFile(target, "");
    ASSERT_EQ(truncate(target.c_str(), 100 * kMiB), 0);
    ASSERT_EQ(symlink(target.c_str(), dir.File("link.rar").c_str()), 0);
    int steps = 0;
    EXPECT_TRUE(RemoveFileInSteps(small, [&] { ++steps; }));
    EXPECT_TRUE(RemoveFileInSteps(dir.File("link.rar"), [&] { ++steps; }));
    EXPECT_EQ(steps, 0);
    EXPECT_FALSE(FileExists(small));
    EXPECT_FALSE(IsSymbolicLink(dir.File("link.rar")));
    EXPECT_EQ(FileSize(target), 100 * kMiB);
    EXPECT_FALSE(RemoveFileInSteps(dir.File("missing.rar"), [&] { ++steps; }));
}

TEST(PosixCopyFileReplace, ReplacesAndKeepsPermissionsAndTimes) {
    CTempDir dir;
    const std::string program = dir.File("tessara.exe");
    WriteFile(program, std::string("new program\0bytes", 17));
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    const struct timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, program.c_str(), times, 0), 0);
    ASSERT_TRUE(MakeDirectory(dir.File("suite")));
    const std::string target = dir.File("suite/tessara.exe");
    WriteFile(target, "old program, longer than the new one");
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);

    const CopyResult result = CopyFileReplace(program, target);
    EXPECT_TRUE(result.Ok()) << result.message;
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(ReadWholeFile(target), std::string("new program\0bytes", 17));
    EXPECT_EQ(ModeOf(target), 0755u);
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(info.st_mtim.tv_nsec, 500);
    EXPECT_EQ(DirectoryEntries(dir.File("suite")), std::vector<std::string>{"tessara.exe"});

    // A new destination and an empty source.
    WriteFile(dir.File("empty.fr3"), "");
    EXPECT_TRUE(CopyFileReplace(dir.File("empty.fr3"), dir.File("suite/empty.fr3")).Ok());
    EXPECT_EQ(FileSize(dir.File("suite/empty.fr3")), 0);
}

TEST(PosixCopyFileReplace, ReportsErrorsWithCodeAndText) {
    CTempDir dir;
    WriteFile(dir.File("list.fr3"), "template");
    // The texts the journal shows for a failed copy.
    CopyResult result = CopyFileReplace(dir.File("list.fr3"), dir.File("Reports/list.fr3"));
    EXPECT_EQ(result.code, ENOENT);
    EXPECT_EQ(result.message, "No such file or directory");
    // A destination whose parent is a file.
    WriteFile(dir.File("plain"), "x");
    result = CopyFileReplace(dir.File("list.fr3"), dir.File("plain/list.fr3"));
    EXPECT_EQ(result.code, ENOTDIR);
    EXPECT_EQ(result.message, "Not a directory");
    EXPECT_EQ(DirectoryEntries(dir.Path()), (std::vector<std::string>{"list.fr3", "plain"}));
}

TEST(PosixCopyFileReplace, FailedCopyKeepsTheOldFile) {
    CTempDir dir;
    const std::string target = dir.File("tessara.exe");
    const std::string old = "the working program";
    WriteFile(target, old);

    // A directory named like a program (a package may hold one) cannot be copied.
    ASSERT_TRUE(MakeDirectory(dir.File("pkg.exe")));
    CopyResult result = CopyFileReplace(dir.File("pkg.exe"), target);
    EXPECT_EQ(result.code, EISDIR);
    EXPECT_EQ(result.message, "Is a directory");
    EXPECT_EQ(ReadWholeFile(target), old);

    // A source that fails on reading after the temporary file was made.
    result = CopyFileReplace("/proc/self/mem", target);
    EXPECT_EQ(result.code, EIO);
    EXPECT_EQ(ReadWholeFile(target), old);

    // A write that fails half-way: the file size limit stops the copy after 64 KiB of 1 MiB.
    const std::string big = dir.File("big.exe");
    WriteFile(big, std::string(1024 * 1024, 'N'));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    result = CopyFileReplace(big, target);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result.code, EFBIG);
    EXPECT_EQ(result.message, SystemMessage(EFBIG));
    EXPECT_EQ(ReadWholeFile(target), old);

    // No temporary file stays behind.
    EXPECT_EQ(DirectoryEntries(dir.Path()),
              (std::vector<std::string>{"big.exe", "pkg.exe", "tessara.exe"}));
}

TEST(PosixReplacingFile, ANewFileGetsTheModeOfAnyNewFile) {
    CTempDir dir;
    {
        CReplacingFile file(dir.File("fresh"));
        file.Commit();
    }
    const mode_t mask = umask(022);
    umask(mask);
    EXPECT_EQ(ModeOf(dir.File("fresh")), 0666u & ~mask);
}

// A range appended from another file: the kernel copies it between two files of one file
// system; from a source that is no regular file (the zero device) the bytes go through user
// space, and so does every later range of that output. Either way the caller gets the bytes that
// landed, and the file holds them.
TEST(PosixReplacingFile, AppendsRangesInTheKernelWhereItCanAndThroughUserSpaceElse) {
    CTempDir dir;
    const std::string bytes = RandomBytes(3 * 1024 * 1024 + 17, 26);
    WriteFile(dir.File("source"), bytes);
    const CFile source(dir.File("source"), CFile::Mode::Read);
    const CFile zeros("/dev/zero", CFile::Mode::Read);
    std::vector<char> landed(bytes.size());

    struct Step {
        const CFile& from;
        uint64_t offset;
        size_t size;
        uint64_t inKernel;  // bytes the kernel is expected to copy
        std::string expected;
    };
    const size_t half = bytes.size() / 2;
    const std::vector<Step> steps = {
        {source, 0, half, half, bytes.substr(0, half)},
        {source, half, bytes.size() - half, bytes.size() - half, bytes.substr(half)},
        {zeros, 0, 4096, 0, std::string(4096, '\0')},
        // The fallback, once taken, stays: the same regular source now goes through user space.
        {source, 5, 1000, 0, bytes.substr(5, 1000)},
    };
    std::string written;
    {
        CReplacingFile output(dir.File("target"));
        for (const Step& step : steps) {
            EXPECT_EQ(output.AppendFrom(step.from, step.offset, step.size, landed.data()),
                      step.inKernel);
            EXPECT_EQ(std::string(landed.data(), step.size), step.expected);
            written += step.expected;
        }
        output.Commit();
    }
    EXPECT_EQ(ReadWholeFile(dir.File("target")), written);

    // A source shorter than the range: the copy stops at its end and the read says so; nothing
    // appears under the target's name.
    try {
        CReplacingFile output(dir.File("short"));
        output.AppendFrom(source, bytes.size() - 10, 20, landed.data());
        FAIL() << "appended beyond the end of the source";
    } catch (const CSystemError& e) {
        EXPECT_EQ(e.Code(), EIO);
        EXPECT_NE(std::string(e.what()).find("unexpected end of file"), std::string::npos);
    }
    EXPECT_FALSE(FileExists(dir.File("short")));
}

TEST(PosixFile, OpensDirectoriesAndAdoptsDescriptors) {
    CTempDir dir;
    WriteFile(dir.File("file"), "x");
    ASSERT_TRUE(MakeDirectory(dir.File("sub")));
    ASSERT_EQ(symlink(dir.File("sub").c_str(), dir.File("link").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);

    const CFile sub(dir.File("sub"), CFile::Mode::Directory);
    EXPECT_EQ(sub.GetKind(), CFile::Kind::Directory);
    // Entries open relative to it.
    const int inner = openat(sub.Native(), "new", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(inner, 0);
    CFile::Adopt(inner, "new").WriteAll("made", 4);
    EXPECT_EQ(ReadWholeFile(dir.File("sub/new")), "made");

    // A link or a file in a directory's place is refused.
    try {
        CFile link(dir.File("link"), CFile::Mode::Directory);
        FAIL() << "opened a directory through a link";
    } catch (const CSystemError& e) {
        // Linux says ENOTDIR when O_DIRECTORY meets the link, other systems ELOOP.
        EXPECT_TRUE(e.Code() == ENOTDIR || e.Code() == ELOOP) << e.what();
    }
    try {
        CFile file(dir.File("file"), CFile::Mode::Directory);
        FAIL() << "opened a file as a directory";
    } catch (const CSystemError& e) {
        EXPECT_EQ(e.Code(), ENOTDIR);
    }

    EXPECT_EQ(CFile(dir.File("file"), CFile::Mode::Read).GetKind(), CFile::Kind::Regular);
    // Without a writer a FIFO opens at once and is neither a file nor a directory.
    EXPECT_EQ(CFile(dir.File("fifo"), CFile::Mode::ReadNonBlocking).GetKind(), CFile::Kind::Other);

    // An adopted pipe: the owner closes the write end, so the reader sees the end.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    CFile reader = CFile::Adopt(ends[0], "pipe");
    {
        CFile writer = CFile::Adopt(ends[1], "pipe");
        EXPECT_TRUE(writer.IsOpen());
        writer.WriteAll("through", 7);
    }
    char buffer[16];
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 7u);
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(CFile().IsOpen());
}

TEST(PosixFile, ErrorsCarryErrnoAndItsText) {
    CTempDir dir;
    try {
        CFile writer(dir.Path(), CFile::Mode::WriteTruncate);
        FAIL() << "opened a directory for writing";
    } catch (const CSystemError& e) {
        EXPECT_EQ(e.Code(), EISDIR);
    }
    errno = EACCES;
    try {
        ThrowLastError("Opening x");
    } catch (const CSystemError& e) {
        EXPECT_EQ(e.Code(), EACCES);
        EXPECT_STREQ(e.what(), "Opening x: Permission denied");
    }
}

TEST(PosixIniFile, ADeviceOrAPipeInPlaceOfTheFileReadsAsEmptyAtOnce) {
    CTempDir dir;
    EXPECT_EQ(CIniFile("/dev/zero").ReadInteger("Common", "TypeServer", 0), 0);
    ASSERT_EQ(mkfifo(dir.File("fifo.ini").c_str(), 0600), 0);
    EXPECT_EQ(CIniFile(dir.File("fifo.ini")).ReadInteger("Common", "TypeServer", 0), 0);
}
