#pragma once
// Where the program lives and how paths are put together.

#include <string>

// The platform's directory separator: '/', on Windows '\\'.
extern const char kPathSeparator;

// The file name of the program `name` on this system: the name itself, on Windows with ".exe".
std::string ProgramFileName(const std::string& name);

// Full path of the running executable.
std::string ExecutablePath();

// Directory of the running executable, without a trailing separator except for the root.
std::string ProgramDirectory();

// Directory part of a path, without a trailing separator except for the root ("/", "C:\").
std::string ExtractFileDir(const std::string& path);

// Last component of a path.
std::string ExtractFileName(const std::string& path);

// Last component of a path written with either separator, '/' or '\', on every system: a path
// that comes from another system (a client process on a Windows workstation, a Windows program
// under Wine, whose first argument reads "C:\...\tessara.exe").
std::string ExtractFileNameAnySeparator(const std::string& path);

// The system's temporary directory ($TMPDIR or /tmp; on Windows GetTempPathW: TMP, TEMP,
// USERPROFILE or the Windows directory), always absolute (a relative $TMPDIR is taken from the
// current directory) and ending with the separator.
std::string TempPath();

// Joins a directory and a name: an empty name gives the directory, an empty directory gives
// the name, a directory ending in the separator is concatenated, otherwise one separator goes
// between them. Nothing else is normalised.
std::string PathJoin(const std::string& dir, const std::string& name);
