#pragma once
// Helpers of the Windows tests beside those every system's tests share (tests/support): links
// as Windows and Wine make them, and programs started by CreateProcessW.

#include <string>

#include "platform/Win32Handle.h"
#include "tests/support/TestSupport.h"

// True when something (a file or a directory) is at `path`.
bool PathExists(const std::string& path);

// Makes `link` a link to the directory or file `target`: a junction where Windows makes one
// (directories only), else under Wine a Unix symbolic link, which Wine shows as a reparse point
// (Wine 8 makes neither junctions nor Windows symbolic links). False when neither works.
bool MakeLink(const std::string& link, const std::string& target);

// Under Wine: makes `link` a Unix symbolic link to the existing file `target`. Wine shows such a
// link as the file it points to, never as a reparse point; once the target is deleted, as
// nothing at all. False elsewhere.
bool MakeUnixFileLink(const std::string& link, const std::string& target);

// Under Wine, run as root: a directory in which nothing can create a file, not even root (the
// immutable attribute, set with chattr), for as long as this lives. IsSet() is false where that
// cannot be done (on Windows, for another user, on a file system without the attribute).
class CImmutableDirectory {
  public:
    explicit CImmutableDirectory(std::string dir);
    ~CImmutableDirectory();
    CImmutableDirectory(const CImmutableDirectory&) = delete;
    CImmutableDirectory& operator=(const CImmutableDirectory&) = delete;

    bool IsSet() const { return m_set; }

  private:
    std::string m_dir;
    bool m_set;
};

// A program started with CreateProcessW and a command line of `arguments`; ended by
// TerminateProcess on destruction unless it ended before.
class CStartedProgram {
  public:
    CStartedProgram(const std::string& path, const std::string& arguments);
    ~CStartedProgram() { Stop(); }
    CStartedProgram(const CStartedProgram&) = delete;
    CStartedProgram& operator=(const CStartedProgram&) = delete;

    // The exit code once ended within `milliseconds`; -1 while it still runs.
    int WaitForExit(unsigned milliseconds);
    void Stop();

  private:
    CWin32Handle m_process;
};

// Empty once another process holds `path` open without sharing it, checked for a minute (a loaded
// Wine may take seconds to start a program); else what `holder` did meanwhile.
std::string WaitUntilHeld(const std::string& path, CStartedProgram& holder);
