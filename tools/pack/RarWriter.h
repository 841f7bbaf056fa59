#pragma once
// Writes RAR 2.9/4.x archives with the STORE method (no compression): the format the updater's
// packages use. Entry data is streamed from the source files.

#include <string>
#include <vector>

struct RarEntry {
    std::string storedName;  // relative path inside the archive, '/' or '\\' separated; UTF-8
    std::string sourcePath;  // file to read the data from; unused for directories
    bool isDirectory = false;
};

// Writes the entries in the given order to `archivePath` (replacing it). Throws on I/O errors
// and on files of 4 GiB or more.
void WriteRarStore(const std::vector<RarEntry>& entries, const std::string& archivePath);

// Archives everything below `directory` (files and subdirectories, sorted by path; links are
// refused with an error), with paths relative to it and '\\' as the stored separator.
void WriteRarStoreFromDirectory(const std::string& directory, const std::string& archivePath);
