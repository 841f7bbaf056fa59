#pragma once
// Files and directories. Queries answer false on any error; the operations whose results the
// updater ignores (delete, rename, create directory) return a flag instead of throwing.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// The system's own handle of an open file: a descriptor, on Windows a HANDLE. The one system type
// that the portable headers name.
#ifdef _WIN32
using NativeHandle = void*;
inline constexpr NativeHandle kNoNativeHandle = nullptr;
#else
using NativeHandle = int;
inline constexpr NativeHandle kNoNativeHandle = -1;
#endif

bool FileExists(const std::string& path);       // an existing entry that is not a directory
bool DirectoryExists(const std::string& path);  // follows links
bool IsSymbolicLink(const std::string& path);   // the entry itself is a link (a reparse point)
// What stands at a name, looked at itself: a link is reported as a link, never followed.
enum class EntryKind { Missing, Regular, Directory, Link, Other };
EntryKind InspectEntry(const std::string& path);
// A new directory readable and writable by its owner only (on Windows: an access list of the
// current user alone, nothing inherited).
bool CreatePrivateDirectory(const std::string& path);
bool RemoveFile(const std::string& path);
// RemoveFile for a file of hundreds of megabytes, calling `afterStep` between the steps: freeing
// all of its blocks at once can keep the file system busy for a tenth of a second and more.
bool RemoveFileInSteps(const std::string& path, const std::function<void()>& afterStep);
bool RenameFile(const std::string& from, const std::string& to);
bool RemoveEmptyDirectory(const std::string& path);
int64_t FileSize(const std::string& path);  // -1 when it cannot be read
// Bytes that this user may still write on the file system of `directory`; -1 when unknown.
int64_t AvailableSpace(const std::string& directory);
// Deletes everything inside the directory `dir`, subdirectories with their contents included;
// a link inside is deleted itself, never followed. `dir` itself stays and must be no link.
// False when something could not be deleted.
bool DeleteDirectoryContents(const std::string& dir);

// Owner of an open file or directory: the one owner of a descriptor (a handle on Windows) in
// the code base. Move-only; failures throw CSystemError naming the path. On Windows the handle
// is never inherited, and others may read (and, for Read and Append, write) the file meanwhile
// but neither delete nor rename it.
class CFile {
  public:
    enum class Mode {
        Read,
        ReadNonBlocking,  // does not wait for a writer when the path names a FIFO
        // A regular file itself: a link (a reparse point on Windows), a directory, a FIFO or a
        // device in its place is refused. For files in a directory that others may write to.
        ReadRegular,
        WriteTruncate,
        // Appends to a regular file itself, created when missing; refused like ReadRegular, so
        // that nothing is ever written through a link that someone planted at the name.
        Append,
        Directory,  // a directory to open entries relative to; a link in its place is refused
    };
    enum class Kind { Regular, Directory, Other };

    CFile() = default;  // owns nothing
    CFile(const std::string& path, Mode mode);
    ~CFile();
    CFile(CFile&& other) noexcept;
    CFile& operator=(CFile&& other) noexcept;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    bool IsOpen() const;
    const std::string& Path() const { return m_path; }  // as given; used in messages

    // Reads up to `size` bytes; 0 at the end of the file.
    size_t Read(void* buffer, size_t size);
    // Reads exactly `size` bytes at `offset` or throws; the read position stays.
    void ReadAt(uint64_t offset, void* buffer, size_t size) const;
    void WriteAll(const void* data, size_t size);
    int64_t Size() const;
    Kind GetKind() const;
    // Waits until the written bytes are on the disk.
    void FlushToDisk();
    void Close();  // throws when the final flush fails; closing twice does nothing

    // Takes over an open handle (a pipe end, a lock file, what openat returned); `path` names it
    // in messages.
    static CFile Adopt(NativeHandle handle, const std::string& path);
    // The handle, for the system's calls that this class does not make (openat and friends,
    // poll, file times and attributes).
    NativeHandle Native() const { return m_handle; }

  private:
    NativeHandle m_handle = kNoNativeHandle;
    std::string m_path;
};

// How long replacing a file waits for a program that holds it open without letting it be renamed
// (the suite on another workstation, a virus scanner) before it gives up; it tries again 20
// times a second meanwhile.
inline constexpr int kHeldFileWaitSeconds = 10;

// A program that holds a file open, as the system names it (Windows' Restart Manager).
struct FileHolder {
    std::string name;  // its program file's name ("tessara.exe"), else the name it gives itself
    uint32_t processId = 0;
};

// A new file that replaces `targetPath` only when it is complete. The bytes go to a temporary
// file beside the target, so that the final rename stays within one file system and is atomic;
// Commit() flushes it to the disk and renames it over the target; destruction without Commit()
// removes it, so a failure never leaves a half-written file under the target's name. Errors
// throw CSystemError naming the target. Without TakePermissionsOf() the file gets the
// permissions of any newly created file (on Windows: the access list inherited from the
// directory, and TakePermissionsOf copies the read-only, hidden, system and archive
// attributes). The file is flushed to
// the disk after every 16 MiB written as well, so that no call waits for the disk to take hundreds
// of megabytes at once: a caller that pumps its window between blocks keeps it alive to the end.
//
// A target in use: Linux renames over a running program or a loaded library. Windows replaces
// neither, but lets them be renamed: Commit then moves the target aside within its directory
// (MovedAsideName) and puts the new file in its place, moving the old one back if that fails: the
// name is empty only between two renames, and CleanUpMovedAside (at the next start) removes the
// old file, or puts it back when the process ended between the two. A target that another
// program holds open without letting it be renamed is tried again for kHeldFileWaitSeconds; then
// Commit fails and Holders() names the programs when the system can tell.
class CReplacingFile {
  public:
    explicit CReplacingFile(const std::string& targetPath);
    ~CReplacingFile();
    CReplacingFile(const CReplacingFile&) = delete;
    CReplacingFile& operator=(const CReplacingFile&) = delete;

