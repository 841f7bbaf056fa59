// Windows has no import library for the suite's Firebird client: fbclient.dll is loaded when the
// first database call needs it, from the program directory first (the suite ships its client and
// engine there), then by name from the system's search path. Only fb_get_master_interface is
// needed; everything else comes through the master interface.

#include "db/Client.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/Paths.h"
#include "platform/SystemCodePage.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"

namespace {

constexpr char kClientLibrary[] = "fbclient.dll";
constexpr char kMasterFunction[] = "fb_get_master_interface";
using MasterFunction = decltype(&Firebird::fb_get_master_interface);

// The system's text for a loader error. Some texts name the file through an insert that
// FormatMessage leaves as it is ("%1 is not a valid Win32 application").
std::string LoaderMessage(DWORD code, const std::string& path) {
    std::string text = SystemMessage(static_cast<int>(code));
    const size_t insert = text.find("%1");
    if (insert != std::string::npos) {
        text.replace(insert, 2, path);
    }
    return text;
}

[[noreturn]] void ThrowLoaderError(DWORD code, const std::string& what, const std::string& path) {
    throw CSystemError(static_cast<int>(code), what + ": " + LoaderMessage(code, path));
}

std::string ModulePath(HMODULE module) {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH * 4);
    return length == 0 ? std::string(kClientLibrary) : ToUtf8(std::wstring_view(buffer, length));
}

HMODULE LoadClientLibrary() {
    const std::string directory = ProgramDirectory();
    const std::string local = PathJoin(directory, kClientLibrary);
    const std::wstring localWide = ToUtf16(local);
    if (GetFileAttributesW(localWide.c_str()) != INVALID_FILE_ATTRIBUTES) {
        // Loaded by its full path with the altered search order, so that the engine and the ICU
        // libraries beside it are found in its own directory before anywhere else.
        HMODULE module = LoadLibraryExW(localWide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (module == nullptr) {
            const DWORD code = GetLastError();
            ThrowLoaderError(
                code,
                "Cannot load the Firebird client library " + local +
                    (code == ERROR_MOD_NOT_FOUND ? " (a library it needs is missing)" : ""),
                local);
        }
        return module;
    }
    // The current directory is left out of the search: a DLL planted in whatever directory the
    // updater was started from must not be loaded.
    SetDllDirectoryW(L"");
    HMODULE module = LoadLibraryW(ToUtf16(kClientLibrary).c_str());
    if (module == nullptr) {
        const DWORD code = GetLastError();
        if (code == ERROR_MOD_NOT_FOUND) {
            ThrowLoaderError(code,
                             std::string("The Firebird client library ") + kClientLibrary +
                                 " is neither in " + directory + " nor on the system's search path",
                             kClientLibrary);
        }
        ThrowLoaderError(code,
                         std::string("Cannot load the Firebird client library ") + kClientLibrary +
                             " from the system's search path",
                         kClientLibrary);
    }
    return module;
}

Firebird::IMaster* LoadMaster() {
    HMODULE module = LoadClientLibrary();
    const FARPROC address = GetProcAddress(module, kMasterFunction);
    if (address == nullptr) {
        const DWORD code = GetLastError();
        const std::string path = ModulePath(module);
        FreeLibrary(module);
        ThrowLoaderError(
            code, "The library " + path + " is no Firebird client: it lacks " + kMasterFunction,
            path);
    }
    // Through the generic function pointer type, which GCC accepts from FARPROC without a
    // warning about incompatible function types.
    const auto master = reinterpret_cast<MasterFunction>(reinterpret_cast<void (*)()>(address));
    // The library stays loaded until the process ends: the master interface lives in it.
    return master();
}

}  // namespace

std::string ClientTextToUtf8(std::string text) {
    // Line by line: one message joins the items of a status vector, and each item has its own
    // source ("Unable to complete network request to host" with the name in the ANSI code page,
    // then the server's UTF-8).
    std::string converted;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        converted += FromSystemCodePage(std::string_view(text).substr(start, end - start));
        if (end < text.size()) {
            converted += '\n';
        }
        start = end + 1;
    }
    return converted;
}

Firebird::IMaster* FbMaster() {
    // A load that throws leaves the variable uninitialised: the next call tries again.
    static Firebird::IMaster* const master = LoadMaster();
    return master;
}
