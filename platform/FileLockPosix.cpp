#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/SystemError.h"

bool CFileLock::TryAcquire(const std::string& path, Holders holders) {
    Release();
    // O_NOFOLLOW: a link planted at the name is refused (ELOOP) instead of creating or locking
    // whatever it points to. flock needs no write access: a shared lock file is opened for
    // reading, which the users of its directory may do.
    const bool shared = holders == Holders::DirectoryUsers;
    const int fd = open(
        path.c_str(), (shared ? O_RDONLY : O_RDWR) | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
        shared ? 0644 : 0600);
    if (fd < 0) {
        const int code = errno;
        const std::string reason = code == ELOOP ? "it is a symbolic link" : SystemMessage(code);
        throw CSystemError(code, "Cannot open the lock file \"" + path + "\": " + reason);
    }
    CFile file = CFile::Adopt(fd, path);
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        ThrowLastError("Cannot query the lock file \"" + path + "\"");
    }
    if (!S_ISREG(info.st_mode)) {
        throw CSystemError(EINVAL, "The lock file \"" + path + "\" is not a regular file");
    }
    if (!shared && info.st_uid != geteuid()) {
        throw CSystemError(EPERM, "The lock file \"" + path + "\" belongs to another user");
    }
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return false;
        }
        if (errno != EINTR) {
            ThrowLastError("Cannot lock \"" + path + "\"");
        }
    }
    m_file = std::move(file);
    return true;
}

void CFileLock::Release() {
    // Closing the descriptor ends the lock; the file stays for the next updater, since removing
    // it would race with one that has just opened it.
    m_file = CFile();
}
