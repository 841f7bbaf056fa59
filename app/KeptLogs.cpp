#include "app/KeptLogs.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/Directory.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"

CKeptLogs::CKeptLogs(std::string programDirectory, std::string runStamp)
    : m_folder(PathJoin(programDirectory, kKeptLogsFolder)), m_runStamp(std::move(runStamp)) {}

std::string CKeptLogs::Keep(const std::string& logPath, int64_t package, int64_t limit,
                            int64_t folderLimit) {
    CDirectory folder(m_folder);
    if (!m_pruned) {
        m_pruned = true;
        // Earlier runs' copies, oldest first (the names begin with the run's start), go until
        // the rest fits; this run's are never among them, since none is made before this.
        std::vector<DirectoryEntry> files = folder.Files();
        int64_t total = 0;
        for (const DirectoryEntry& file : files) {
            total += file.size;
        }
        for (const DirectoryEntry& file : files) {
            if (total <= folderLimit) {
                break;
            }
            if (folder.Remove(file.name)) {
                total -= file.size;
            }
        }
    }

    CFile source(logPath, CFile::Mode::Read);
    const std::string base =
        m_runStamp + "_" + std::to_string(package) + "_" + ExtractFileName(logPath);
    // A second copy of the same name in one run (two packages' scripts of one name are kept
    // apart by their numbers already; a run within the same second is not) gets a number.
    CFile copy;
    std::string name = base;
    for (int attempt = 2;; ++attempt) {
        try {
            copy = folder.CreateNew(name);
            break;
        } catch (const CSystemError&) {
            if (attempt > 9 || InspectEntry(PathJoin(m_folder, name)) == EntryKind::Missing) {
                throw;
            }
            name = base + "." + std::to_string(attempt);
        }
    }
    std::vector<char> buffer(1024 * 1024);
    int64_t copied = 0;
    while (copied < limit) {
        const size_t want = static_cast<size_t>(
            std::min<int64_t>(static_cast<int64_t>(buffer.size()), limit - copied));
        const size_t got = source.Read(buffer.data(), want);
        if (got == 0) {
            break;
        }
        copy.WriteAll(buffer.data(), got);
        copied += static_cast<int64_t>(got);
    }
    if (source.Size() > copied) {
        const std::string note = "\r\n[... cut at " + std::to_string(copied) + " of " +
                                 std::to_string(source.Size()) +
                                 " bytes; the whole log: " + logPath + "]\r\n";
        copy.WriteAll(note.data(), note.size());
    }
    copy.Close();
    return PathJoin(m_folder, name);
}

std::string RunStamp(const std::string& localDateTime) {
    std::string stamp;
    for (const char c : localDateTime) {
        if (c == ' ') {
            stamp += '_';
        } else if (c != ':') {
            stamp += c;
        }
    }
    return stamp;
}
