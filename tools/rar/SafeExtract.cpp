#include "tools/rar/SafeExtract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/SystemError.h"
#include "tools/rar/XadArchive.h"

namespace {

std::string SystemText() {
    return SystemMessage(errno);
}

// Opens the directory of the first `count` components below `root`, refusing links; creates
// the missing ones when `create` is set.
CFile OpenDirectories(const CFile& root, const std::vector<std::string>& components, size_t count,
                      bool create) {
    const int first = dup(root.Descriptor());
    if (first < 0) {
        throw CArchiveError("Cannot open a directory: " + SystemText());
    }
    CFile current = CFile::Adopt(first, root.Path());
    for (size_t i = 0; i < count; ++i) {
        const std::string& part = components[i];
        const std::string path = JoinComponents(
            {components.begin(), components.begin() + static_cast<std::ptrdiff_t>(i) + 1});
        if (create && mkdirat(current.Descriptor(), part.c_str(), 0777) != 0 && errno != EEXIST) {
            throw CArchiveError("Cannot create directory " + path + ": " + SystemText());
        }
        const int next = openat(current.Descriptor(), part.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const int code = errno;
            throw CArchiveError(code == ELOOP || code == ENOTDIR
                                    ? "Not a directory (a link or a file is in the way): " + path
                                    : "Cannot open directory " + path + ": " + SystemMessage(code));
        }
        current = CFile::Adopt(next, path);
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
    try {
        m_dir = CFile(m_name, CFile::Mode::Directory);
    } catch (const CSystemError& error) {
        rmdir(name);
        throw CArchiveError("Cannot open the working directory: " + SystemMessage(error.Code()));
    }
}

CStagingDir::~CStagingDir() {
    m_dir = CFile();
    std::error_code ignored;
    std::filesystem::remove_all(m_name, ignored);  // does not follow links
}

void VerifyStagedFile(const CFile& root, const std::vector<std::string>& components,
                      uint64_t size) {
    const CFile parent = OpenDirectories(root, components, components.size() - 1, false);
    struct stat info {};
    if (fstatat(parent.Descriptor(), components.back().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
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

void CreateDirectories(const CFile& root, const std::vector<std::string>& components) {
    OpenDirectories(root, components, components.size(), true);
}

void MoveIntoPlace(const CFile& fromRoot, const CFile& toRoot,
                   const std::vector<std::string>& components) {
    const size_t parents = components.size() - 1;
    const CFile from = OpenDirectories(fromRoot, components, parents, false);
    const CFile to = OpenDirectories(toRoot, components, parents, true);
    const char* name = components.back().c_str();
    if (renameat(from.Descriptor(), name, to.Descriptor(), name) != 0) {
        throw CArchiveError("Cannot write \"" + JoinComponents(components) + "\": " + SystemText());
    }
}
