#include "tests/windows/rar/WindowsNames.h"

#include <cctype>

#include "platform/Text.h"
#include "tools/rar/ArchiveListing.h"

namespace {

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
