#include "platform/FileLock.h"

#include <windows.h>

#include <optional>
#include <utility>

#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "platform/Win32Links.h"
#include "platform/Win32Security.h"

bool CFileLock::TryAcquire(const std::string& path, Holders holders) {
    Release();
    // OPEN_REPARSE_POINT: a link planted at the name is opened itself and refused below, instead
    // of creating or locking whatever it points to. A private lock's new file gets the current
    // user alone; a shared one the directory's access list, and it is opened for reading,
    // which LockFileEx needs and the users of the directory may do.
    const bool shared = holders == Holders::DirectoryUsers;
    std::optional<CPrivateAccess> access;
    if (!shared) {
        access.emplace();
    }
    const std::wstring wide = ToUtf16(path);
    HANDLE handle = OpenOrCreateNew([&](DWORD disposition) {
        return CreateFileW(
            wide.c_str(), shared ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
            FILE_SHARE_READ | FILE_SHARE_WRITE,
            access ? static_cast<SECURITY_ATTRIBUTES*>(access->SecurityAttributes()) : nullptr,
            disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    });
    const auto refuseLink = [&] {
        throw CSystemError(ERROR_CANT_ACCESS_FILE,
                           "Cannot open the lock file \"" + path + "\": it is a symbolic link");
    };
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_CANT_ACCESS_FILE) {
        refuseLink();
    }
    if (handle == INVALID_HANDLE_VALUE) {
        ThrowLastError("Cannot open the lock file \"" + path + "\"");
    }
    CFile file = CFile::Adopt(handle, path);
    // By its name and by where the open ended as well: Wine follows a Unix link even with
    // FILE_FLAG_OPEN_REPARSE_POINT, and shows one to a file as the file itself.
    const DWORD nameAttributes = GetFileAttributesW(wide.c_str());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        ThrowLastError("Cannot query the lock file \"" + path + "\"");
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (nameAttributes != INVALID_FILE_ATTRIBUTES &&
         (nameAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ||
        LandedElsewhere(handle, path)) {
        refuseLink();
    }
    if (GetFileType(handle) != FILE_TYPE_DISK ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw CSystemError(ERROR_INVALID_PARAMETER,
                           "The lock file \"" + path + "\" is not a regular file");
    }
    if (!shared && !IsOwnedByCurrentUser(handle)) {
        throw CSystemError(ERROR_ACCESS_DENIED,
                           "The lock file \"" + path + "\" belongs to another user");
    }
    // One byte locked exclusively: another handle, in this process or another, fails at once.
    OVERLAPPED range{};
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        if (GetLastError() == ERROR_LOCK_VIOLATION) {
            return false;
        }
        ThrowLastError("Cannot lock \"" + path + "\"");
    }
    m_file = std::move(file);
    return true;
}

void CFileLock::Release() {
    // Closing the handle ends the lock; the file stays for the next updater, since removing it
    // would race with one that has just opened it.
    m_file = CFile();
}
