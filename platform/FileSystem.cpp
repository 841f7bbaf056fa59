// The parts of the file layer that are built on CFile, CReplacingFile and the standard library
// alone.

#include "platform/FileSystem.h"

#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/SystemError.h"

CReplacingFile::~CReplacingFile() {
    if (!m_committed) {
        m_file = CFile();  // closed before it is removed, which Windows requires
        DeleteFile(m_tempPath);
    }
}

namespace {

// Bytes a CReplacingFile writes between two flushes to the disk.
constexpr uint64_t kFlushStep = 16 * 1024 * 1024;

}  // namespace

void CReplacingFile::WriteAll(const void* data, size_t size) {
    m_file.WriteAll(data, size);
    m_unflushed += size;
    if (m_unflushed >= kFlushStep) {
        m_file.FlushToDisk();
        m_unflushed = 0;
    }
}

bool DeleteDirectoryContents(const std::string& dir) {
    namespace fs = std::filesystem;
    // The entries are listed first: deleting while iterating may skip some.
    std::error_code error;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(it->path());
    }
    bool complete = !error;
    for (const fs::path& entry : entries) {
        // remove_all looks at an entry with symlink_status: a link goes, not what it points to.
        std::error_code removeError;
        fs::remove_all(entry, removeError);
        complete = complete && !removeError;
    }
    return complete;
}

CopyResult CopyFileReplace(const std::string& from, const std::string& to,
                           const std::function<void()>& afterBlock) {
    try {
        CFile source(from, CFile::Mode::Read);
        if (source.GetKind() == CFile::Kind::Directory) {
            return CopyResult{EISDIR, SystemMessage(EISDIR)};
        }
        // A missing destination directory fails here.
        CReplacingFile target(to);
        std::vector<char> buffer(1024 * 1024);
        while (const size_t got = source.Read(buffer.data(), buffer.size())) {
            target.WriteAll(buffer.data(), got);
            if (afterBlock) {
                afterBlock();
            }
        }
        target.TakePermissionsOf(source);
        // Keep the source's times, as a copy on Windows does.
        target.TakeTimesOf(source);
        target.Commit();
        return CopyResult{};
    } catch (const CSystemError& error) {
        return CopyResult{error.Code(), SystemMessage(error.Code())};
    }
}

std::string ReadWholeFile(const std::string& path) {
    CFile file(path, CFile::Mode::Read);
    std::string bytes;
    char buffer[64 * 1024];
    while (const size_t got = file.Read(buffer, sizeof buffer)) {
        bytes.append(buffer, got);
    }
    return bytes;
}
