#pragma once
// Reading archives through Debian's unar/lsar programs (The Unarchiver's XAD library): running
// them without a terminal and reading what `lsar -j` lists.

#include <string>
#include <vector>

#include "tools/rar/ArchiveListing.h"

// Parses the JSON that `lsar -j` prints; throws CArchiveError when it is not such a listing or
// reports an error.
ArchiveListing ParseLsarJson(const std::string& json);

struct ProgramResult {
    int exitCode = -1;   // exit status, or 128 + signal number
    std::string output;  // standard output
    std::string errors;  // standard error
};

// Runs `program` with `args` in the current directory, without a terminal or standard input (so
// it can never ask for a password) and with both output streams captured. A program that
// cannot be started ends with 127 and the reason as its errors.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args);
