#include "platform/Directory.h"

#include <windows.h>

#include <algorithm>

#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"

namespace {

CFile OpenCreating(const std::string& path) {
    const std::wstring wide = ToUtf16(path);
    if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        ThrowLastError("Cannot create the directory \"" + path + "\"");
    }
    // CFile looks at the name and at the handle for a reparse point. Its handle lets others
    // delete the directory; this second one, held as long as the first, does not, so the
    // directory cannot be swapped for a junction while files are made in it.
    CFile checked(path, CFile::Mode::Directory);
    HANDLE pinned = CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (pinned == INVALID_HANDLE_VALUE) {
        ThrowLastError("Cannot open \"" + path + "\"");
    }
    checked.Close();
    return CFile::Adopt(pinned, path);
}

}  // namespace

CDirectory::CDirectory(const std::string& path) : m_directory(OpenCreating(path)) {}

CFile CDirectory::CreateNew(const std::string& name) {
    const std::string path = PathJoin(Path(), name);
    // CREATE_NEW fails on any entry at the name, a link included.
    HANDLE handle =
        CreateFileW(ToUtf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        ThrowLastError("Cannot create \"" + path + "\"");
    }
    return CFile::Adopt(handle, path);
}

std::vector<DirectoryEntry> CDirectory::Files() const {
    std::vector<DirectoryEntry> files;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(ToUtf16(PathJoin(Path(), "*")).c_str(), FindExInfoBasic,
                                     &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        ThrowLastError("Cannot list \"" + Path() + "\"");
    }
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
            continue;
        }
        files.push_back(
            {ToUtf8(found.cFileName),
             static_cast<int64_t>(uint64_t{found.nFileSizeHigh} << 32 | found.nFileSizeLow)});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return files;
}

bool CDirectory::Remove(const std::string& name) {
    return DeleteFileW(ToUtf16(PathJoin(Path(), name)).c_str()) != 0;
}
