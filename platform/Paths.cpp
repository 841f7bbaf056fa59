#include "platform/Paths.h"

std::string ProgramDirectory() {
    return ExtractFileDir(ExecutablePath());
}

namespace {

constexpr char kAnySeparator[] = "\\/";
// Windows takes '/' as a separator as well.
#ifdef _WIN32
constexpr const char* kSeparators = kAnySeparator;
#else
constexpr const char* kSeparators = "/";
#endif

size_t LastSeparator(const std::string& path) {
    return path.find_last_of(kSeparators);
}

std::string NameAfter(const std::string& path, size_t slash) {
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string ExtractFileDir(const std::string& path) {
    const size_t slash = LastSeparator(path);
    if (slash == std::string::npos) {
        return std::string();
    }
    if (slash == 0) {
        return path.substr(0, 1);  // the root keeps its separator
    }
#ifdef _WIN32
    if (slash == 2 && path[1] == ':') {
        return path.substr(0, 3);  // so does a drive root: "C:\lib.exe" lies in "C:\"
    }
#endif
    return path.substr(0, slash);
}

std::string ExtractFileName(const std::string& path) {
    return NameAfter(path, LastSeparator(path));
}

std::string ExtractFileNameAnySeparator(const std::string& path) {
    return NameAfter(path, path.find_last_of(kAnySeparator));
}

std::string PathJoin(const std::string& dir, const std::string& name) {
    if (name.empty()) {
        return dir;
    }
    if (dir.empty()) {
        return name;
    }
    if (dir.back() == kPathSeparator) {
        return dir + name;
    }
    return dir + kPathSeparator + name;
}
