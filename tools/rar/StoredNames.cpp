#include "tools/rar/StoredNames.h"

#include <cctype>

#include "tools/rar/ArchiveListing.h"

namespace {

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
