#pragma once
// Update logs outlive the work directory, which the next run of any updater empties: the logs of
// a run that hold failed items are copied into a folder beside the run record, and the record
// points at the copies. The folder is bounded: the oldest copies of earlier runs go first.

#include <cstdint>
#include <string>

inline constexpr char kKeptLogsFolder[] = "tessara-updater-logs";
// The folder keeps at most this much of earlier runs' copies.
inline constexpr int64_t kKeptLogsLimit = 16 * 1024 * 1024;
// A longer log is kept up to this size, ended by a line that says where the whole of it is.
inline constexpr int64_t kKeptLogLimit = 4 * 1024 * 1024;

class CKeptLogs {
  public:
    // Copies go to `programDirectory`/kKeptLogsFolder under names that begin with `runStamp`
    // (the run's start, "YYYY-MM-DD_hhmmss"), so that names sort by age.
    CKeptLogs(std::string programDirectory, std::string runStamp);

    // Copies the update log `logPath` of package `package` and returns the copy's path. The
    // folder and the copy are made without following links (CDirectory); once per run, copies
    // of earlier runs are removed, oldest first, until the folder is within its limit. Throws
    // CSystemError when the copy cannot be made.
    std::string Keep(const std::string& logPath, int64_t package, int64_t limit = kKeptLogLimit,
                     int64_t folderLimit = kKeptLogsLimit);

  private:
    std::string m_folder;
    std::string m_runStamp;
    bool m_pruned = false;
};

// Whether `name` is one the updater gives its copies: "<YYYY-MM-DD_hhmmss>_<package>_<log>"
// with a log name ending ".log", and ".2" to ".9" after it for a second copy in one second.
// Nothing else in the folder is counted against its bound or removed.
bool IsKeptLogName(const std::string& name);

// "YYYY-MM-DD hh:mm:ss" as "YYYY-MM-DD_hhmmss", a part of a file name.
std::string RunStamp(const std::string& localDateTime);
