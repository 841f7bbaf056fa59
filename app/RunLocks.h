#pragma once
// The two locks a run holds from its checks to its end: the suite's, in the program directory,
// and the shared work directory's, beside it in the temporary directory. Neither is waited for:
// the holder may run for many minutes, and an administrator can start the updater again as soon
// as it has finished.

#include <string>

#include "platform/FileLock.h"

// The lock file in the program directory that one updater at a time holds for the suite; the
// work directory's lock file is its name with this ending, beside it (the clean-up empties the
// directory itself).
inline constexpr char kSuiteLockName[] = "tessara-updater.lock";
inline constexpr char kLockFileEnding[] = ".lock";

class CRunLocks {
  public:
    // Takes the suite's lock in `programDirectory`; false when another updater holds it.
    bool TakeSuiteLock(const std::string& programDirectory);
    // Takes the lock of `workDirectory`; false when another updater holds it.
    bool TakeWorkLock(const std::string& workDirectory);
    // Why the lock last asked for is held elsewhere, in the journal's words.
    const std::string& Refusal() const { return m_refusal; }

  private:
    // Takes `lock` without waiting. A file that cannot be a lock file (a link, a directory,
    // another user's) throws, said in the interface's words.
    static bool TryLock(CFileLock& lock, const std::string& path, CFileLock::Holders holders);

    CFileLock m_suiteLock;
    CFileLock m_workLock;
    std::string m_refusal;
};
