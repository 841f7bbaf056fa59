#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"

#ifndef CLOSE_RANGE_CLOEXEC
#define CLOSE_RANGE_CLOEXEC (1U << 2)
#endif

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> args;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    size_t pos = 0;
    while (pos < commandLine.size() && isBlank(commandLine[pos])) {
        ++pos;
    }
    if (pos >= commandLine.size()) {
        return args;
    }

    // The program name follows simpler rules, as CreateProcess reads it: up to the closing quote
    // when it starts with one, else up to the first blank; backslashes are plain characters.
    std::string program;
    if (commandLine[pos] == '"') {
        const size_t close = commandLine.find('"', pos + 1);
        program = commandLine.substr(
            pos + 1, close == std::string::npos ? std::string::npos : close - pos - 1);
        pos = close == std::string::npos ? commandLine.size() : close + 1;
    }
    while (pos < commandLine.size() && !isBlank(commandLine[pos])) {
        program += commandLine[pos++];
    }
    args.push_back(program);

    std::string current;
    bool inArgument = false;
    bool quoted = false;
    while (pos < commandLine.size()) {
        const char c = commandLine[pos];
        if (c == '\\') {
            size_t backslashes = 0;
            while (pos < commandLine.size() && commandLine[pos] == '\\') {
                ++backslashes;
                ++pos;
            }
            inArgument = true;
            if (pos < commandLine.size() && commandLine[pos] == '"') {
                // 2n backslashes + quote: n backslashes, the quote toggles quoting;
                // 2n+1 backslashes + quote: n backslashes and a literal quote.
                current.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    current += '"';
                    ++pos;
                }
            } else {
                current.append(backslashes, '\\');
            }
        } else if (c == '"') {
            quoted = !quoted;
            inArgument = true;
            ++pos;
        } else if (isBlank(c) && !quoted) {
            if (inArgument) {
                args.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            ++pos;
        } else {
            current += c;
            inArgument = true;
            ++pos;
        }
    }
    if (inArgument) {
        args.push_back(std::move(current));
    }
    return args;
}

struct CChildProcess::Impl {
    pid_t pid = -1;
};

namespace {

// Where the child failed before it became the new program, sent through the status pipe.
struct ChildFailure {
    int stage;  // 0: change directory, 1: redirect input and output, 2: exec
    int code;
};

// Finds a program named without a directory along PATH, as the shell does; a name with a
// separator is taken as a path. Relative paths are made absolute here, since the child changes
// its directory before it starts the program.
std::string ResolveProgram(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        if (program[0] == '/') {
            return program;
        }
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd) == nullptr) {
            return program;
        }
        return PathJoin(cwd, program);
    }
    const char* pathVariable = std::getenv("PATH");
    std::string path = pathVariable != nullptr ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    size_t begin = 0;
    while (begin <= path.size()) {
        const size_t end = std::min(path.find(':', begin), path.size());
        const std::string dir = path.substr(begin, end - begin);
        const std::string candidate = PathJoin(dir.empty() ? "." : dir, program);
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        begin = end + 1;
    }
    return std::string();
}

// CreateProcess reads an unquoted program path that contains blanks by trying each blank in
// turn ("/opt/my suite/rar x" tries "/opt/my", then "/opt/my suite/rar"): the first prefix that
// names an existing file is the program, and what follows it are the arguments. The updater
// relies on this, since it names the archiver without quotes.
std::vector<std::string> ProgramAndArguments(const std::string& commandLine) {
    const char* const blanks = " \t";
    const size_t start = commandLine.find_first_not_of(blanks);
    if (start != std::string::npos && commandLine[start] != '"') {
        for (size_t blank = commandLine.find_first_of(blanks, start); blank != std::string::npos;
             blank = commandLine.find_first_of(blanks, blank + 1)) {
            const std::string candidate = commandLine.substr(start, blank - start);
            if (candidate.find('/') != std::string::npos && FileExists(candidate)) {
                std::vector<std::string> args = SplitCommandLine("x" + commandLine.substr(blank));
                args.front() = candidate;
                return args;
            }
        }
    }
    return SplitCommandLine(commandLine);
}

}  // namespace

CChildProcess::CChildProcess() = default;

