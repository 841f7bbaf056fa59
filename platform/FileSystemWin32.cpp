// Files and directories through the W functions: our paths are UTF-8, converted at each call.

#include "platform/FileSystem.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "platform/Win32FileHolders.h"
#include "platform/Win32Links.h"
#include "platform/Win32Security.h"

namespace {

// Runs `attempt` again, up to 5 times 100 ms apart, while it fails with a sharing or lock
// violation or access denied: virus scanners and the search indexer open new files for a moment.
template <class Attempt>
bool Retried(const Attempt& attempt) {
    for (int tries = 1;; ++tries) {
        if (attempt()) {
            return true;
        }
        const DWORD error = GetLastError();
        if (tries == 5 || (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION &&
                           error != ERROR_ACCESS_DENIED)) {
            SetLastError(error);
            return false;
        }
        Sleep(100);
    }
}

// Runs `change` on the file `path` with its read-only attribute cleared, which is put back when
// the change fails: Windows neither replaces nor deletes a read-only file, and the archiver
// restores the read-only attribute of what it unpacks. The error of the change is kept.
template <class Change>
bool WithoutReadOnly(const std::wstring& path, const Change& change, bool retry = true) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES &&
                          (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                          (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (readOnly) {
        SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    }
    if (retry ? Retried(change) : change()) {
        return true;
    }
    const DWORD error = GetLastError();
    if (readOnly) {
        SetFileAttributesW(path.c_str(), attributes);
    }
    SetLastError(error);
    return false;
}

// Moves `from` over `to`, replacing it (see WithoutReadOnly).
bool MoveReplacing(const std::wstring& from, const std::wstring& to, DWORD flags,
                   bool retry = true) {
    return WithoutReadOnly(
        to,
        [&] {
            return MoveFileExW(from.c_str(), to.c_str(), flags | MOVEFILE_REPLACE_EXISTING) != 0;
        },
        retry);
}

bool DeleteWritable(const std::wstring& path) {
    return WithoutReadOnly(path, [&] { return DeleteFileW(path.c_str()) != 0; });
}

// The attributes that a copy takes over from its source, as CopyFileW does.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// One ReadFile or WriteFile moves at most this much.
constexpr size_t kMaxTransfer = 1U << 30;

[[noreturn]] void ThrowFileError(const std::string& action, const std::string& path) {
    const auto code = static_cast<int>(GetLastError());
    throw CSystemError(code, action + " \"" + path + "\": " + SystemMessage(code));
}

[[noreturn]] void ThrowFileError(const std::string& action, const std::string& path, DWORD code) {
    SetLastError(code);
    ThrowFileError(action, path);
}

// What Windows knows of an entry; `followLinks` false looks at a link (reparse point) itself.
// nullopt when it cannot be opened even for its attributes.
std::optional<BY_HANDLE_FILE_INFORMATION> QueryEntry(const std::string& path, bool followLinks) {
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle = CreateFileW(ToUtf16(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL ok = GetFileInformationByHandle(handle, &info);
    CloseHandle(handle);
    return ok ? std::optional(info) : std::nullopt;
}

BY_HANDLE_FILE_INFORMATION InformationOf(HANDLE handle, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        ThrowFileError("Cannot query", path);
    }
    return info;
}

struct OpenRequest {
    DWORD access;
    DWORD share;
    DWORD disposition;
    DWORD flags;
};

OpenRequest RequestFor(CFile::Mode mode) {
    constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
    switch (mode) {
        case CFile::Mode::Read:
        case CFile::Mode::ReadNonBlocking:  // Windows has no FIFO to wait for
            return {GENERIC_READ, kShareReadWrite, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL};
        case CFile::Mode::ReadRegular:
            return {GENERIC_READ, kShareReadWrite, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT};
        case CFile::Mode::WriteTruncate:
            return {GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL};
        case CFile::Mode::Append:
            // Append data only: every write lands at the end, even with other appenders. A
            // missing file is made with CREATE_NEW (see CFile::CFile).
            return {FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareReadWrite,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT};
        case CFile::Mode::Directory:
            return {FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    kShareReadWrite | FILE_SHARE_DELETE, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT};
    }
    return {GENERIC_READ, kShareReadWrite, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL};
}

bool IsHeldError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool DeleteContents(const std::string& dir);

// Deletes one entry found in a directory: a link (junction or symbolic link) itself, never what
// it points to; a directory with everything in it; a read-only file as well, as unlink would.
bool DeleteEntry(const std::string& path, DWORD attributes) {
    const std::wstring wide = ToUtf16(path);
    const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // Windows removes a link to a directory as a directory; Wine shows a Unix link as one
        // and removes it as a file.
        return (directory && RemoveDirectoryW(wide.c_str())) || DeleteFileW(wide.c_str());
    }
    if (directory) {
        const bool emptied = DeleteContents(path);
        return RemoveDirectoryW(wide.c_str()) != 0 && emptied;
    }
    return DeleteWritable(wide);
}

bool DeleteContents(const std::string& dir) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(ToUtf16(PathJoin(dir, "*")).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    // The entries are listed first: deleting while searching may skip some.
    std::vector<std::pair<std::string, DWORD>> entries;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            entries.emplace_back(PathJoin(dir, ToUtf8(name)), found.dwFileAttributes);
        }
    } while (FindNextFileW(search, &found));
    const bool listed = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    bool complete = listed;
    for (const auto& [path, attributes] : entries) {
        complete = DeleteEntry(path, attributes) && complete;
    }
    return complete;
}

}  // namespace

