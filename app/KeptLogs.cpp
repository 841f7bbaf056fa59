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
        // the rest fits; this run's are never among them, since none is made before this. Only
        // the copies count and go: the folder lies in the suite's directory, where a user may
        // well keep a file of his own, and that is neither removed nor made to crowd out logs.
        std::vector<DirectoryEntry> files = folder.Files();
        std::erase_if(files, [](const DirectoryEntry& file) { return !IsKeptLogName(file.name); });
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

bool IsKeptLogName(const std::string& name) {
    // "YYYY-MM-DD_hhmmss_", the package's digits, "_", the log's name ending ".log", and a
    // number from 2 to 9 when a second copy of one name was made in one second.
    const auto digits = [&name](size_t from, size_t count) {
        if (from + count > name.size()) {
            return false;
        }
        for (size_t i = from; i < from + count; ++i) {
            if (name[i] < '0' || name[i] > '9') {
                return false;
            }
        }
        return true;
    };
    if (!digits(0, 4) || name.size() < 18 || name[4] != '-' || !digits(5, 2) || name[7] != '-' ||
        !digits(8, 2) || name[10] != '_' || !digits(11, 6) || name[17] != '_') {
        return false;
    }
    size_t pos = 18;
    if (pos < name.size() && name[pos] == '-') {
        ++pos;
    }
    const size_t packageStart = pos;
    while (pos < name.size() && name[pos] >= '0' && name[pos] <= '9') {
        ++pos;
    }
    if (pos == packageStart || pos >= name.size() || name[pos] != '_') {
        return false;
    }
    std::string log = name.substr(pos + 1);
    if (log.size() > 2 && log[log.size() - 2] == '.' && log.back() >= '2' && log.back() <= '9') {
        log.resize(log.size() - 2);
    }
    return log.size() > 4 && log.ends_with(".log");
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