CChildProcess::~CChildProcess() {
    if (m_impl && m_impl->pid > 0) {
        Wait(-1);
    }
}

CChildProcess::CChildProcess(CChildProcess&& other) noexcept
    : m_impl(std::move(other.m_impl)),
      m_startError(std::move(other.m_startError)),
      m_exitCode(std::exchange(other.m_exitCode, -1)) {}

CChildProcess& CChildProcess::operator=(CChildProcess&& other) noexcept {
    if (this != &other) {
        if (m_impl && m_impl->pid > 0) {
            Wait(-1);
        }
        m_impl = std::move(other.m_impl);
        m_startError = std::move(other.m_startError);
        m_exitCode = std::exchange(other.m_exitCode, -1);
    }
    return *this;
}

bool CChildProcess::Start(const std::string& commandLine, const std::string& currentDirectory) {
    if (m_impl && m_impl->pid > 0) {
        Wait(-1);  // one process per object: finish the previous one first
    }
    m_impl = std::make_unique<Impl>();
    m_startError.clear();
    m_exitCode = -1;

    const std::vector<std::string> args = ProgramAndArguments(commandLine);
    if (args.empty() || args[0].empty()) {
        m_startError = "The command line names no program";
        return false;
    }
    const std::string program = ResolveProgram(args[0]);
    if (program.empty()) {
        m_startError = "Cannot start \"" + args[0] + "\": " + SystemMessage(ENOENT);
        return false;
    }

    // Everything the child needs is prepared before fork: after it, only calls that are safe
    // in a copy of a possibly multi-threaded process are made.
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const char* directory = currentDirectory.empty() ? nullptr : currentDirectory.c_str();

    // The status pipe closes on a successful exec; otherwise the child writes why it failed.
    int statusPipe[2];
    if (pipe2(statusPipe, O_CLOEXEC) != 0) {
        const int code = errno;
        m_startError = "Cannot start \"" + program + "\": " + SystemMessage(code);
        return false;
    }

    const pid_t pid = fork();
    if (pid < 0) {
        const int code = errno;
        close(statusPipe[0]);
        close(statusPipe[1]);
        m_startError = "Cannot start \"" + program + "\": " + SystemMessage(code);
        return false;
    }
    if (pid == 0) {
        ChildFailure failure{0, 0};
        if (directory != nullptr && chdir(directory) != 0) {
            failure = {0, errno};
        } else {
            // No window and no console here: the program's input and output go nowhere, so it
            // cannot wait for a key or mix its messages into ours.
            const int null = open("/dev/null", O_RDWR);
            if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0) {
                failure = {1, errno};
            } else {
                if (null > 2) {
                    close(null);
                }
                // Descriptors that libraries opened without close-on-exec stay with us.
                syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
                sigset_t none;
                sigemptyset(&none);
                sigprocmask(SIG_SETMASK, &none, nullptr);
                signal(SIGPIPE, SIG_DFL);
                execv(program.c_str(), argv.data());
                failure = {2, errno};
            }
        }
        ssize_t ignored = write(statusPipe[1], &failure, sizeof failure);
        (void)ignored;
        _exit(127);
    }

    close(statusPipe[1]);
    ChildFailure failure{0, 0};
    ssize_t got;
    do {
        got = read(statusPipe[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    close(statusPipe[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        const std::string what = failure.stage == 0
                                     ? "Cannot change to directory \"" + currentDirectory + "\""
                                     : "Cannot start \"" + program + "\"";
        m_startError = what + ": " + SystemMessage(failure.code);
        return false;
    }
    m_impl->pid = pid;
    return true;
}

bool CChildProcess::Wait(int milliseconds) {
    if (!m_impl || m_impl->pid <= 0) {
        return true;  // never started, or already collected
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        int status = 0;
        const pid_t result = waitpid(m_impl->pid, &status, milliseconds < 0 ? 0 : WNOHANG);
        if (result == m_impl->pid) {
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status)
                                           : (WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1);
            m_impl->pid = -1;
            return true;
        }
        if (result < 0 && errno != EINTR) {
            // Somebody else collected it (SIGCHLD ignored, for example): it has ended.
            m_impl->pid = -1;
            return true;
        }
        if (result == 0) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
            pause = std::min(pause * 2, std::chrono::milliseconds(20));
        }
    }
}
