#include "platform/WorkDirectory.h"

#include <windows.h>

#include <aclapi.h>

#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "platform/Win32Handle.h"
#include "platform/Win32Security.h"

namespace {

// The entry itself, never what a link in its place points to; READ_CONTROL reads its owner.
CWin32Handle OpenEntry(const std::wstring& path) {
    return CWin32Handle(
        CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

}  // namespace

WorkDirectoryState InspectWorkDirectory(const std::string& path) {
    const std::wstring wide = ToUtf16(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return WorkDirectoryState::Missing;
    }
    // A junction or symbolic link: what it points to is not ours to empty.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return WorkDirectoryState::Unsafe;
    }
    const CWin32Handle entry = OpenEntry(wide);
    if (!entry.IsValid()) {
        return WorkDirectoryState::Unsafe;  // there, but not even its owner can be read
    }
    BY_HANDLE_FILE_INFORMATION info{};
    try {
        if (!GetFileInformationByHandle(entry.Get(), &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !IsOwnedByCurrentUser(entry.Get())) {
            return WorkDirectoryState::Unsafe;
        }
    } catch (const CSystemError&) {
        return WorkDirectoryState::Unsafe;
    }
    return WorkDirectoryState::Owned;
}

void RestrictToOwner(const std::string& path) {
    const std::wstring wide = ToUtf16(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return;
    }
    try {
        // The protected list replaces whatever the directory had or inherited, and reaches the
        // entries already inside it through inheritance.
        const CPrivateAccess access;
        SetNamedSecurityInfoW(const_cast<wchar_t*>(wide.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, static_cast<PACL>(access.Acl()), nullptr);
    } catch (const CSystemError&) {
        // Ignored like every other result of preparing the directory.
    }
}
