#include "tools/rar/SafeExtract.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/SystemError.h"
#include "tools/rar/ArchiveListing.h"

namespace {

// Directories are opened without following a link in their place.
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string SystemText() {
    return SystemMessage(errno);
}

}  // namespace

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

CEntryTree::CEntryTree() : m_nodes(1) {}

void CEntryTree::Add(const std::vector<std::string>& components, bool isDirectory, uint64_t size) {
    size_t node = 0;
    for (size_t i = 0; i < components.size(); ++i) {
        if (!m_nodes[node].isDirectory) {
            throw CArchiveError(
                "Entry \"" +
                JoinComponents(
                    {components.begin(), components.begin() + static_cast<std::ptrdiff_t>(i)}) +
                "\" is both a file and a directory");
        }
        const auto [it, added] = m_index.try_emplace({node, components[i]}, m_nodes.size());
        if (added) {
            m_nodes[node].children.push_back(m_nodes.size());
            m_nodes.push_back(Node{components[i], true, 0, {}});
        }
        node = it->second;
    }
    Node& entry = m_nodes[node];
    if (!isDirectory && !entry.children.empty()) {
        throw CArchiveError("Entry \"" + JoinComponents(components) +
                            "\" is both a file and a directory");
    }
    entry.isDirectory = isDirectory;
    entry.size = isDirectory ? 0 : size;
}

uint64_t CEntryTree::FileBytes() const {
    uint64_t bytes = 0;
    for (const Node& node : m_nodes) {
        bytes += node.size;
    }
    return bytes;
}

std::string CEntryTree::PathOf(const std::vector<std::string>& parents,
                               const std::string& name) const {
    std::vector<std::string> path = parents;
    path.push_back(name);
    return JoinComponents(path);
}

bool CEntryTree::HoldsFiles(size_t node) const {
    for (const size_t child : m_nodes[node].children) {
        if (!m_nodes[child].isDirectory || HoldsFiles(child)) {
            return true;
        }
    }
    return false;
}

void CEntryTree::VerifyFiles(const CFile& root) const {
    std::vector<std::string> path;
    Verify(root.Native(), 0, path);
}

