#include "platform/Paths.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/SystemError.h"

const char kPathSeparator = '/';

std::string ProgramFileName(const std::string& name) {
    return name;
}

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

std::string TempPath() {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string path = (tmpdir != nullptr && *tmpdir != '\0') ? tmpdir : "/tmp";
    if (path.front() != kPathSeparator) {
        // The archiver runs in the work directory: a relative path would name another place
        // there, so it is taken from the current directory now.
        path = std::filesystem::absolute(path).string();
    }
    if (path.back() != kPathSeparator) {
        path += kPathSeparator;
    }
    return path;
}
