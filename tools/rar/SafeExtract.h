#pragma once
// Placing extracted entries below the current directory without ever leaving it: stored names
// are checked before anything is written, and every directory on the way is opened without
// following links.

#include <cstdint>
#include <string>
#include <vector>

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
    int Descriptor() const { return m_fd; }

  private:
    std::string m_name;
    int m_fd = -1;
};

// Checks that `components` name a regular file of `size` bytes below the directory `rootFd`,
// reached without links. Throws CArchiveError otherwise.
void VerifyStagedFile(int rootFd, const std::vector<std::string>& components, uint64_t size);

// Creates the directory `components` below `rootFd` (and its parents); an existing directory is
// kept, a link or a file in the way is an error.
void CreateDirectories(int rootFd, const std::vector<std::string>& components);

// Moves the file `components` from below `fromFd` to the same place below `toFd`, creating the
// directories on the way and replacing an existing file.
void MoveIntoPlace(int fromFd, int toFd, const std::vector<std::string>& components);

// Components joined with '/' for messages.
std::string JoinComponents(const std::vector<std::string>& components);
