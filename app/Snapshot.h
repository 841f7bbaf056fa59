#pragma once
// The snapshot taken before a run's first package: the database backed up by its own engine
// (gbak's backup through the services manager) into a file beside the database, and the suite's
// program files and templates kept in the suite's snapshots folder, so that --undo can bring
// both back. A manifest in the folder says what the snapshot holds; it is written last, so a
// snapshot without one was never finished and is not offered to an undo.

#include <cstdint>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/RunJournal.h"
#include "app/StartupPaths.h"
#include "install/Status.h"

class CGlobDB;
class CPackageLedger;

// The suite's snapshots folder, one directory per snapshot named by its time and version.
inline constexpr char kSnapshotsFolderName[] = "tessara-updater-snapshots";
inline constexpr char kSnapshotManifestName[] = "snapshot.txt";
// The ending of every backup file the updater writes: old snapshots are removed by it only.
inline constexpr char kSnapshotBackupEnding[] = ".tessara-snapshot.fbk";
// Snapshots kept per database; older ones that the updater made are removed.
inline constexpr size_t kSnapshotsKept = 2;

struct SnapshotManifest {
    std::string directory;  // the snapshot's directory in the suite (not written; set when read)
    std::string stamp;      // when it was taken, "YYYY-MM-DD_hhmmss"
    int32_t version = 0;    // the database's version
    std::string server;     // the server that holds the database; empty for a local one
    std::string database;   // the database file as its engine sees it
    std::string backup;     // the backup file beside it, likewise
    // Program files and templates kept, relative to the suite's directory ("a.exe",
    // "Reports/list.fr3"), their copies under the snapshot's "files" directory.
    std::vector<std::string> files;
    // Written by an undo before it restores: the database it restores into, and the one it
    // replaces (kept until the administrator removes it).
    std::string restoredInto;
    std::string undoneDatabase;
    // Restores begun: each goes into a file of its own, since one cut short may still be held
    // (a server finishes a service whose client has gone).
    int restoreAttempt = 0;
    bool undone = false;  // the undo finished
};

std::string ManifestText(const SnapshotManifest& manifest);
// Throws std::runtime_error for a manifest without its version, database or backup.
SnapshotManifest ParseManifest(const std::string& text);
// Writes the manifest into its directory, replacing the old one only when complete.
void WriteManifest(const SnapshotManifest& manifest);
// The finished snapshots of the suite, oldest first; damaged manifests are passed over.
std::vector<SnapshotManifest> ListSnapshots(const std::string& programDirectory);

// "dir/lib.gdb" -> "dir/lib.v237.2026-05-03_142205": a file beside `database` (either
// separator, as the server's paths may be Windows ones) named by version and time.
std::string BesideDatabase(const std::string& database, int32_t version, const std::string& stamp);

// The suite's program files and templates that a run may replace ("*.exe", "Reports/*.fr3"),
// relative to `programDirectory`, the updater itself excepted.
std::vector<std::string> SuiteProgramFiles(const std::string& programDirectory,
                                           const std::string& updaterPath);

// Thrown when the snapshot cannot be taken; nothing was changed then.
class CSnapshotRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Before the run's first package: when the database's ledger is clean and snapshots are on,
// backs the database up and keeps the suite's program files, writes the manifest, says in the
// journal where the snapshot is and how to undo, and removes the updater's older snapshots of
// this database beyond kSnapshotsKept. A run that continues an interrupted package takes none
// (its snapshot is the interrupted run's). Throws CSnapshotRefused when the space is short.
void TakeSnapshotBeforeRun(IOwner& owner, CGlobDB& session, CPackageLedger& ledger,
                           const CConfig& config, const StartupPaths& paths, int32_t version);
