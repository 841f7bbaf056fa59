#include "app/Snapshot.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "app/KeptLogs.h"
#include "db/DbError.h"
#include "db/Uglobdb.h"
#include "install/PackageLedger.h"
#include "platform/Clock.h"
#include "platform/Directory.h"
#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"

namespace {

constexpr char kReportsDirectory[] = "Reports";
constexpr char kFilesDirectory[] = "files";
constexpr int64_t kMegabyte = 1024 * 1024;

// The manifest's paths use '/' whatever the system: the part below the suite's directory.
std::string ToLocalSeparators(std::string relative) {
    std::replace(relative.begin(), relative.end(), '/', kPathSeparator);
    return relative;
}

std::string Megabytes(int64_t bytes) {
    return std::to_string((bytes + kMegabyte - 1) / kMegabyte) + " МБ";
}

// Refuses when `free` bytes in `directory` are fewer than `needed`; an unknown amount passes.
void RequireSpace(const std::string& directory, int64_t needed) {
    const int64_t free = AvailableSpace(directory);
    if (free < 0 || free >= needed) {
        return;
    }
    throw CSnapshotRefused("Недостатньо місця для знімка перед оновленням у " + directory +
                           ": потрібно " + Megabytes(needed) + ", вільно " + Megabytes(free) +
                           ". Оновлення нічого не змінило. Звільніть місце або запустіть "
                           "оновлення з --no-snapshot (тоді його не можна буде скасувати)");
}

void CopyOrThrow(const std::string& from, const std::string& to) {
    const CopyResult result = CopyFileReplace(from, to);
    if (!result.Ok()) {
        throw CSystemError(result.code, to);
    }
}

// Copies the program files into the snapshot's directory, then has the database's engine back
// the database up beside it: one blocking step, during which the window answers and the journal's
// line stays open for its mark.
void KeepFilesAndBackUp(IOwner& owner, CGlobDB& session, const SnapshotManifest& manifest,
                        const std::string& programDirectory) {
    owner.RunBlocking([&] {
        const std::string filesDirectory = PathJoin(manifest.directory, kFilesDirectory);
        {
            CDirectory snapshots(ExtractFileDir(manifest.directory));
            CDirectory directory(manifest.directory);
            CDirectory files(filesDirectory);
        }
        for (const std::string& file : manifest.files) {
            const std::string copy = PathJoin(filesDirectory, ToLocalSeparators(file));
            if (ExtractFileDir(copy) != filesDirectory) {
                CDirectory reports(ExtractFileDir(copy));
            }
            CopyOrThrow(PathJoin(programDirectory, ToLocalSeparators(file)), copy);
        }
        CServiceManager services = session.AttachServices();
        services.Backup(manifest.database, manifest.backup);
        services.Detach();
    });
}

// Removes the snapshots of `database` beyond the newest kSnapshotsKept: their directories, and
// the backup files that the updater wrote beside a local database. A server's files cannot be
// removed from here; the journal names them.
void RemoveOldSnapshots(IOwner& owner, const std::string& programDirectory,
                        const SnapshotManifest& newest) {
    std::vector<SnapshotManifest> same;
    for (SnapshotManifest& manifest : ListSnapshots(programDirectory)) {
        if (manifest.server == newest.server && manifest.database == newest.database) {
            same.push_back(std::move(manifest));
        }
    }
    if (same.size() <= kSnapshotsKept) {
        return;
    }
    same.resize(same.size() - kSnapshotsKept);
    for (const SnapshotManifest& old : same) {
        const std::string& backup = old.backup;
        const bool ours = backup.size() > sizeof kSnapshotBackupEnding &&
                          backup.compare(backup.size() - (sizeof kSnapshotBackupEnding - 1),
                                         std::string::npos, kSnapshotBackupEnding) == 0;
        if (ours && old.server.empty()) {
            RemoveFile(backup);
        } else if (ours) {
            owner.AppendLine("Старий знімок " + backup + " на сервері " + old.server +
                             " видаліть на сервері");
        }
        DeleteDirectoryContents(old.directory);
        RemoveEmptyDirectory(old.directory);
    }
}

}  // namespace

