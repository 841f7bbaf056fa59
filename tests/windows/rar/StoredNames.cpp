// SafeComponents and JoinComponents are those of tools/rar/SafeExtract.cpp, whose other parts are
// POSIX-only.

#include "tests/windows/rar/StoredNames.h"

#include <cctype>

#include "platform/Text.h"
#include "tools/rar/ArchiveListing.h"

namespace {

bool IsDriveComponent(const std::string& part) {
    return part.size() >= 2 && std::isalpha(static_cast<unsigned char>(part[0])) && part[1] == ':';
}

bool IsDeviceName(const std::string& component) {
    const std::string stem = LowerAscii(component.substr(0, component.find('.')));
    static const char* const kDevices[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (const char* device : kDevices) {
        if (stem == device) {
            return true;
        }
    }
    // COM1 to COM9 and LPT1 to LPT9.
    return stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) &&
           stem[3] >= '1' && stem[3] <= '9';
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

std::vector<std::string> SafeWindowsComponents(const std::string& storedName) {
    std::vector<std::string> components = SafeComponents(storedName);
    const std::string quoted = "\"" + storedName + "\"";
    for (const std::string& part : components) {
        for (const char c : part) {
            if (static_cast<unsigned char>(c) < 0x20 ||
                std::string_view("<>:\"|?*").find(c) != std::string_view::npos) {
                throw CArchiveError("Refusing the archive: entry " + quoted +
                                    " has a character Windows does not allow in a name");
            }
        }
        if (part.back() == '.' || part.back() == ' ') {
            throw CArchiveError("Refusing the archive: entry " + quoted +
                                " has a name ending in a dot or a blank");
        }
        if (IsDeviceName(part)) {
            throw CArchiveError("Refusing the archive: entry " + quoted + " names a device");
        }
    }
    return components;
}
