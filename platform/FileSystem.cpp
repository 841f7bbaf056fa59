// The parts of the file layer that are built on CFile, CReplacingFile and the standard library
// alone.

#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <functional>
#include <random>
#include <vector>

#include "platform/Clock.h"
#include "platform/FileSearch.h"
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

namespace {

constexpr char kMovedAsideMark[] = ".old-";
constexpr size_t kStampDigits = 14;  // YYYYMMDDhhmmss

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string MovedAsideName(const std::string& path) {
    const std::tm local = LocalTime(std::time(nullptr));
    char stamp[32];
    if (std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local) != kStampDigits) {
        std::snprintf(stamp, sizeof stamp, "%014d", 0);
    }
    const std::string base = path + kMovedAsideMark + stamp;
    std::string name = base;
    for (int n = 2; InspectEntry(name) != EntryKind::Missing; ++n) {
        name = base + "-" + std::to_string(n);
    }
    return name;
}

std::string OriginalOfMovedAside(const std::string& path) {
    const size_t mark = path.rfind(kMovedAsideMark);
    const std::string name = ExtractFileName(path);
    if (mark == std::string::npos || name.size() <= path.size() - mark) {
        return {};  // no mark, or nothing of the original name before it
    }
    const std::string rest = path.substr(mark + sizeof kMovedAsideMark - 1);
    const std::string stamp = rest.substr(0, kStampDigits);
    const std::string counter = rest.substr(std::min(rest.size(), kStampDigits));
    if (stamp.size() != kStampDigits || !AllDigits(stamp) ||
        !(counter.empty() || (counter[0] == '-' && AllDigits(counter.substr(1))))) {
        return {};
    }
    return path.substr(0, mark);
}

std::vector<MovedAsideFile> CleanUpMovedAside(const std::string& directory) {
    std::vector<std::string> paths;
    ListFiles(directory, std::string("*") + kMovedAsideMark + "*", paths);
    // The newest first (the stamps sort by time within one original), so that an empty original
    // name gets back the file that was last in it.
    std::sort(paths.begin(), paths.end(), std::greater<>());
    std::vector<MovedAsideFile> files;
    for (const std::string& path : paths) {
        MovedAsideFile file{path, OriginalOfMovedAside(path)};
        if (file.original.empty() || InspectEntry(path) != EntryKind::Regular) {
            continue;  // not one of ours: a user's file, a directory, a link
        }
        if (InspectEntry(file.original) == EntryKind::Missing) {
            if (RenameFile(path, file.original)) {
                file.fate = MovedAsideFile::Fate::Restored;
            }
        } else if (RemoveFile(path)) {
            file.fate = MovedAsideFile::Fate::Removed;
        }
        if (file.fate == MovedAsideFile::Fate::Left) {
            file.error = LastSystemError();
        }
        files.push_back(std::move(file));
    }
    return files;
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
    CopyResult held;
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
        if (afterBlock) {
            target.WhileWaiting(afterBlock);
        }
        try {
            target.Commit();
        } catch (const CSystemError&) {
            held.held = target.WasHeld();
            held.holders = target.Holders();
            throw;
        }
        CopyResult result;
        result.movedAside = target.MovedAside();
        return result;
    } catch (const CSystemError& error) {
        held.code = error.Code();
        held.message = SystemMessage(error.Code());
        return held;
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
