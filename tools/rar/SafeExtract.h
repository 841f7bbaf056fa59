#pragma once
// Placing extracted entries below the current directory without ever leaving it: stored names
// are checked before anything is written, and every directory on the way is opened without
// following links.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "tools/rar/StoredNames.h"

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

// The entries to extract as a tree of directories: every path once, children in archive order.
// The tree is walked with each directory opened once and held while its entries are handled,
// always without following links.
class CEntryTree {
  public:
    CEntryTree();

    // Adds a file of `size` bytes or a directory; the directories on its way are implied. A path
    // stored twice takes the later entry, as unar extracts it. Throws CArchiveError when a path
    // is both a file and the directory of other entries.
    void Add(const std::vector<std::string>& components, bool isDirectory, uint64_t size);

    uint64_t FileBytes() const;  // all files together

    // Checks that every file is a regular file of its size below `root`. Throws CArchiveError
    // naming the first that is not.
    void VerifyFiles(const CFile& root) const;

    // Bytes that the files below `root` lack to be complete (a missing file lacks all of them).
    uint64_t MissingBytes(const CFile& root) const;

    // Moves every entry from below `fromRoot` to the same place below `toRoot`, replacing files
    // there. A directory missing at the target whose staged copy holds exactly the planned
    // entries moves in one rename; into an existing directory the files move one by one, and
    // directories in the way keep what else they hold. A link or a file in place of a directory
    // is an error (CArchiveError).
    void MoveInto(const CFile& fromRoot, const CFile& toRoot) const;

  private:
    struct Node {
        std::string name;
        bool isDirectory = true;
        uint64_t size = 0;
        std::vector<size_t> children;  // indices into m_nodes
    };

    std::string PathOf(const std::vector<std::string>& parents, const std::string& name) const;
    bool HoldsFiles(size_t node) const;
    void Verify(int dir, size_t node, std::vector<std::string>& path) const;
    uint64_t Missing(int dir, size_t node) const;
    bool HoldsExactly(int dir, size_t node) const;
    void Move(int from, int to, size_t node, std::vector<std::string>& path) const;

    std::vector<Node> m_nodes;                                 // m_nodes[0] is the root
    std::map<std::pair<size_t, std::string>, size_t> m_index;  // (parent, name) -> node
};

// Free space of the file system that holds `directory`, as an unprivileged writer may use it.
struct FreeSpace {
    uint64_t bytes = 0;
    bool countsFiles = false;  // false for file systems without a fixed number of files
    uint64_t files = 0;
};
FreeSpace FreeSpaceOf(const CFile& directory);