// Wine opens what a Unix link points to even with FILE_FLAG_OPEN_REPARSE_POINT; only the path
// the handle ended at tells. The directory is compared by identity, so that a suite reached
// through a linked folder, a mapped or substituted drive is not taken for one.
bool LandedElsewhere(HANDLE handle, const std::string& path) {
    std::wstring final(MAX_PATH, L'\0');
    for (int tries = 0; tries < 2; ++tries) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, final.data(), static_cast<DWORD>(final.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return false;
        }
        const bool fits = length < final.size();
        final.resize(length);
        if (fits) {
            break;
        }
    }
    const size_t separator = final.find_last_of(L'\\');
    if (separator == std::wstring::npos) {
        return false;
    }
    const std::wstring wantedName = ToUtf16(ExtractFileName(path));
    const std::wstring finalName = final.substr(separator + 1);
    if (CompareStringOrdinal(finalName.c_str(), static_cast<int>(finalName.size()),
                             wantedName.c_str(), static_cast<int>(wantedName.size()),
                             TRUE) != CSTR_EQUAL) {
        return true;
    }
    const std::string wantedDir = ExtractFileDir(path);
    const auto wanted = QueryEntry(wantedDir.empty() ? "." : wantedDir, true);
    const auto landed = QueryEntry(ToUtf8(final.substr(0, separator)), true);
    return wanted && landed &&
           (wanted->dwVolumeSerialNumber != landed->dwVolumeSerialNumber ||
            wanted->nFileIndexHigh != landed->nFileIndexHigh ||
            wanted->nFileIndexLow != landed->nFileIndexLow);
}

HANDLE OpenOrCreateNew(const std::function<HANDLE(DWORD disposition)>& open) {
    HANDLE handle = open(OPEN_EXISTING);
    if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) {
        return handle;
    }
    handle = open(CREATE_NEW);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
        handle = open(OPEN_EXISTING);  // made by another process meanwhile
        if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
            SetLastError(ERROR_CANT_ACCESS_FILE);  // neither there nor new: a link to nowhere
        }
    }
    return handle;
}

