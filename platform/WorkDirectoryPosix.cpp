#include "platform/WorkDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

WorkDirectoryState InspectWorkDirectory(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return WorkDirectoryState::Missing;
    }
    if (S_ISLNK(info.st_mode) || info.st_uid != geteuid()) {
        return WorkDirectoryState::Unsafe;
    }
    return WorkDirectoryState::Owned;
}

void RestrictToOwner(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        chmod(path.c_str(), S_IRWXU);
    }
}
