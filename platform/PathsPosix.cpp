#include "platform/Paths.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/SystemError.h"

std::string ExecutablePath() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            ThrowLastError("Cannot read /proc/self/exe");
        }
        if (static_cast<size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(length));
        }
        buffer.resize(buffer.size() * 2);  // the link may have been cut: try a bigger buffer
    }
}

std::string ProgramDirectory() {
    return ExtractFileDir(ExecutablePath());
}

std::string ExtractFileDir(const std::string& path) {
    const size_t slash = path.rfind(kPathSeparator);
    if (slash == std::string::npos) {
        return std::string();
    }
    if (slash == 0) {
        return std::string(1, kPathSeparator);  // the root keeps its separator
    }
    return path.substr(0, slash);
}

std::string ExtractFileName(const std::string& path) {
    const size_t slash = path.rfind(kPathSeparator);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TempPath() {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string path = (tmpdir != nullptr && *tmpdir != '\0') ? tmpdir : "/tmp";
    if (path.back() != kPathSeparator) {
        path += kPathSeparator;
    }
    return path;
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
