#pragma once
// Reading archives through Debian's unar/lsar programs (The Unarchiver's XAD library): running
// them without a terminal and reading what `lsar -j` lists.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// An archive that cannot be read, or an entry that must not be extracted.
class CArchiveError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct XadEntry {
    std::string name;  // as lsar decodes it, '/' separated, not sanitised
    bool isDirectory = false;
    bool isLink = false;  // symbolic or hard link, device or pipe: anything but a file or directory
    bool isEncrypted = false;
    bool hasSize = false;
    uint64_t size = 0;
};

struct XadListing {
    std::string formatName;  // "RAR", "RAR 5", ...
    bool isEncrypted = false;
    std::vector<XadEntry> entries;
};

// Parses the JSON that `lsar -j` prints; throws CArchiveError when it is not such a listing or
// reports an error.
XadListing ParseLsarJson(const std::string& json);

struct ProgramResult {
    int exitCode = -1;   // exit status, or 128 + signal number
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Runs `program` with `args` in the current directory, without a terminal or standard input (so
// it can never ask for a password) and with both output streams captured. A program that
// cannot be started ends with 127 and the reason as its errors.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args);
