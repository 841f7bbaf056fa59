#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/Paths.h"
#include "platform/SystemError.h"

namespace {

constexpr size_t kCopyBlock = 1024 * 1024;

std::string FileError(const std::string& action, const std::string& path, int code) {
    return action + " \"" + path + "\": " + SystemMessage(code);
}

// Writes all bytes, retrying short writes; false with errno set on failure.
bool WriteFully(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

ssize_t ReadSome(int fd, void* buffer, size_t size) {
    ssize_t got;
    do {
        got = read(fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

CopyResult Failure(int code) {
    return CopyResult{code, SystemMessage(code)};
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

bool CreateDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0;
}

bool CreatePrivateDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0) {
        return false;
    }
    // The umask may only take bits away, but make sure the mode is exactly owner-only.
    return chmod(path.c_str(), 0700) == 0;
}

bool DeleteFile(const std::string& path) {
    // unlink refuses directories, as the Windows call does.
    return unlink(path.c_str()) == 0;
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

CopyResult CopyFileReplace(const std::string& from, const std::string& to) {
    const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        return Failure(errno);
    }
    struct stat sourceInfo {};
    if (fstat(source, &sourceInfo) != 0) {
        const int code = errno;
        close(source);
        return Failure(code);
    }
    if (S_ISDIR(sourceInfo.st_mode)) {
        close(source);
        return Failure(EISDIR);
    }

    // The temporary file lies beside the destination so that the final rename stays within one
    // file system and is atomic. A missing destination directory fails here (ENOENT).
    const std::string dir = ExtractFileDir(to);
    std::string tempPath =
        PathJoin(dir.empty() ? "." : dir, "." + ExtractFileName(to) + ".tmpXXXXXX");
    const int target = mkostemp(tempPath.data(), O_CLOEXEC);
    if (target < 0) {
        const int code = errno;
        close(source);
        return Failure(code);
    }

    int code = 0;
    std::vector<char> buffer(kCopyBlock);
    for (;;) {
        const ssize_t got = ReadSome(source, buffer.data(), buffer.size());
        if (got < 0) {
            code = errno;
            break;
        }
        if (got == 0) {
            break;
        }
        if (!WriteFully(target, buffer.data(), static_cast<size_t>(got))) {
            code = errno;
            break;
        }
    }
    close(source);
    if (code == 0 && fchmod(target, sourceInfo.st_mode & 07777) != 0) {
        code = errno;
    }
    if (code == 0) {
        // Keep the source's times, as a copy on Windows does.
        const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
        futimens(target, times);
    }
    if (close(target) != 0 && code == 0) {
        code = errno;  // delayed write errors (disk full on NFS and the like) show up here
    }
    if (code == 0 && rename(tempPath.c_str(), to.c_str()) != 0) {
        code = errno;
    }
    if (code != 0) {
        unlink(tempPath.c_str());
        return Failure(code);
    }
    return CopyResult{};
}

CFile::CFile(const std::string& path, Mode mode) : m_path(path) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read:
            flags |= O_RDONLY;
            break;
        case Mode::ReadNonBlocking:
            flags |= O_RDONLY | O_NONBLOCK;
            break;
        case Mode::WriteTruncate:
            flags |= O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case Mode::Append:
            flags |= O_WRONLY | O_CREAT | O_APPEND;
            break;
    }
    m_fd = open(path.c_str(), flags, 0666);
    if (m_fd < 0) {
        const int code = errno;
        throw CSystemError(code, FileError("Cannot open", path, code));
    }
}

CFile::~CFile() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

CFile::CFile(CFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)) {}

CFile& CFile::operator=(CFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

size_t CFile::Read(void* buffer, size_t size) {
    const ssize_t got = ReadSome(m_fd, buffer, size);
    if (got < 0) {
        const int code = errno;
        throw CSystemError(code, FileError("Cannot read", m_path, code));
    }
    return static_cast<size_t>(got);
}

void CFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t got = pread(m_fd, out, size, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int code = errno;
            throw CSystemError(code, FileError("Cannot read", m_path, code));
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
    if (!WriteFully(m_fd, static_cast<const char*>(data), size)) {
        const int code = errno;
        throw CSystemError(code, FileError("Cannot write", m_path, code));
    }
}

int64_t CFile::Size() const {
    struct stat info {};
    if (fstat(m_fd, &info) != 0) {
        const int code = errno;
        throw CSystemError(code, FileError("Cannot query", m_path, code));
    }
    return static_cast<int64_t>(info.st_size);
}

void CFile::Close() {
    if (m_fd < 0) {
        return;
    }
    // The descriptor is gone after close() whatever it returns; never close it twice.
    const int result = close(std::exchange(m_fd, -1));
    if (result != 0 && errno != EINTR) {
        const int code = errno;
        throw CSystemError(code, FileError("Cannot close", m_path, code));
    }
}

std::string ReadWholeFile(const std::string& path) {
    CFile file(path, CFile::Mode::Read);
    std::string bytes;
    char buffer[64 * 1024];
    for (;;) {
        const size_t got = file.Read(buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        bytes.append(buffer, got);
    }
    return bytes;
}
