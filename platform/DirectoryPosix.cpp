#include "platform/Directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/Paths.h"
#include "platform/SystemError.h"

namespace {

CFile OpenCreating(const std::string& path) {
    // An existing entry is taken as it is; CFile refuses a link or anything but a directory.
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
        ThrowLastError("Cannot create the directory \"" + path + "\"");
    }
    try {
        return CFile(path, CFile::Mode::Directory);
    } catch (const CSystemError&) {
        // O_NOFOLLOW with O_DIRECTORY says "not a directory" of a link to one.
        if (InspectEntry(path) == EntryKind::Link) {
            throw CSystemError(ELOOP, "Cannot open \"" + path + "\": it is a symbolic link");
        }
        throw;
    }
}

}  // namespace

CDirectory::CDirectory(const std::string& path) : m_directory(OpenCreating(path)) {}

CFile CDirectory::CreateNew(const std::string& name) {
    const std::string path = PathJoin(Path(), name);
    const int fd = openat(m_directory.Native(), name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        ThrowLastError("Cannot create \"" + path + "\"");
    }
    return CFile::Adopt(fd, path);
}

std::vector<DirectoryEntry> CDirectory::Files() const {
    std::vector<DirectoryEntry> files;
    // fdopendir takes the descriptor over: it gets a copy of its own.
    const int copy = fcntl(m_directory.Native(), F_DUPFD_CLOEXEC, 0);
    DIR* listing = copy >= 0 ? fdopendir(copy) : nullptr;
    if (listing == nullptr) {
        if (copy >= 0) {
            close(copy);
        }
        ThrowLastError("Cannot list \"" + Path() + "\"");
    }
    rewinddir(listing);
    while (const dirent* entry = readdir(listing)) {
        struct stat info {};
        if (fstatat(m_directory.Native(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode)) {
            files.push_back({entry->d_name, static_cast<int64_t>(info.st_size)});
        }
    }
    closedir(listing);
    std::sort(files.begin(), files.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return files;
}

bool CDirectory::Remove(const std::string& name) {
    return unlinkat(m_directory.Native(), name.c_str(), 0) == 0;
}
