#include "platform/Processes.h"

#include <windows.h>

#include <tlhelp32.h>

#include "platform/Utf16.h"
#include "platform/Win32Handle.h"

namespace {

// Calls `visit` with the image name of every process in a snapshot; false when there is no
// snapshot to walk.
template <typename Visit>
bool ForEachImageName(Visit visit) {
    const CWin32Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) {
        return false;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (entry.szExeFile[0] != L'\0' && visit(entry.szExeFile)) {
            break;
        }
    }
    return true;
}

}  // namespace

std::vector<std::string> RunningImageNames() {
    std::vector<std::string> names;
    ForEachImageName([&](const wchar_t* name) {
        names.push_back(ToUtf8(name));
        return false;
    });
    return names;
}

bool IsProcessRunning(const std::string& imageName) {
    // Compared as Windows compares file names: whole, and without regard to case beyond ASCII.
    const std::wstring wanted = ToUtf16(imageName);
    bool found = false;
    ForEachImageName([&](const wchar_t* name) {
        found = CompareStringOrdinal(name, -1, wanted.c_str(), static_cast<int>(wanted.size()),
                                     TRUE) == CSTR_EQUAL;
        return found;
    });
    return found;
}
