#include "platform/Processes.h"

#include <windows.h>

#include <tlhelp32.h>

#include "platform/Utf16.h"
#include "platform/Win32Handle.h"

std::vector<std::string> RunningImageNames() {
    std::vector<std::string> names;
    const CWin32Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) {
        return names;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (entry.szExeFile[0] != L'\0') {
            names.push_back(ToUtf8(entry.szExeFile));
        }
    }
    return names;
}

bool SameImageName(const std::string& a, const std::string& b) {
    // Compared as Windows compares file names: case ignored beyond ASCII as well.
    const std::wstring wideA = ToUtf16(a);
    const std::wstring wideB = ToUtf16(b);
    return CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                                static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

int CurrentProcessId() {
    return static_cast<int>(GetCurrentProcessId());
}

bool IsProcessIdRunning(int processId) {
    if (processId <= 0) {
        return false;
    }
    const CWin32Handle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(processId)));
    if (!process.IsValid()) {
        // A process of another user that this one may not look at exists all the same.
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    DWORD code = 0;
    return GetExitCodeProcess(process.Get(), &code) && code == STILL_ACTIVE;
}

std::string LocalHostName() {
    wchar_t name[256] = {};
    DWORD size = 256;
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size)) {
        return {};
    }
    return ToUtf8(std::wstring_view(name, size));
}
