#pragma once
// Starting a program with a Windows-style command line and waiting for its end.

#include <memory>
#include <string>
#include <vector>

// Splits a command line by the Windows rules (blanks separate arguments, double quotes group,
// backslashes before a quote escape it).
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The command line that SplitCommandLine splits into `args`: each argument as it is when it
// needs no quotes, else quoted. Throws std::invalid_argument for a program name (the first
// argument) that no command line can carry: one with a double quote that also needs quotes.
std::string BuildCommandLine(const std::vector<std::string>& args);

// Full path of the executable file `name` in the first directory of PATH that has one; empty
// when there is none.
std::string FindInPath(const std::string& name);

// A started child process; the destructor waits for it if it still runs, and so does a move
// over it or a new Start(). Move-only.
class CChildProcess {
  public:
    // Where the program's standard output and standard error go.
    enum class Output {
        Discard,
        Capture,  // kept in memory, read while waiting so that a full pipe never blocks it
    };

    CChildProcess() = default;
    ~CChildProcess() = default;
    CChildProcess(CChildProcess&& other) noexcept = default;
    CChildProcess& operator=(CChildProcess&& other) noexcept = default;
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts exactly the program file `programPath` (never searched for; a relative path is
    // taken from the caller's current directory) with `commandLine`, whose split gives the
    // program its arguments, in `currentDirectory` (empty: the caller's). The program gets the
    // caller's environment, standard input from the null device and no console or terminal, so
    // it can never wait for a key or a password. Throws CSystemError with the system's reason
    // when it cannot be started (missing, not executable, a directory that cannot be entered).
    void Start(const std::string& programPath, const std::string& commandLine,
               const std::string& currentDirectory, Output output = Output::Discard);

    // Waits at most `milliseconds` (negative: no limit); true when the process has ended and,
    // for captured output, both of its streams are read to their end.
    bool Wait(int milliseconds = -1);
    // Ends the process at once, with what it started (its own children end with it), rather
    // than waiting for it; Wait then collects it. Nothing when it has ended or never started.
    void Terminate();
    // Exit status once ended: the exit code, or 128 + signal number for a killed process.
    int ExitCode() const { return m_exitCode; }
    // What the program wrote so far with Output::Capture.
    const std::string& CapturedOutput() const { return m_output; }
    const std::string& CapturedErrors() const { return m_errors; }

  private:
    // The process and its captured streams, each system's own; its destructor waits for a
    // process that still runs. The deleter is defined beside it, where it is complete, so that
    // the members above are the compiler's on every system.
    struct Impl;
    struct ImplDeleter {
        void operator()(Impl* impl) const noexcept;
    };
    std::unique_ptr<Impl, ImplDeleter> m_impl;  // none before Start() and after a move
    int m_exitCode = -1;
    std::string m_output;
    std::string m_errors;
};
