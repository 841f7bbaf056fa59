// The parts of the file layer that are built on CFile, CReplacingFile and the standard library
// alone.

#include "platform/FileSystem.h"

#include <cerrno>
#include <random>
#include <vector>

#include "platform/Paths.h"
#include "platform/SystemError.h"

CReplacingFile::~CReplacingFile() {
    if (!m_committed) {
        m_file = CFile();  // closed before it is removed, which Windows requires
        RemoveFile(m_tempPath);
    }
}

namespace {

// Bytes a CReplacingFile writes between two flushes to the disk.
constexpr uint64_t kFlushStep = 16 * 1024 * 1024;

}  // namespace

void CheckCanCreateFilesIn(const std::string& directory) {
    try {
        // Never committed: made beside the name, and removed again.
        const CReplacingFile probe(PathJoin(directory, "write-check"));
    } catch (const CSystemError& error) {
        throw CSystemError(error.Code(), "Cannot create files in \"" + directory +
                                             "\": " + SystemMessage(error.Code()));
    }
}

std::string TemporaryNameBeside(const std::string& targetPath) {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
    std::string suffix(6, ' ');
    for (char& c : suffix) {
        c = kChars[pick(generator)];
    }
    const std::string dir = ExtractFileDir(targetPath);
    return PathJoin(dir.empty() ? "." : dir, "." + ExtractFileName(targetPath) + ".tmp" + suffix);
}

void CReplacingFile::WriteAll(const void* data, size_t size) {
    m_file.WriteAll(data, size);
    NoteAppended(size);
}

void CReplacingFile::NoteAppended(uint64_t size) {
    m_unflushed += size;
    if (m_unflushed >= kFlushStep) {
        m_file.FlushToDisk();
        m_unflushed = 0;
    }
}

const std::string& CReplacingFile::CloseForRewrite() {
    m_file.Close();
    return m_tempPath;
}

void CReplacingFile::FlushAndClose() {
    if (!m_file.IsOpen()) {
        // Rewritten by name after CloseForRewrite: opened again to flush what was written.
        m_file = CFile(m_tempPath, CFile::Mode::Append);
    }
    m_file.FlushToDisk();
    m_file.Close();
}

CopyResult CopyFileReplace(const std::string& from, const std::string& to,
                           const std::function<void()>& afterBlock) {
    try {
        CFile source(from, CFile::Mode::Read);
        // POSIX opens a directory for reading (Windows refuses with its own code).
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