void CEntryTree::Verify(int dir, size_t node, std::vector<std::string>& path) const {
    for (const size_t index : m_nodes[node].children) {
        const Node& child = m_nodes[index];
        if (child.isDirectory) {
            const int sub = openat(dir, child.name.c_str(), kDirectoryFlags);
            if (sub < 0) {
                if (errno == ENOENT && !HoldsFiles(index)) {
                    continue;  // an empty directory is made at the target
                }
                throw CArchiveError("Entry \"" + PathOf(path, child.name) +
                                    "\" was not extracted as a directory");
            }
            const CFile owner = CFile::Adopt(sub, child.name);
            path.push_back(child.name);
            Verify(sub, index, path);
            path.pop_back();
            continue;
        }
        struct stat info {};
        // The entry's name is put together only for a message.
        const auto shown = [&] { return "Entry \"" + PathOf(path, child.name) + "\""; };
        if (fstatat(dir, child.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            throw CArchiveError(shown() + " was not extracted");
        }
        if (!S_ISREG(info.st_mode)) {
            throw CArchiveError(shown() + " was not extracted as a regular file");
        }
        if (static_cast<uint64_t>(info.st_size) != child.size) {
            throw CArchiveError(shown() + " was extracted with " + std::to_string(info.st_size) +
                                " bytes instead of " + std::to_string(child.size));
        }
    }
}

uint64_t CEntryTree::MissingBytes(const CFile& root) const {
    return Missing(root.Native(), 0);
}

uint64_t CEntryTree::Missing(int dir, size_t node) const {
    uint64_t missing = 0;
    for (const size_t index : m_nodes[node].children) {
        const Node& child = m_nodes[index];
        if (child.isDirectory) {
            const int sub = dir < 0 ? -1 : openat(dir, child.name.c_str(), kDirectoryFlags);
            const CFile owner = sub < 0 ? CFile() : CFile::Adopt(sub, child.name);
            missing += Missing(sub, index);  // without the directory, all of it is missing
            continue;
        }
        struct stat info {};
        const bool found = dir >= 0 &&
                           fstatat(dir, child.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                           S_ISREG(info.st_mode);
        const uint64_t arrived = found ? static_cast<uint64_t>(info.st_size) : 0;
        missing += arrived < child.size ? child.size - arrived : 0;
    }
    return missing;
}

bool CEntryTree::HoldsExactly(int dir, size_t node) const {
    const int listed = openat(dir, ".", kDirectoryFlags);
    DIR* stream = listed < 0 ? nullptr : fdopendir(listed);
    if (stream == nullptr) {
        if (listed >= 0) {
            close(listed);
        }
        return false;
    }
    size_t count = 0;
    bool exact = true;
    while (const dirent* item = readdir(stream)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        ++count;
        const auto it = m_index.find({node, name});
        if (it == m_index.end()) {
            exact = false;
            break;
        }
        // Files were verified as regular files; directories must hold exactly their entries.
        if (m_nodes[it->second].isDirectory) {
            const int sub = openat(dir, name.c_str(), kDirectoryFlags);
            if (sub < 0) {
                exact = false;
                break;
            }
            const CFile owner = CFile::Adopt(sub, name);
            if (!HoldsExactly(sub, it->second)) {
                exact = false;
                break;
            }
        }
    }
    closedir(stream);
    return exact && count == m_nodes[node].children.size();
}

void CEntryTree::MoveInto(const CFile& fromRoot, const CFile& toRoot) const {
    std::vector<std::string> path;
    Move(fromRoot.Native(), toRoot.Native(), 0, path);
}

void CEntryTree::Move(int from, int to, size_t node, std::vector<std::string>& path) const {
    for (const size_t index : m_nodes[node].children) {
        const Node& child = m_nodes[index];
        const char* name = child.name.c_str();
        if (!child.isDirectory) {
            if (renameat(from, name, to, name) != 0) {
                throw CArchiveError("Cannot write \"" + PathOf(path, child.name) +
                                    "\": " + SystemText());
            }
            continue;
        }
        const int staged = from < 0 ? -1 : openat(from, name, kDirectoryFlags);
        const CFile stagedOwner = staged < 0 ? CFile() : CFile::Adopt(staged, child.name);
        struct stat info {};
        if (staged >= 0 && fstatat(to, name, &info, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT &&
            HoldsExactly(staged, index) && renameat2(from, name, to, name, RENAME_NOREPLACE) == 0) {
            continue;
        }
        const std::string shown = PathOf(path, child.name);
        if (mkdirat(to, name, 0777) != 0 && errno != EEXIST) {
            throw CArchiveError("Cannot create directory " + shown + ": " + SystemText());
        }
        const int target = openat(to, name, kDirectoryFlags);
        if (target < 0) {
            const int code = errno;
            throw CArchiveError(code == ELOOP || code == ENOTDIR
                                    ? "Not a directory (a link or a file is in the way): " + shown
                                    : "Cannot open directory " + shown + ": " +
                                          SystemMessage(code));
        }
        const CFile targetOwner = CFile::Adopt(target, shown);
        path.push_back(child.name);
        Move(staged, target, index, path);
        path.pop_back();
    }
}

FreeSpace FreeSpaceOf(const CFile& directory) {
    struct statvfs info {};
    if (fstatvfs(directory.Native(), &info) != 0) {
        throw CArchiveError("Cannot read the free space of the file system: " + SystemText());
    }
    FreeSpace space;
    space.bytes = uint64_t{info.f_bavail} * info.f_frsize;
    // btrfs and others report no file count at all: their number of files is not limited.
    space.countsFiles = info.f_files != 0;
    space.files = info.f_favail;
    return space;
}