    void WriteAll(const void* data, size_t size);
    // Appends `size` bytes of `source` from `offset` and gives the bytes that landed in `landed`
    // (room for `size`), so that a caller checks what the file holds. On Linux the bytes are
    // copied inside the kernel (copy_file_range; a file system may share the blocks instead) and
    // read back; where that cannot be done (another file system, a source that is no regular
    // file, Windows) they are read and written through `landed`, and later calls do so at once.
    // Returns how many bytes the kernel copied. Throws CSystemError as WriteAll and
    // CFile::ReadAt do.
    uint64_t AppendFrom(const CFile& source, uint64_t offset, size_t size, char* landed);
    void TakePermissionsOf(const CFile& source);
    void TakeTimesOf(const CFile& source);  // access and modification times; best effort
    // Closes the temporary file and gives its path, for a system function that can only rewrite
    // a file by name (Windows' resource updater); Commit() then puts what that left there in
    // place. Nothing more goes through WriteAll or the Take functions.
    const std::string& CloseForRewrite();
    void Commit();
    // Called between the tries while Commit waits for a held target (a window pumped).
    void WhileWaiting(std::function<void()> call) { m_whileWaiting = std::move(call); }
    // Where Commit moved the target that was in use; empty when it was replaced directly.
    const std::string& MovedAside() const { return m_movedAside; }
    // After Commit failed on a held target: it was held, and by whom when the system knows.
    bool WasHeld() const { return m_held; }
    const std::vector<FileHolder>& Holders() const { return m_holders; }

  private:
    // The first step of Commit: the temporary file flushed to the disk and closed.
    void FlushAndClose();

    std::string m_targetPath;
    std::string m_tempPath;
    // Counts bytes appended by either way and flushes the file every few megabytes.
    void NoteAppended(uint64_t size);

    CFile m_file;
    uint64_t m_unflushed = 0;  // bytes written since the last flush
    bool m_kernelCopy = true;  // AppendFrom may still try the in-kernel copy
    bool m_committed = false;
    // Windows: the attributes from TakePermissionsOf, given to the target after the rename.
    uint32_t m_attributes = 0;
    std::function<void()> m_whileWaiting;
    std::string m_movedAside;
    bool m_held = false;
    std::vector<FileHolder> m_holders;
};

// The name a file in use is moved aside to, beside it: "<name>.old-<local date and time>"
// ("tessara.exe.old-20260503142205"), with "-2", "-3" ... when that name is taken.
std::string MovedAsideName(const std::string& path);
// The name that MovedAsideName(original) may have given `path`, or empty when it is no such name.
std::string OriginalOfMovedAside(const std::string& path);

// What CleanUpMovedAside did with one file that an earlier replacement moved aside.
struct MovedAsideFile {
    std::string path;
    std::string original;  // the name it was moved away from
    // Removed; else put back under its original name, which was empty (the process that moved it
    // ended before the new file was in place); else left, with the system's error.
    enum class Fate { Removed, Restored, Left } fate = Fate::Left;
    int error = 0;
};
// Removes the files that replacements moved aside in `directory` (a program that still runs from
// one of them keeps it: it is left for a later start). One whose original name is empty is put
// back there instead: a program file is never lost.
std::vector<MovedAsideFile> CleanUpMovedAside(const std::string& directory);

// Throws CSystemError, naming `directory`, when this process cannot create a file in it (no
// right to write there, a read-only medium). Tried with a new file that is removed at once.
void CheckCanCreateFilesIn(const std::string& directory);

// A fresh name for a temporary file beside `targetPath`: ".<name>.tmp" and six random letters
// and digits, so a name that is taken is simply tried again.
std::string TemporaryNameBeside(const std::string& targetPath);

// Result of a copy: code 0 on success, otherwise the system's error code and message text.
struct CopyResult {
    CopyResult() = default;
    CopyResult(int errorCode, std::string errorMessage)
        : code(errorCode), message(std::move(errorMessage)) {}

    int code = 0;
    std::string message;
    bool Ok() const { return code == 0; }
    std::string movedAside;  // where the old file in use went (CReplacingFile::MovedAside)
    bool held = false;       // failed on a file that another program held past the wait
    std::vector<FileHolder> holders;
};

// Copies `from` over `to` through a CReplacingFile, with the source's permissions and times, so
// a failed copy leaves the old destination as it was; never creates directories. The copy goes
// in blocks of 1 MiB, and `afterBlock` (when given) is called after each one and between the
// tries while a held destination is waited for, so that a caller can keep its window alive.
CopyResult CopyFileReplace(const std::string& from, const std::string& to,
                           const std::function<void()>& afterBlock = {});

// The whole file as bytes; throws CSystemError when it cannot be read.
std::string ReadWholeFile(const std::string& path);
