#pragma once
// Placing extracted entries below the current directory without ever leaving it: stored names
// are checked before anything is written, and every directory on the way is opened without
// following links.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

// The components of a stored name ("\" and "/" both separate; "." and empty components are
// dropped). Throws CArchiveError naming the entry when the name is absolute (leading separator
// or a drive such as "C:"), has a ".." component, holds a NUL or names nothing.
std::vector<std::string> SafeComponents(const std::string& storedName);

// A private directory (mode 0700) inside the current directory that unar extracts into; it is
// removed with everything in it on destruction.
class CStagingDir {
  public:
    CStagingDir();
    ~CStagingDir();
    CStagingDir(const CStagingDir&) = delete;
    CStagingDir& operator=(const CStagingDir&) = delete;

    const std::string& Name() const { return m_name; }  // relative to the current directory
    const CFile& Directory() const { return m_dir; }

  private:
    std::string m_name;
    CFile m_dir;
};

// Checks that `components` name a regular file of `size` bytes below the directory `root`,
// reached without links. Throws CArchiveError otherwise.
void VerifyStagedFile(const CFile& root, const std::vector<std::string>& components, uint64_t size);

// Creates the directory `components` below `root` (and its parents); an existing directory is
// kept, a link or a file in the way is an error.
void CreateDirectories(const CFile& root, const std::vector<std::string>& components);

// Moves the file `components` from below `fromRoot` to the same place below `toRoot`, creating
// the directories on the way and replacing an existing file.
void MoveIntoPlace(const CFile& fromRoot, const CFile& toRoot,
                   const std::vector<std::string>& components);

// Components joined with '/' for messages.
std::string JoinComponents(const std::vector<std::string>& components);
