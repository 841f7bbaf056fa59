#pragma once
// Extraction of RAR 2.9/4.x archives whose entries are stored (method 0x30), as the updater's
// packages are, into a directory.

#include <stdexcept>
#include <string>

// Thrown for an archive that is damaged (truncated, a header or data CRC that does not match):
// the real archiver ends with exit code 3 then.
class CDamagedArchiveError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Extracts every entry of `archivePath` below `directory`, replacing files there. The whole
// archive is walked and every name checked before anything is written; a file appears under its
// name only once its data matched the stored CRC. Throws CDamagedArchiveError for damage,
// CArchiveError for an archive that is refused (a hostile name, a link, encryption, compression,
// several volumes), CSystemError when writing fails.
void ExtractStoreArchive(const std::string& archivePath, const std::string& directory);
