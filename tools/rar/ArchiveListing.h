#pragma once
// What the archiver knows about an archive before extracting it: its entries as the extracting
// program will name them, read either by the RAR 4 block walk or from `lsar -j`.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// An archive that cannot be read, or an entry that must not be extracted.
class CArchiveError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ArchiveEntry {
    std::string name;  // UTF-8, as unar names the extracted file; '/' or '\' separated, unchecked
    bool isDirectory = false;
    bool isLink = false;  // symbolic or hard link, device or pipe: anything but a file or directory
    bool isEncrypted = false;
    bool hasSize = false;
    uint64_t size = 0;
};

struct ArchiveListing {
    std::string formatName;  // "RAR", "RAR 5", ...
    bool isEncrypted = false;
    std::vector<ArchiveEntry> entries;
};
