#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>
#include <tuple>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Where the child failed before it became the new program, sent through the status pipe.
enum class Stage : int { ChangeDirectory, RedirectStreams, Exec };
struct ChildFailure {
    Stage stage;
    int code;
};

// The descriptors the child's standard streams are taken from, and the parent's ends of the
// pipes that capture them.
struct Streams {
    CFile input;
    CFile output;
    CFile errors;
    CFile outputReader;
    CFile errorsReader;
};

// Both ends of a new pipe, closed on exec: [0] reads, [1] writes.
std::pair<CFile, CFile> MakePipe(const std::string& name) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        ThrowLastError("Cannot create a pipe for " + name);
    }
    return {CFile::Adopt(ends[0], name), CFile::Adopt(ends[1], name)};
}

Streams OpenStreams(CChildProcess::Output output) {
    Streams streams;
    streams.input = CFile("/dev/null", CFile::Mode::Read);
    if (output == CChildProcess::Output::Discard) {
        streams.output = CFile("/dev/null", CFile::Mode::WriteTruncate);
        streams.errors = CFile("/dev/null", CFile::Mode::WriteTruncate);
    } else {
        std::tie(streams.outputReader, streams.output) = MakePipe("standard output");
        std::tie(streams.errorsReader, streams.errors) = MakePipe("standard error");
    }
    return streams;
}

// The program path as the caller means it: the child changes its directory before exec.
std::string AbsoluteProgramPath(const std::string& programPath) {
    if (programPath.empty() || programPath[0] == '/') {
        return programPath;
    }
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        ThrowLastError("Cannot start \"" + programPath + "\"");
    }
    return PathJoin(cwd, programPath);
}

// dup2 that also keeps a descriptor already in place open across exec.
bool MoveDescriptor(int from, int to) {
    return from == to ? fcntl(to, F_SETFD, 0) == 0 : dup2(from, to) >= 0;
}

// The child's side between fork and exec: only async-signal-safe calls, since the parent may
// have other threads whose locks a copy could find held. Reports a failure through
// `statusFd` and never returns.
[[noreturn]] void BecomeProgram(const char* program, char* const argv[], const char* directory,
                                const Streams& streams, int statusFd, pid_t parent) {
    ChildFailure failure{Stage::ChangeDirectory, 0};
    if (directory != nullptr && chdir(directory) != 0) {
        failure = {Stage::ChangeDirectory, errno};
    } else if (!MoveDescriptor(streams.input.Native(), STDIN_FILENO) ||
               !MoveDescriptor(streams.output.Native(), STDOUT_FILENO) ||
               !MoveDescriptor(streams.errors.Native(), STDERR_FILENO)) {
        failure = {Stage::RedirectStreams, errno};
    } else {
        // Descriptors that libraries opened without close-on-exec stay with us.
        syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
        // A session of its own: no controlling terminal that the program could open to ask
        // for something.
        setsid();
#ifdef __linux__
        // The program ends with us: an archiver left running after the updater was killed would
        // go on writing into the work directory that the next run empties and fills again.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);  // the parent was gone before the request took effect
        }
#else
        (void)parent;
#endif
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execv(program, argv);
        failure = {Stage::Exec, errno};
    }
    ssize_t ignored = write(statusFd, &failure, sizeof failure);
    (void)ignored;
    _exit(127);
}

// Reads the status pipe after fork: it closes on a successful exec, otherwise the child wrote
// why it failed. On failure the child is collected and the reason thrown.
void CheckStarted(CFile& statusReader, pid_t pid, const std::string& program,
                  const std::string& currentDirectory) {
    ChildFailure failure{Stage::Exec, 0};
    size_t got = 0;
    try {
        got = statusReader.Read(&failure, sizeof failure);
    } catch (const CSystemError&) {
        // Nothing could be read: the exec is taken as done, as for a closed pipe.
    }
    if (got != sizeof failure) {
        return;
    }
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    const std::string what = failure.stage == Stage::ChangeDirectory
                                 ? "Cannot change to directory \"" + currentDirectory + "\""
                                 : "Cannot start \"" + program + "\"";
    throw CSystemError(failure.code, what + ": " + SystemMessage(failure.code));
}

// Milliseconds left until `deadline` for poll, rounded up; -1 without a deadline.
int PollTimeout(bool limited, Clock::time_point deadline) {
    if (!limited) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
}

}  // namespace

struct CChildProcess::Impl {
    pid_t pid = -1;  // until the process is collected
    // Read ends of the captured streams; closed once their end is read.
    CFile output;
    CFile errors;

    ~Impl();

    // Reads the captured streams into the strings until both end; false when the deadline
    // comes first.
    bool ReadStreams(bool limited, Clock::time_point deadline, std::string& outputText,
                     std::string& errorsText);
    // Collects the ended process; false when it still runs at the deadline.
    bool Collect(bool limited, Clock::time_point deadline, int& exitCode);
};

