#include "tools/rar/SafeExtract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tools/rar/XadArchive.h"

namespace {

std::string SystemText() {
    return std::strerror(errno);
}

// Owner of a directory descriptor opened on the way down a path.
class CDirFd {
  public:
    explicit CDirFd(int fd) : m_fd(fd) {}
    ~CDirFd() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    CDirFd(CDirFd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    CDirFd& operator=(CDirFd&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    CDirFd(const CDirFd&) = delete;
    CDirFd& operator=(const CDirFd&) = delete;
    int Get() const { return m_fd; }

  private:
    int m_fd;
};

// Opens the directory `first`..`last` components below `rootFd`, refusing links; creates the
// missing ones when `create` is set.
CDirFd OpenDirectories(int rootFd, const std::vector<std::string>& components, size_t count,
                       bool create) {
    CDirFd current(dup(rootFd));
    if (current.Get() < 0) {
        throw CArchiveError("Cannot open a directory: " + SystemText());
    }
    for (size_t i = 0; i < count; ++i) {
        const std::string& part = components[i];
        if (create && mkdirat(current.Get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
            throw CArchiveError(
                "Cannot create directory " +
                JoinComponents(
                    {components.begin(), components.begin() + static_cast<std::ptrdiff_t>(i) + 1}) +
                ": " + SystemText());
        }
        CDirFd next(
            openat(current.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.Get() < 0) {
            const bool inTheWay = errno == ELOOP || errno == ENOTDIR;
            throw CArchiveError(
                (inTheWay ? "Not a directory (a link or a file is in the way): "
                          : "Cannot open directory ") +
                JoinComponents(
                    {components.begin(), components.begin() + static_cast<std::ptrdiff_t>(i) + 1}) +
                (inTheWay ? std::string() : ": " + SystemText()));
        }
        current = std::move(next);
    }
    return current;
}

bool IsDriveComponent(const std::string& part) {
    return part.size() >= 2 && std::isalpha(static_cast<unsigned char>(part[0])) && part[1] == ':';
}

}  // namespace

std::string JoinComponents(const std::vector<std::string>& components) {
    std::string joined;
    for (const std::string& part : components) {
        if (!joined.empty()) {
            joined += '/';
        }
        joined += part;
    }
    return joined;
}

std::vector<std::string> SafeComponents(const std::string& storedName) {
    const std::string quoted = "\"" + storedName + "\"";
    if (storedName.find('\0') != std::string::npos) {
        throw CArchiveError("Refusing the archive: entry " + quoted + " has a NUL in its name");
    }
    if (!storedName.empty() && (storedName[0] == '/' || storedName[0] == '\\')) {
        throw CArchiveError("Refusing the archive: entry " + quoted + " has an absolute path");
    }
    std::vector<std::string> components;
    size_t start = 0;
    while (start <= storedName.size()) {
        size_t end = storedName.find_first_of("/\\", start);
        if (end == std::string::npos) {
            end = storedName.size();
        }
        const std::string part = storedName.substr(start, end - start);
        if (part == "..") {
            throw CArchiveError("Refusing the archive: entry " + quoted +
                                " has a \"..\" component");
        }
        if (components.empty() && IsDriveComponent(part)) {
            throw CArchiveError("Refusing the archive: entry " + quoted +
                                " has an absolute path (a drive)");
        }
        if (!part.empty() && part != ".") {
            components.push_back(part);
        }
        start = end + 1;
    }
    if (components.empty()) {
        throw CArchiveError("Refusing the archive: entry " + quoted + " names no file");
    }
    return components;
}

CStagingDir::CStagingDir() {
    char name[] = ".rar-XXXXXX";
    if (mkdtemp(name) == nullptr) {  // mkdtemp creates it with mode 0700
        throw CArchiveError("Cannot create a working directory in the current directory: " +
                            SystemText());
    }
    m_name = name;
    m_fd = open(name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_fd < 0) {
        const std::string text = SystemText();
        rmdir(name);
        throw CArchiveError("Cannot open the working directory: " + text);
    }
}

CStagingDir::~CStagingDir() {
    close(m_fd);
    std::error_code ignored;
    std::filesystem::remove_all(m_name, ignored);  // does not follow links
}

void VerifyStagedFile(int rootFd, const std::vector<std::string>& components, uint64_t size) {
    const CDirFd parent = OpenDirectories(rootFd, components, components.size() - 1, false);
    struct stat info {};
    if (fstatat(parent.Get(), components.back().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        throw CArchiveError("Entry \"" + JoinComponents(components) + "\" was not extracted");
    }
    if (!S_ISREG(info.st_mode)) {
        throw CArchiveError("Entry \"" + JoinComponents(components) +
                            "\" was not extracted as a regular file");
    }
    if (static_cast<uint64_t>(info.st_size) != size) {
        throw CArchiveError("Entry \"" + JoinComponents(components) + "\" was extracted with " +
                            std::to_string(info.st_size) + " bytes instead of " +
                            std::to_string(size));
    }
}

void CreateDirectories(int rootFd, const std::vector<std::string>& components) {
    OpenDirectories(rootFd, components, components.size(), true);
}

void MoveIntoPlace(int fromFd, int toFd, const std::vector<std::string>& components) {
    const size_t parents = components.size() - 1;
    const CDirFd from = OpenDirectories(fromFd, components, parents, false);
    const CDirFd to = OpenDirectories(toFd, components, parents, true);
    const char* name = components.back().c_str();
    if (renameat(from.Get(), name, to.Get(), name) != 0) {
        throw CArchiveError("Cannot write \"" + JoinComponents(components) + "\": " + SystemText());
    }
}
