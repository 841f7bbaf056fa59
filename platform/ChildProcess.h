#pragma once
// Starting a program with a Windows-style command line and waiting for its end.

#include <memory>
#include <string>
#include <vector>

// Splits a command line by the Windows rules (blanks separate arguments, double quotes group,
// backslashes before a quote escape it).
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// A started child process; the destructor waits for it if it still runs. Move-only.
class CChildProcess {
  public:
    CChildProcess();  // defined where Impl is complete
    ~CChildProcess();
    CChildProcess(CChildProcess&& other) noexcept;
    CChildProcess& operator=(CChildProcess&& other) noexcept;
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts the program that the command line names, with `currentDirectory` as its working
    // directory, no window and the caller's environment. False when it cannot be started (the
    // program is missing or not executable); the reason is in StartError().
    bool Start(const std::string& commandLine, const std::string& currentDirectory);
    const std::string& StartError() const { return m_startError; }

    // Waits at most `milliseconds` (negative: no limit); true when the process has ended.
    bool Wait(int milliseconds = -1);
    // Exit status once ended: the exit code, or 128 + signal number for a killed process.
    int ExitCode() const { return m_exitCode; }

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::string m_startError;
    int m_exitCode = -1;
};
