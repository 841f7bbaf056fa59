#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/Paths.h"
#include "platform/SystemError.h"

namespace {

[[noreturn]] void ThrowFileError(const std::string& action, const std::string& path) {
    const int code = errno;
    throw CSystemError(code, action + " \"" + path + "\": " + SystemMessage(code));
}

int OpenFlags(CFile::Mode mode) {
    switch (mode) {
        case CFile::Mode::Read:
            return O_RDONLY;
        case CFile::Mode::ReadNonBlocking:
            return O_RDONLY | O_NONBLOCK;
        // O_NONBLOCK: a FIFO at the name must not make the open wait for its other end.
        case CFile::Mode::ReadRegular:
            return O_RDONLY | O_NOFOLLOW | O_NONBLOCK;
        case CFile::Mode::WriteTruncate:
            return O_WRONLY | O_CREAT | O_TRUNC;
        case CFile::Mode::Append:
            return O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK;
        case CFile::Mode::Directory:
            return O_RDONLY | O_DIRECTORY | O_NOFOLLOW;
    }
    return O_RDONLY;
}

struct stat StatusOf(int fd, const std::string& path) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        ThrowFileError("Cannot query", path);
    }
    return info;
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsSymbolicLink(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

EntryKind InspectEntry(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return EntryKind::Missing;
    }
    if (S_ISLNK(info.st_mode)) {
        return EntryKind::Link;
    }
    return S_ISREG(info.st_mode)
               ? EntryKind::Regular
               : (S_ISDIR(info.st_mode) ? EntryKind::Directory : EntryKind::Other);
}

bool CreatePrivateDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0) {
        return false;
    }
    // The umask may only take bits away, but make sure the mode is exactly owner-only.
    return chmod(path.c_str(), 0700) == 0;
}

bool RemoveFile(const std::string& path) {
    // unlink refuses directories, as the Windows call does.
    return unlink(path.c_str()) == 0;
}

bool RemoveFileInSteps(const std::string& path, const std::function<void()>& afterStep) {
    // Cut from the end in steps of 64 MiB, each of which frees its blocks quickly; a link is
    // never followed, and a file that cannot be opened for writing is deleted at once.
    constexpr off_t kStep = 64 * 1024 * 1024;
    const int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        struct stat info {};
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
            for (off_t size = info.st_size - kStep; size > 0; size -= kStep) {
                if (ftruncate(fd, size) != 0) {
                    break;
                }
                afterStep();
            }
        }
        close(fd);
    }
    return RemoveFile(path);
}

bool RenameFile(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

int64_t FileSize(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return -1;
    }
    return static_cast<int64_t>(info.st_size);
}

bool RemoveEmptyDirectory(const std::string& path) {
    return rmdir(path.c_str()) == 0;
}