std::string ManifestText(const SnapshotManifest& manifest) {
    std::string text = "stamp=" + manifest.stamp + "\nversion=" + std::to_string(manifest.version) +
                       "\nserver=" + manifest.server + "\ndatabase=" + manifest.database +
                       "\nbackup=" + manifest.backup + "\n";
    for (const std::string& file : manifest.files) {
        text += "file=" + file + "\n";
    }
    if (!manifest.restoredInto.empty()) {
        text += "restored_into=" + manifest.restoredInto +
                "\nundone_database=" + manifest.undoneDatabase +
                "\nrestore_attempt=" + std::to_string(manifest.restoreAttempt) + "\n";
    }
    if (manifest.undone) {
        text += "undone=1\n";
    }
    return text;
}

SnapshotManifest ParseManifest(const std::string& text) {
    SnapshotManifest manifest;
    bool hasVersion = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "stamp") {
            manifest.stamp = value;
        } else if (key == "version") {
            try {
                size_t used = 0;
                const long number = std::stol(value, &used);
                hasVersion = used == value.size() && number >= 0 && number <= INT32_MAX;
                manifest.version = static_cast<int32_t>(number);
            } catch (const std::exception&) {
                hasVersion = false;
            }
        } else if (key == "server") {
            manifest.server = value;
        } else if (key == "database") {
            manifest.database = value;
        } else if (key == "backup") {
            manifest.backup = value;
        } else if (key == "file" && !value.empty()) {
            manifest.files.push_back(value);
        } else if (key == "restored_into") {
            manifest.restoredInto = value;
        } else if (key == "undone_database") {
            manifest.undoneDatabase = value;
        } else if (key == "restore_attempt") {
            manifest.restoreAttempt =
                value.size() == 1 && value[0] >= '0' && value[0] <= '9' ? value[0] - '0' : 9;
        } else if (key == "undone") {
            manifest.undone = value == "1";
        }
    }
    if (!hasVersion || manifest.database.empty() || manifest.backup.empty()) {
        throw std::runtime_error("знімок пошкоджено");
    }
    return manifest;
}

void WriteManifest(const SnapshotManifest& manifest) {
    const std::string text = ManifestText(manifest);
    CReplacingFile file(PathJoin(manifest.directory, kSnapshotManifestName));
    file.WriteAll(text.data(), text.size());
    file.Commit();
}

std::vector<SnapshotManifest> ListSnapshots(const std::string& programDirectory) {
    std::vector<std::string> directories;
    const std::string folder = PathJoin(programDirectory, kSnapshotsFolderName);
    ListFiles(folder, "*", directories);
    std::vector<SnapshotManifest> snapshots;
    for (const std::string& directory : directories) {
        const std::string name = ExtractFileName(directory);
        if (name == "." || name == ".." || InspectEntry(directory) != EntryKind::Directory) {
            continue;
        }
        const std::string path = PathJoin(directory, kSnapshotManifestName);
        if (InspectEntry(path) != EntryKind::Regular) {
            continue;  // never finished
        }
        try {
            SnapshotManifest manifest = ParseManifest(ReadWholeFile(path));
            manifest.directory = directory;
            snapshots.push_back(std::move(manifest));
        } catch (const std::exception&) {
        }
    }
    // The names begin with the time taken: the list is oldest first.
    return snapshots;
}

std::string BesideDatabase(const std::string& database, int32_t version, const std::string& stamp) {
    const size_t slash = database.find_last_of("/\\");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = database.rfind('.');
    if (dot == std::string::npos || dot < nameStart) {
        dot = database.size();
    }
    std::string stem = database.substr(0, dot);
    // A database that an undo restored is already named so: its name does not grow.
    const size_t stampDot = stem.rfind('.');
    const size_t versionDot = stampDot == std::string::npos || stampDot == 0
                                  ? std::string::npos
                                  : stem.rfind('.', stampDot - 1);
    if (versionDot != std::string::npos && versionDot >= nameStart &&
        stem.size() - stampDot - 1 == stamp.size() && stem.compare(versionDot, 2, ".v") == 0 &&
        stampDot > versionDot + 2 &&
        stem.find_first_not_of("0123456789", versionDot + 2) == stampDot) {
        stem.erase(versionDot);
    }
    return stem + ".v" + std::to_string(version) + "." + stamp;
}

