#include "tests/windows/WindowsTestSupport.h"

#include <windows.h>

#include <winioctl.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/SystemError.h"
#include "platform/Utf16.h"

bool PathExists(const std::string& path) {
    return GetFileAttributesW(ToUtf16(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// A junction (mount point) at the existing empty directory `link`, as "mklink /J" makes one.
bool MakeJunction(const std::string& link, const std::string& target) {
    if (!CreateDirectoryW(ToUtf16(link).c_str(), nullptr)) {
        return false;
    }
    CWin32Handle handle(CreateFileW(ToUtf16(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
    // REPARSE_DATA_BUFFER of a mount point: tag, data length, reserved, then the substitute
    // name ("\??\C:\...") and an empty print name, both null-terminated.
    const std::wstring substitute = L"\\??\\" + ToUtf16(target);
    const auto nameBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    std::vector<char> buffer(8 + 8 + nameBytes + 2 * sizeof(wchar_t));
    const auto put16 = [&](size_t at, WORD value) { std::memcpy(&buffer[at], &value, 2); };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buffer.data(), &tag, 4);
    put16(4, static_cast<WORD>(buffer.size() - 8));
    put16(8, 0);
    put16(10, nameBytes);
    put16(12, static_cast<WORD>(nameBytes + sizeof(wchar_t)));
    put16(14, 0);
    std::memcpy(&buffer[16], substitute.c_str(), nameBytes);
    DWORD returned = 0;
    if (handle.IsValid() &&
        DeviceIoControl(handle.Get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                        static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr)) {
        return true;
    }
    handle.Reset();  // an open directory cannot be removed
    RemoveDirectoryW(ToUtf16(link).c_str());
    return false;
}

// Under Wine: the Unix path of a Windows path; empty elsewhere.
std::string UnixName(const std::string& path) {
    using ToUnixName = char*(CDECL*)(LPCWSTR);
    const auto toUnix = reinterpret_cast<ToUnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) {
        return {};  // not Wine
    }
    char* name = toUnix(ToUtf16(path).c_str());
    const std::string text = name != nullptr ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

// Under Wine: "ln -s" on the Unix paths of both, started as Wine starts a Unix program.
bool MakeUnixLink(const std::string& link, const std::string& target) {
    if (UnixName(link).empty()) {
        return false;  // not Wine
    }
    // Wine gives no process handle to wait for with a Unix program: wait for the link instead.
    CStartedProgram ln("Z:\\bin\\ln", "-s \"" + UnixName(target) + "\" \"" + UnixName(link) + "\"");
    const std::wstring wideLink = ToUtf16(link);
    for (int waited = 0;
         waited < 5000 && GetFileAttributesW(wideLink.c_str()) == INVALID_FILE_ATTRIBUTES;
         waited += 20) {
        Sleep(20);
    }
    // Wine 8 shows a link to a directory as a reparse point, but a link to a file as the file.
    const DWORD attributes = GetFileAttributesW(wideLink.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return true;
    }
    DeleteFileW(wideLink.c_str());
    return false;
}

}  // namespace

bool MakeUnixFileLink(const std::string& link, const std::string& target) {
    if (UnixName(link).empty()) {
        return false;
    }
    CStartedProgram ln("Z:\\bin\\ln", "-s \"" + UnixName(target) + "\" \"" + UnixName(link) + "\"");
    const std::wstring wideLink = ToUtf16(link);
    for (int waited = 0; waited < 5000; waited += 20) {
        if (GetFileAttributesW(wideLink.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

namespace {

std::string ProbePath(const std::string& dir) {
    return dir + "\\immutable-probe";
}

bool CanCreateFileIn(const std::string& dir) {
    HANDLE probe = CreateFileW(ToUtf16(ProbePath(dir)).c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(probe);
    return true;
}

// Under Wine: chattr +i or -i on the directory's Unix path, started as Wine starts a Unix
// program; true once files can no longer (or again) be created in it, within 5 s.
bool ChangeImmutable(const std::string& dir, bool immutable) {
    const std::string unixDir = UnixName(dir);
    if (unixDir.empty()) {
        return false;
    }
    CStartedProgram chattr("Z:\\usr\\bin\\chattr",
                           std::string(immutable ? "+i" : "-i") + " \"" + unixDir + "\"");
    for (int waited = 0; waited < 5000; waited += 20) {
        if (CanCreateFileIn(dir) != immutable) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

// Sets the attribute with the directory's entries as they were. chattr may take effect between
// creating a probe and its removal on close, which strands the probe in the frozen directory:
// then the attribute is taken off again, the probe removed and the freeze tried anew.
bool Freeze(const std::string& dir) {
    const std::wstring probe = ToUtf16(ProbePath(dir));
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!ChangeImmutable(dir, true)) {
            return false;
        }
        if (GetFileAttributesW(probe.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        // Kept until the probe is gone: a started program ends with its owner.
        CStartedProgram chattr("Z:\\usr\\bin\\chattr", "-i \"" + UnixName(dir) + "\"");
        for (int waited = 0; waited < 5000 && !DeleteFileW(probe.c_str()); waited += 20) {
            Sleep(20);
        }
    }
    return false;
}

}  // namespace

CImmutableDirectory::CImmutableDirectory(std::string dir)
    : m_dir(std::move(dir)), m_set(Freeze(m_dir)) {}

CImmutableDirectory::~CImmutableDirectory() {
    if (m_set) {
        ChangeImmutable(m_dir, false);
    }
}

bool MakeLink(const std::string& link, const std::string& target) {
    const DWORD attributes = GetFileAttributesW(ToUtf16(target).c_str());
    const bool directory =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    return (directory && MakeJunction(link, target)) || MakeUnixLink(link, target);
}

CStartedProgram::CStartedProgram(const std::string& path, const std::string& arguments) {
    std::wstring commandLine = L"\"" + ToUtf16(path) + L"\" " + ToUtf16(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(ToUtf16(path).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &started)) {
        ThrowLastError("Cannot start " + path);
    }
    CloseHandle(started.hThread);
    m_process.Reset(started.hProcess);
}

int CStartedProgram::WaitForExit(unsigned milliseconds) {
    if (!m_process.IsValid() || WaitForSingleObject(m_process.Get(), milliseconds) != 0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(m_process.Get(), &code);
    return static_cast<int>(code);
}

void CStartedProgram::Stop() {
    if (m_process.IsValid()) {
        TerminateProcess(m_process.Get(), 1);
        WaitForSingleObject(m_process.Get(), 10000);
        m_process.Reset();
    }
}

std::string WaitUntilHeld(const std::string& path, CStartedProgram& holder) {
    const std::wstring wide = ToUtf16(path);
    for (int waited = 0; waited < 60000; waited += 20) {
        HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
            return {};
        }
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
        if (const int code = holder.WaitForExit(0); code != -1) {
            return "the holder ended with " + std::to_string(code) + " without holding the file";
        }
        Sleep(20);
    }
    return "the holder still runs, but the file is not held after 60 s";
}
