#pragma once
// An exclusive lock held through a lock file for as long as its owner lives: one updater at a
// time on a suite and on a work directory. The system drops the lock when the process ends, so
// a crashed updater never leaves one behind; the file itself stays.

#include <string>

#include "platform/FileSystem.h"

class CFileLock {
  public:
    CFileLock() = default;  // holds nothing
    CFileLock(CFileLock&&) noexcept = default;
    CFileLock& operator=(CFileLock&&) noexcept = default;
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

    // Takes the lock of `path` without waiting, creating the file (owner-only) when it is
    // missing. False when another process (or another CFileLock) holds it. Throws CSystemError
    // when the file cannot be opened, or when it is a link, not a regular file or another
    // user's: a lock file that someone else controls must not decide over our run.
    bool TryAcquire(const std::string& path);
    void Release();
    bool IsHeld() const { return m_file.IsOpen(); }
    const std::string& Path() const { return m_file.Path(); }

  private:
    CFile m_file;
};
