#pragma once
// Helpers of the Windows tests: scratch directories whose names carry Cyrillic letters (so every
// path a test touches needs the W functions), whole files by UTF-8 path, and started programs.

#include <string>
#include <vector>

#include "platform/Win32Handle.h"

// A fresh directory under the temp path, removed with everything in it on destruction.
class CScratchDir {
  public:
    CScratchDir();
    ~CScratchDir();
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const;  // Path() + "\" + name

  private:
    std::string m_path;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);  // throws when it cannot be read
bool PathExists(const std::string& path);
// The names in a directory in byte order (shows leftover files).
std::vector<std::string> DirectoryNames(const std::string& dir);

// A program built beside the test programs (bin\<name>).
std::string TestProgram(const std::string& name);

// True under Wine (which exports wine_get_version), false on Windows.
bool RunningUnderWine();

// Makes `link` a link to the directory or file `target`: a junction where Windows makes one
// (directories only), else under Wine a Unix symbolic link, which Wine shows as a reparse point
// (Wine 8 makes neither junctions nor Windows symbolic links). False when neither works.
bool MakeLink(const std::string& link, const std::string& target);

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

// Sets an environment variable of this process for one test and restores it afterwards.
class CEnvironmentVariable {
  public:
    CEnvironmentVariable(const wchar_t* name, const std::wstring& value);
    ~CEnvironmentVariable();
    CEnvironmentVariable(const CEnvironmentVariable&) = delete;
    CEnvironmentVariable& operator=(const CEnvironmentVariable&) = delete;

  private:
    const wchar_t* m_name;
    std::wstring m_old;
    bool m_had = false;
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