bool FileExists(const std::string& path) {
    const auto info = QueryEntry(path, true);
    return info && (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
    const auto info = QueryEntry(path, true);
    return info && (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSymbolicLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(ToUtf16(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

EntryKind InspectEntry(const std::string& path) {
    const std::wstring wide = ToUtf16(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Under Wine also a Unix link that points nowhere: no call shows it (CFile never
        // creates a file through one, though).
        return EntryKind::Missing;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return EntryKind::Link;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return EntryKind::Directory;
    }
    if (attributes & FILE_ATTRIBUTE_DEVICE) {
        return EntryKind::Other;
    }
    // Wine shows a Unix link to a file as the file: where an open of it ends tells.
    HANDLE handle = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return EntryKind::Regular;
    }
    const bool elsewhere = LandedElsewhere(handle, path);
    CloseHandle(handle);
    return elsewhere ? EntryKind::Link : EntryKind::Regular;
}

bool CreatePrivateDirectory(const std::string& path) {
    try {
        const CPrivateAccess access;
        return CreateDirectoryW(ToUtf16(path).c_str(), static_cast<SECURITY_ATTRIBUTES*>(
                                                           access.SecurityAttributes())) != 0;
    } catch (const CSystemError&) {
        return false;  // no access list to give it: better no directory than an open one
    }
}

bool RemoveFile(const std::string& path) {
    return DeleteWritable(ToUtf16(path));
}

bool RemoveFileInSteps(const std::string& path, const std::function<void()>&) {
    // One step: what freeing a large file costs on NTFS is not measured here.
    return RemoveFile(path);
}

bool RenameFile(const std::string& from, const std::string& to) {
    // Replaces an existing file, as rename does on Linux.
    return MoveReplacing(ToUtf16(from), ToUtf16(to), 0);
}

int64_t FileSize(const std::string& path) {
    const auto info = QueryEntry(path, true);
    if (!info) {
        return -1;
    }
    return static_cast<int64_t>(uint64_t{info->nFileSizeHigh} << 32 | info->nFileSizeLow);
}

bool RemoveEmptyDirectory(const std::string& path) {
    return RemoveDirectoryW(ToUtf16(path).c_str()) != 0;
}

int64_t AvailableSpace(const std::string& directory) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(ToUtf16(directory).c_str(), &available, nullptr, nullptr)) {
        return -1;
    }
    return static_cast<int64_t>(available.QuadPart);
}

bool DeleteDirectoryContents(const std::string& dir) {
    return DeleteContents(dir);
}

CFile::CFile(const std::string& path, Mode mode) : m_path(path) {
    // The name is looked at first as well: Wine follows a Unix link even where the handle was
    // to be the link's own, and shows the link as a reparse point by its name only.
    const bool regularOnly = mode == Mode::ReadRegular || mode == Mode::Append;
    if ((mode == Mode::Directory || regularOnly) && IsSymbolicLink(path)) {
        if (regularOnly) {
            throw CSystemError(ERROR_CANT_ACCESS_FILE,
                               "Cannot open \"" + path + "\": it is a link (a reparse point)");
        }
        ThrowFileError("Cannot open", path, ERROR_CANT_ACCESS_FILE);
    }
    const OpenRequest request = RequestFor(mode);
    const std::wstring wide = ToUtf16(path);
    const auto open = [&](DWORD disposition) {
        return CreateFileW(wide.c_str(), request.access, request.share, nullptr, disposition,
                           request.flags, nullptr);
    };
    const bool append = mode == Mode::Append;
    HANDLE handle = append ? OpenOrCreateNew(open) : open(request.disposition);
    if (append && handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_CANT_ACCESS_FILE) {
        throw CSystemError(ERROR_CANT_ACCESS_FILE,
                           "Cannot open \"" + path + "\": it is a link (a reparse point)");
    }
    if (handle == INVALID_HANDLE_VALUE) {
        ThrowFileError("Cannot open", path);
    }
    m_handle = handle;
    if (regularOnly) {
        // A device or a pipe by a name such as CON; a link that the open took as itself.
        const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
        const DWORD attributes = disk ? InformationOf(handle, path).dwFileAttributes : 0;
        if (!disk || (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
            Close();
            throw CSystemError(ERROR_CANT_ACCESS_FILE,
                               "Cannot open \"" + path + "\": it is not a regular file");
        }
        if (LandedElsewhere(handle, path)) {
            // Opened through a link that nothing else showed. A file that this open created at
            // the link's target stays: removing it by the link's name would remove the link.
            Close();
            throw CSystemError(ERROR_CANT_ACCESS_FILE,
                               "Cannot open \"" + path + "\": it is a link (a reparse point)");
        }
    }
    if (mode == Mode::Directory) {
        const DWORD attributes = InformationOf(handle, path).dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            Close();
            ThrowFileError("Cannot open", path, ERROR_CANT_ACCESS_FILE);
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            Close();
            ThrowFileError("Cannot open", path, ERROR_DIRECTORY);
        }
    }
}

CFile CFile::Adopt(NativeHandle handle, const std::string& path) {
    CFile file;
    file.m_handle = handle;
    file.m_path = path;
    return file;
}

CFile::~CFile() {
    if (m_handle != nullptr) {
        CloseHandle(m_handle);
    }
}

CFile::CFile(CFile&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_path(std::move(other.m_path)) {}

CFile& CFile::operator=(CFile&& other) noexcept {
    if (this != &other) {
        if (m_handle != nullptr) {
            CloseHandle(m_handle);
        }
        m_handle = std::exchange(other.m_handle, nullptr);
        m_path = std::move(other.m_path);
    }
    return *this;
}

bool CFile::IsOpen() const {
    return m_handle != nullptr;
}

size_t CFile::Read(void* buffer, size_t size) {
    DWORD got = 0;
    if (!ReadFile(m_handle, buffer, static_cast<DWORD>(std::min(size, kMaxTransfer)), &got,
                  nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) {
            return 0;  // the writing end of a pipe is closed: its end
        }
        ThrowFileError("Cannot read", m_path);
    }
    return got;
}

void CFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
    // A read at an offset moves the position of a synchronous handle: put it back afterwards.
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(m_handle, LARGE_INTEGER{}, &position, FILE_CURRENT)) {
        ThrowFileError("Cannot read", m_path);
    }
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(m_handle, out, static_cast<DWORD>(std::min(size, kMaxTransfer)), &got, &at) &&
            GetLastError() != ERROR_HANDLE_EOF) {
            ThrowFileError("Cannot read", m_path);
        }
        if (got == 0) {
            SetFilePointerEx(m_handle, position, nullptr, FILE_BEGIN);
            throw CSystemError(ERROR_HANDLE_EOF,
                               "Cannot read \"" + m_path + "\": unexpected end of file");
        }
        out += got;
        offset += got;
        size -= got;
    }
    SetFilePointerEx(m_handle, position, nullptr, FILE_BEGIN);
}