std::vector<std::string> SuiteProgramFiles(const std::string& programDirectory,
                                           const std::string& updaterPath) {
    std::vector<std::string> found;
    ListFiles(programDirectory, "*.exe", found);
    ListFiles(PathJoin(programDirectory, kReportsDirectory), "*.fr3", found);
    std::vector<std::string> files;
    for (const std::string& path : found) {
        if (path == updaterPath || InspectEntry(path) != EntryKind::Regular) {
            continue;
        }
        std::string relative = path.substr(programDirectory.size());
        while (!relative.empty() && (relative.front() == '/' || relative.front() == '\\')) {
            relative.erase(0, 1);
        }
        std::replace(relative.begin(), relative.end(), '\\', '/');
        files.push_back(relative);
    }
    return files;
}

void TakeSnapshotBeforeRun(IOwner& owner, CGlobDB& session, CPackageLedger& ledger,
                           const CConfig& config, const StartupPaths& paths, int32_t version) {
    if (!config.snapshot) {
        return;  // --plan says so before the run
    }
    std::optional<LedgerPackage> unfinished;
    owner.RunBlocking([&] { unfinished = ledger.Unfinished(); });
    if (unfinished) {
        return;  // the interrupted run's snapshot is the one to go back to
    }

    SnapshotManifest manifest;
    manifest.stamp = RunStamp(LocalDateTimeText());
    manifest.version = version;
    manifest.server = session.ServerName();
    owner.RunBlocking([&] { manifest.database = session.DatabaseFile(); });
    manifest.backup =
        BesideDatabase(manifest.database, version, manifest.stamp) + kSnapshotBackupEnding;
    manifest.files = SuiteProgramFiles(paths.programDirectory, paths.executablePath);
    const std::string folder = PathJoin(paths.programDirectory, kSnapshotsFolderName);
    manifest.directory = PathJoin(folder, manifest.stamp + "_v" + std::to_string(version));

    // The space where it can be seen: a local database's directory (a backup is at most about
    // the database's size) and the suite's directory for the program files.
    int64_t filesSize = 0;
    for (const std::string& file : manifest.files) {
        filesSize += std::max<int64_t>(
            0, FileSize(PathJoin(paths.programDirectory, ToLocalSeparators(file))));
    }
    if (manifest.server.empty()) {
        RequireSpace(ExtractFileDir(manifest.database), FileSize(manifest.database));
    }
    RequireSpace(paths.programDirectory, filesSize);

    owner.AppendLine("Знімок бази даних і програм перед оновленням...");
    try {
        KeepFilesAndBackUp(owner, session, manifest, paths.programDirectory);
    } catch (const std::exception& error) {
        // CRunStopped passes: an interrupted snapshot is left as it is, without its manifest.
        if (dynamic_cast<const CDbError*>(&error) == nullptr &&
            dynamic_cast<const CSystemError*>(&error) == nullptr) {
            throw;
        }
        DeleteDirectoryContents(manifest.directory);
        RemoveEmptyDirectory(manifest.directory);
        owner.AppendLine("error");
        throw CSnapshotRefused(
            "Не вдалося зробити знімок перед оновленням: " + std::string(error.what()) +
            ". Оновлення нічого не змінило. Усуньте причину або запустіть "
            "оновлення з --no-snapshot (тоді його не можна буде скасувати)");
    }
    WriteManifest(manifest);
    owner.MarkLastLine("[OK]");
    owner.AppendLine("Знімок бази даних (версія " + std::to_string(version) +
                     "): " + manifest.backup +
                     (manifest.server.empty() ? "" : " на сервері " + manifest.server));
    owner.AppendLine("Знімок програм: " + manifest.directory);
    owner.AppendLine("Скасувати оновлення: tessara-updater --undo");
    RemoveOldSnapshots(owner, paths.programDirectory, manifest);
}
