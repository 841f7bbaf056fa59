#pragma once
// Files and directories. Queries answer false on any error; the operations whose results the
// updater ignores (delete, rename, create directory) return a flag instead of throwing.

#include <cstddef>
#include <cstdint>
#include <string>

bool FileExists(const std::string& path);       // an existing entry that is not a directory
bool DirectoryExists(const std::string& path);  // follows links
bool IsSymbolicLink(const std::string& path);   // the entry itself is a link
bool CreateDirectory(const std::string& path);
bool CreatePrivateDirectory(const std::string& path);  // readable and writable by its owner only
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
int64_t FileSize(const std::string& path);  // -1 when it cannot be read

// Result of a copy: code 0 on success, otherwise the system's error code and message text.
struct CopyResult {
    int code = 0;
    std::string message;
    bool Ok() const { return code == 0; }
};

// Copies `from` over `to`, replacing an existing file; never creates directories. The data goes
// to a temporary file beside `to` that is renamed over it only when complete, so a failed copy
// leaves the old destination as it was.
CopyResult CopyFileReplace(const std::string& from, const std::string& to);

// Owner of an open file descriptor. Throws CSystemError on failures.
class CFile {
  public:
    // ReadNonBlocking opens without waiting for a writer when the path names a FIFO.
    enum class Mode { Read, ReadNonBlocking, WriteTruncate, Append };
    CFile(const std::string& path, Mode mode);
    ~CFile();
    CFile(CFile&& other) noexcept;
    CFile& operator=(CFile&& other) noexcept;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Reads up to `size` bytes; 0 at the end of the file.
    size_t Read(void* buffer, size_t size);
    // Reads exactly `size` bytes at `offset` or throws.
    void ReadAt(uint64_t offset, void* buffer, size_t size);
    void WriteAll(const void* data, size_t size);
    int64_t Size() const;
    void Close();  // throws when the final flush fails
    int Descriptor() const { return m_fd; }

  private:
    int m_fd = -1;
    std::string m_path;
};

// The whole file as bytes; throws CSystemError when it cannot be read.
std::string ReadWholeFile(const std::string& path);