void CFile::WriteAll(const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(m_handle, bytes, static_cast<DWORD>(std::min(size, kMaxTransfer)), &written,
                       nullptr)) {
            ThrowFileError("Cannot write", m_path);
        }
        bytes += written;
        size -= written;
    }
}

int64_t CFile::Size() const {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(m_handle, &size)) {
        ThrowFileError("Cannot query", m_path);
    }
    return size.QuadPart;
}

CFile::Kind CFile::GetKind() const {
    if (GetFileType(m_handle) != FILE_TYPE_DISK) {
        return Kind::Other;  // a pipe, a console or a device
    }
    return (InformationOf(m_handle, m_path).dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
               ? Kind::Directory
               : Kind::Regular;
}

void CFile::FlushToDisk() {
    if (!FlushFileBuffers(m_handle)) {
        ThrowFileError("Cannot write", m_path);
    }
}

void CFile::Close() {
    if (m_handle == nullptr) {
        return;
    }
    if (!CloseHandle(std::exchange(m_handle, nullptr))) {
        ThrowFileError("Cannot close", m_path);
    }
}

CReplacingFile::CReplacingFile(const std::string& targetPath) : m_targetPath(targetPath) {
    // CREATE_NEW never opens what someone else put there, a link included. The access list is
    // the one the directory gives its new files.
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; handle == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
        m_tempPath = TemporaryNameBeside(targetPath);
        handle = CreateFileW(ToUtf16(m_tempPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        if (handle == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS &&
            error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        ThrowFileError("Cannot create a file beside", targetPath);
    }
    m_file = CFile::Adopt(handle, targetPath);
}

uint64_t CReplacingFile::AppendFrom(const CFile& source, uint64_t offset, size_t size,
                                    char* landed) {
    // Windows has no in-kernel copy of a range between open files: the bytes go through here.
    m_kernelCopy = false;
    source.ReadAt(offset, landed, size);
    WriteAll(landed, size);
    return 0;
}

void CReplacingFile::TakePermissionsOf(const CFile& source) {
    // Given to the target after the rename: a read-only file could not be removed on failure.
    m_attributes =
        InformationOf(source.Native(), source.Path()).dwFileAttributes & kCopiedAttributes;
}

void CReplacingFile::TakeTimesOf(const CFile& source) {
    FILETIME access{};
    FILETIME write{};
    if (GetFileTime(source.Native(), nullptr, &access, &write)) {
        SetFileTime(m_file.Native(), nullptr, &access, &write);
    }
}

void CReplacingFile::Commit() {
    FlushAndClose();  // Windows renames no open file; delayed write errors show up here as well
    const std::wstring temp = ToUtf16(m_tempPath);
    const std::wstring target = ToUtf16(m_targetPath);
    m_held = false;
    m_holders.clear();
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG{kHeldFileWaitSeconds} * 1000;
    // The first try waits for a moment's holder (Retried); the later ones come between the
    // caller's calls, 20 times a second, so that a window stays alive while it waits.
    for (bool first = true; !MoveReplacing(temp, target, MOVEFILE_WRITE_THROUGH, first);
         first = false) {
        const DWORD error = GetLastError();
        // Access denied is also what a running program or a loaded library gives (and a file
        // that anyone has open): those may be renamed, and the new file put in their place.
        // A directory in its place is no file in use: it is never moved away.
        if ((error != ERROR_ACCESS_DENIED && !IsHeldError(error)) ||
            InspectEntry(m_targetPath) != EntryKind::Regular) {
            ThrowFileError("Cannot replace", m_targetPath, error);
        }
        const std::string aside = MovedAsideName(m_targetPath);
        const std::wstring wideAside = ToUtf16(aside);
        if (MoveFileExW(target.c_str(), wideAside.c_str(), 0)) {
            if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
                m_movedAside = aside;
                break;
            }
            // The name is never left empty: the old file goes back.
            const DWORD placeError = GetLastError();
            MoveFileExW(wideAside.c_str(), target.c_str(), 0);
            ThrowFileError("Cannot replace", m_targetPath, placeError);
        }
        const DWORD asideError = GetLastError();
        if (!IsHeldError(asideError)) {
            // Not held by a program: no right to it, a directory in its place and the like.
            ThrowFileError("Cannot replace", m_targetPath, error);
        }
        // Held open by a program that lets nobody rename it: the suite on another workstation,
        // a virus scanner for a moment.
        if (GetTickCount64() >= deadline) {
            m_held = true;
            m_holders = HoldersOf(m_targetPath);
            ThrowFileError("Cannot replace", m_targetPath, asideError);
        }
        if (m_whileWaiting) {
            m_whileWaiting();
        }
        Sleep(50);
    }
    m_committed = true;
    if (m_attributes != 0) {
        // Best effort, like the times: the new contents are in place already.
        SetFileAttributesW(ToUtf16(m_targetPath).c_str(), m_attributes);
    }
}
