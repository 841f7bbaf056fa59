// What only POSIX lock files have: their mode, links, another user's file, and the users of a
// suite taking its lock in turn.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileLock.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

TEST(PosixFileLock, TheLockFileIsPrivate) {
    CTempDir dir;
    const std::string path = dir.File("suite.lock");
    CFileLock lock;
    ASSERT_TRUE(lock.TryAcquire(path));
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(PosixFileLock, RefusesAFileThatSomeoneElseControls) {
    CTempDir dir;
    WriteFile(dir.File("target"), "a file the link points to");
    ASSERT_EQ(symlink(dir.File("target").c_str(), dir.File("link.lock").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("absent").c_str(), dir.File("dangling.lock").c_str()), 0);
    ASSERT_TRUE(MakeDirectory(dir.File("dir.lock")));
    const auto expectRefused = [](const std::string& path, int code, const std::string& text) {
        CFileLock lock;
        try {
            lock.TryAcquire(path);
            ADD_FAILURE() << "locked " << path;
        } catch (const CSystemError& e) {
            EXPECT_EQ(e.Code(), code) << e.what();
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
        }
        EXPECT_FALSE(lock.IsHeld());
    };
    expectRefused(dir.File("link.lock"), ELOOP, "symbolic link");
    expectRefused(dir.File("dangling.lock"), ELOOP, "symbolic link");
    EXPECT_FALSE(FileExists(dir.File("absent")));  // nothing created through the link
    expectRefused(dir.File("dir.lock"), EISDIR, "Is a directory");
    expectRefused(dir.File("missing/x.lock"), ENOENT, "No such file");
    EXPECT_EQ(ReadFile(dir.File("target")), "a file the link points to");

    if (geteuid() == 0) {
        WriteFile(dir.File("theirs.lock"), "");
        ASSERT_EQ(chown(dir.File("theirs.lock").c_str(), 65534, 65534), 0);
        expectRefused(dir.File("theirs.lock"), EPERM, "another user");
    }
    // A lock that the users of a directory share refuses links and directories all the same.
    CFileLock shared;
    EXPECT_THROW(shared.TryAcquire(dir.File("link.lock"), CFileLock::Holders::DirectoryUsers),
                 CSystemError);
    EXPECT_THROW(shared.TryAcquire(dir.File("dir.lock"), CFileLock::Holders::DirectoryUsers),
                 CSystemError);
    EXPECT_FALSE(shared.IsHeld());
}

TEST(PosixFileLock, TheUsersOfASuiteTakeItsLockInTurn) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as a second user";
    }
    CTempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const std::string path = dir.File("tessara-updater.lock");
    // Whether user 65534 can take the lock that root created: 0 yes, 1 held, 2 refused.
    const auto otherUserTakes = [&](CFileLock::Holders holders) {
        const pid_t pid = fork();
        if (pid == 0) {
            int status = 2;
            try {
                if (setgid(65534) == 0 && setuid(65534) == 0) {
                    CFileLock lock;
                    status = lock.TryAcquire(path, holders) ? 0 : 1;
                }
            } catch (...) {
            }
            _exit(status);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    {
        CFileLock rootsLock;
        ASSERT_TRUE(rootsLock.TryAcquire(path, CFileLock::Holders::DirectoryUsers));
        EXPECT_EQ(otherUserTakes(CFileLock::Holders::DirectoryUsers), 1);
    }
    EXPECT_EQ(otherUserTakes(CFileLock::Holders::DirectoryUsers), 0);
    // A private lock file of root's is never another user's to take.
    EXPECT_EQ(otherUserTakes(CFileLock::Holders::CurrentUser), 2);
}