CChildProcess::Impl::~Impl() {
    if (pid <= 0) {
        return;  // never started, or collected
    }
    // Waited for as CChildProcess::Wait waits, its output dropped.
    std::string dropped;
    int exitCode = 0;
    try {
        ReadStreams(false, Clock::time_point(), dropped, dropped);
    } catch (const CSystemError&) {
        // Streams that cannot be waited for are closed: the child then ends on its own.
        output = CFile();
        errors = CFile();
    }
    Collect(false, Clock::time_point(), exitCode);
}

void CChildProcess::ImplDeleter::operator()(Impl* impl) const noexcept {
    delete impl;
}

bool CChildProcess::Impl::ReadStreams(bool limited, Clock::time_point deadline,
                                      std::string& outputText, std::string& errorsText) {
    CFile* streams[2] = {&output, &errors};
    std::string* sinks[2] = {&outputText, &errorsText};
    char buffer[64 * 1024];
    while (output.IsOpen() || errors.IsOpen()) {
        pollfd fds[2] = {{output.IsOpen() ? output.Native() : -1, POLLIN, 0},
                         {errors.IsOpen() ? errors.Native() : -1, POLLIN, 0}};
        const int ready = poll(fds, 2, PollTimeout(limited, deadline));
        if (ready == 0) {
            return false;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowLastError("Cannot wait for the output of a program");
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            size_t got = 0;
            try {
                got = streams[i]->Read(buffer, sizeof buffer);
            } catch (const CSystemError&) {
                // A stream that cannot be read is taken as ended.
            }
            if (got == 0) {
                *streams[i] = CFile();
            }
            sinks[i]->append(buffer, got);
        }
    }
    return true;
}

bool CChildProcess::Impl::Collect(bool limited, Clock::time_point deadline, int& exitCode) {
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        int status = 0;
        const pid_t result = waitpid(pid, &status, limited ? WNOHANG : 0);
        if (result == pid) {
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status)
                                         : (WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1);
            pid = -1;
            return true;
        }
        if (result < 0 && errno != EINTR) {
            // Somebody else collected it (SIGCHLD ignored, for example): it has ended.
            pid = -1;
            return true;
        }
        if (result == 0) {
            const auto now = Clock::now();
            if (now >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
            pause = std::min(pause * 2, std::chrono::milliseconds(20));
        }
    }
}

void CChildProcess::Start(const std::string& programPath, const std::string& commandLine,
                          const std::string& currentDirectory, Output output) {
    m_impl.reset(new Impl);  // one process per object: the previous one is waited for first
    m_exitCode = -1;
    m_output.clear();
    m_errors.clear();

    // Everything the child needs is prepared before fork.
    const std::string program = AbsoluteProgramPath(programPath);
    std::vector<std::string> args = SplitCommandLine(commandLine);
    if (args.empty()) {
        args.push_back(program);
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const char* directory = currentDirectory.empty() ? nullptr : currentDirectory.c_str();
    Streams streams = OpenStreams(output);
    auto [statusReader, statusWriter] = MakePipe("the start of \"" + program + "\"");

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        ThrowLastError("Cannot start \"" + program + "\"");
    }
    if (pid == 0) {
        BecomeProgram(program.c_str(), argv.data(), directory, streams, statusWriter.Native(),
                      parent);
    }
    // Only the child writes into these; the pipes end when it does.
    statusWriter.Close();
    streams.output.Close();
    streams.errors.Close();
    CheckStarted(statusReader, pid, program, currentDirectory);
    m_impl->pid = pid;
    m_impl->output = std::move(streams.outputReader);
    m_impl->errors = std::move(streams.errorsReader);
}

bool CChildProcess::Wait(int milliseconds) {
    if (!m_impl || m_impl->pid <= 0) {
        return true;  // never started, or already collected
    }
    const bool limited = milliseconds >= 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    // Captured streams first: a child blocked on a full pipe would never end.
    return m_impl->ReadStreams(limited, deadline, m_output, m_errors) &&
           m_impl->Collect(limited, deadline, m_exitCode);
}

void CChildProcess::Terminate() {
    if (m_impl && m_impl->pid > 0) {
        kill(m_impl->pid, SIGKILL);  // what it started has a parent-death signal
    }
}

std::string FindInPath(const std::string& name) {
    const char* variable = std::getenv("PATH");
    const std::string path = variable != nullptr ? variable : "/usr/local/bin:/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= path.size()) {
        const size_t end = std::min(path.find(':', begin), path.size());
        const std::string dir = path.substr(begin, end - begin);
        const std::string candidate = PathJoin(dir.empty() ? "." : dir, name);
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        begin = end + 1;
    }
    return std::string();
}
