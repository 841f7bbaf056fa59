// The programs that hold a file open, asked of the Restart Manager.

#include "platform/Win32FileHolders.h"

#include <windows.h>
// The Restart Manager's types; its functions are loaded at run time, from the system's directory.
#include <restartmanager.h>

#include "platform/Paths.h"
#include "platform/Utf16.h"

namespace {

// A function of rstrtmgr.dll by its type.
template <typename Function>
Function RestartManagerFunction(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The program file's name of a process, without its directory; empty when it cannot be read.
std::string ImageNameOf(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) {
        return {};
    }
    std::wstring path(MAX_PATH, L'\0');
    auto size = static_cast<DWORD>(path.size());
    const BOOL ok = QueryFullProcessImageNameW(process, 0, path.data(), &size);
    CloseHandle(process);
    if (!ok) {
        return {};
    }
    path.resize(size);
    return ExtractFileName(ToUtf8(path));
}

}  // namespace

std::vector<FileHolder> HoldersOf(const std::string& path) {
    HMODULE module = LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        return {};
    }
    const auto start =
        RestartManagerFunction<DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*)>(module, "RmStartSession");
    const auto end = RestartManagerFunction<DWORD(WINAPI*)(DWORD)>(module, "RmEndSession");
    const auto registerFiles =
        RestartManagerFunction<DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT,
                                              LPCWSTR*)>(module, "RmRegisterResources");
    const auto getList =
        RestartManagerFunction<DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*)>(
            module, "RmGetList");
    std::vector<FileHolder> holders;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (start != nullptr && end != nullptr && registerFiles != nullptr && getList != nullptr &&
        start(&session, 0, key) == ERROR_SUCCESS) {
        const std::wstring wide = ToUtf16(path);
        LPCWSTR files[] = {wide.c_str()};
        if (registerFiles(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
            std::vector<RM_PROCESS_INFO> found;
            UINT needed = 0;
            UINT count = 0;
            DWORD reasons = 0;
            DWORD result = ERROR_MORE_DATA;
            // The list may grow between the call that sizes it and the one that fills it.
            for (int tries = 0; tries < 3 && result == ERROR_MORE_DATA; ++tries) {
                found.resize(needed);
                count = needed;
                result = getList(session, &needed, &count, found.empty() ? nullptr : found.data(),
                                 &reasons);
            }
            for (UINT i = 0; result == ERROR_SUCCESS && i < count && i < found.size(); ++i) {
                const DWORD id = found[i].Process.dwProcessId;
                std::string name = ImageNameOf(id);
                if (name.empty()) {
                    name = ToUtf8(found[i].strAppName);
                }
                holders.push_back({name, id});
            }
        }
        end(session);
    }
    FreeLibrary(module);
    return holders;
}