int64_t AvailableSpace(const std::string& directory) {
    struct statvfs info {};
    if (statvfs(directory.c_str(), &info) != 0) {
        return -1;
    }
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

CFile::CFile(const std::string& path, Mode mode) : m_path(path) {
    m_handle = open(path.c_str(), OpenFlags(mode) | O_CLOEXEC, 0666);
    const bool regularOnly = mode == Mode::ReadRegular || mode == Mode::Append;
    if (m_handle < 0) {
        if (regularOnly && errno == ELOOP) {
            throw CSystemError(ELOOP, "Cannot open \"" + path + "\": it is a symbolic link");
        }
        if (regularOnly && errno == ENXIO) {  // a FIFO without a reader, a socket
            throw CSystemError(ENXIO, "Cannot open \"" + path + "\": it is not a regular file");
        }
        ThrowFileError("Cannot open", path);
    }
    if (regularOnly && !S_ISREG(StatusOf(m_handle, path).st_mode)) {
        close(std::exchange(m_handle, -1));
        throw CSystemError(EINVAL, "Cannot open \"" + path + "\": it is not a regular file");
    }
}

CFile CFile::Adopt(NativeHandle descriptor, const std::string& path) {
    CFile file;
    file.m_handle = descriptor;
    file.m_path = path;
    return file;
}

CFile::~CFile() {
    if (m_handle >= 0) {
        close(m_handle);
    }
}

CFile::CFile(CFile&& other) noexcept
    : m_handle(std::exchange(other.m_handle, -1)), m_path(std::move(other.m_path)) {}

CFile& CFile::operator=(CFile&& other) noexcept {
    if (this != &other) {
        if (m_handle >= 0) {
            close(m_handle);
        }
        m_handle = std::exchange(other.m_handle, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

bool CFile::IsOpen() const {
    return m_handle >= 0;
}

size_t CFile::Read(void* buffer, size_t size) {
    for (;;) {
        const ssize_t got = read(m_handle, buffer, size);
        if (got >= 0) {
            return static_cast<size_t>(got);
        }
        if (errno != EINTR) {
            ThrowFileError("Cannot read", m_path);
        }
    }
}

void CFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t got = pread(m_handle, out, size, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowFileError("Cannot read", m_path);
        }
        if (got == 0) {
            throw CSystemError(EIO, "Cannot read \"" + m_path + "\": unexpected end of file");
        }
        out += got;
        offset += static_cast<uint64_t>(got);
        size -= static_cast<size_t>(got);
    }
}

void CFile::WriteAll(const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(m_handle, bytes, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowFileError("Cannot write", m_path);
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
}

int64_t CFile::Size() const {
    return static_cast<int64_t>(StatusOf(m_handle, m_path).st_size);
}

CFile::Kind CFile::GetKind() const {
    const mode_t mode = StatusOf(m_handle, m_path).st_mode;
    return S_ISREG(mode) ? Kind::Regular : (S_ISDIR(mode) ? Kind::Directory : Kind::Other);
}

void CFile::FlushToDisk() {
    if (fsync(m_handle) != 0) {
        ThrowFileError("Cannot write", m_path);
    }
}

void CFile::Close() {
    if (m_handle < 0) {
        return;
    }
    // The descriptor is gone after close() whatever it returns; never close it twice.
    if (close(std::exchange(m_handle, -1)) != 0 && errno != EINTR) {
        ThrowFileError("Cannot close", m_path);
    }
}

CReplacingFile::CReplacingFile(const std::string& targetPath) : m_targetPath(targetPath) {
    // O_EXCL never opens what someone else put there, a link included. The mode is that of any
    // new file (0666 less the umask); TakePermissionsOf changes it.
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        m_tempPath = TemporaryNameBeside(targetPath);
        // Readable as well: AppendFrom reads back what the kernel copied.
        fd = open(m_tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        ThrowFileError("Cannot create a file beside", targetPath);
    }
    m_file = CFile::Adopt(fd, targetPath);
}

uint64_t CReplacingFile::AppendFrom(const CFile& source, uint64_t offset, size_t size,
                                    char* landed) {
    const off_t position = lseek(m_file.Native(), 0, SEEK_CUR);
    if (position < 0) {
        ThrowFileError("Cannot write", m_targetPath);
    }
    const auto start = static_cast<uint64_t>(position);
    size_t copied = 0;
    while (m_kernelCopy && copied < size) {
        auto from = static_cast<off_t>(offset + copied);
        const ssize_t done =
            copy_file_range(source.Native(), &from, m_file.Native(), nullptr, size - copied, 0);
        if (done > 0) {
            copied += static_cast<size_t>(done);
        } else if (done == 0) {
            break;  // the source ends early: the read below says so
        } else if (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS ||
                   errno == EBADF || errno == EPERM) {
            // Not between these two files (or not on this kernel): the bytes go through here.
            m_kernelCopy = false;
        } else if (errno != EINTR) {
            ThrowFileError("Cannot write", m_targetPath);
        }
    }
    if (copied > 0) {
        m_file.ReadAt(start, landed, copied);
        NoteAppended(copied);
    }
    if (copied < size) {
        source.ReadAt(offset + copied, landed + copied, size - copied);
        WriteAll(landed + copied, size - copied);
    }
    return copied;
}

void CReplacingFile::TakePermissionsOf(const CFile& source) {
    if (fchmod(m_file.Native(), StatusOf(source.Native(), source.Path()).st_mode & 07777) != 0) {
        ThrowFileError("Cannot set the permissions of", m_targetPath);
    }
}

void CReplacingFile::TakeTimesOf(const CFile& source) {
    const struct stat info = StatusOf(source.Native(), source.Path());
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    futimens(m_file.Native(), times);
}

void CReplacingFile::Commit() {
    FlushAndClose();  // delayed write errors (disk full on NFS and the like) show up here
    if (rename(m_tempPath.c_str(), m_targetPath.c_str()) != 0) {
        ThrowFileError("Cannot replace", m_targetPath);
    }
    m_committed = true;
    // The rename is on the disk once the directory is: after a power failure the old file must
    // not come back while the database already says its package is complete. Best effort: the
    // new file is in place either way.
    const std::string dir = ExtractFileDir(m_targetPath);
    const int directory = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        close(directory);
    }
}

bool DeleteDirectoryContents(const std::string& dir) {
    namespace fs = std::filesystem;
    // The entries are listed first: deleting while iterating may skip some.
    std::error_code error;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(it->path());
    }
    bool complete = !error;
    for (const fs::path& entry : entries) {
        // remove_all looks at an entry with symlink_status: a link goes, not what it points to.
        std::error_code removeError;
        fs::remove_all(entry, removeError);
        complete = complete && !removeError;
    }
    return complete;
}
