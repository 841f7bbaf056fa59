#pragma once
// A directory of files kept in a place that others may write to (the suite's directory). It is
// opened as itself, and files are made, listed and removed by name inside it, so that a link
// planted at the directory's name or at a file's name is never followed.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

struct DirectoryEntry {
    std::string name;
    int64_t size = 0;
};

class CDirectory {
  public:
    // Opens the directory `path`, creating it when missing with the permissions any new
    // directory gets there. Throws CSystemError when it cannot be made or opened, or when a link
    // or anything but a directory stands at its name.
    explicit CDirectory(const std::string& path);

    const std::string& Path() const { return m_directory.Path(); }
    // A new regular file inside, open for writing. Throws CSystemError when the name is taken,
    // by a link as much as by a file.
    CFile CreateNew(const std::string& name);
    // The regular files inside, sorted by name; links and subdirectories are left out.
    std::vector<DirectoryEntry> Files() const;
    // Removes the entry (a link itself, never what it points to); false when it could not.
    bool Remove(const std::string& name);

  private:
    // On Windows the handle keeps the directory from being renamed or removed meanwhile.
    CFile m_directory;
};
