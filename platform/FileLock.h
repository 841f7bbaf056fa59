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

    // Who may take the lock. CurrentUser: a lock in a directory that others write to (the
    // temporary directory); the file is created for the current user alone, and one of another
    // user is refused: a lock file that someone else controls must not decide over our run.
    // DirectoryUsers: a lock in a directory that its users share (the suite's); the file is
    // created with the directory's permissions, and every user who may read it takes turns.
    enum class Holders { CurrentUser, DirectoryUsers };

    // Takes the lock of `path` without waiting, creating the file when it is missing. False
    // when another process (or another CFileLock) holds it. Throws CSystemError when the file
    // cannot be opened, is a link or not a regular file, or belongs to another user where
    // `holders` is CurrentUser.
    bool TryAcquire(const std::string& path, Holders holders = Holders::CurrentUser);
    void Release();
    bool IsHeld() const { return m_file.IsOpen(); }
    const std::string& Path() const { return m_file.Path(); }

  private:
    CFile m_file;
};
