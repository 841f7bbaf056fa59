#include "tools/rar/XadArchive.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Owner of one file descriptor.
class CFd {
  public:
    CFd() = default;
    explicit CFd(int fd) : m_fd(fd) {}
    ~CFd() { Reset(); }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_fd; }
    void Reset(int fd = -1) {
        if (m_fd >= 0) {
            close(m_fd);
        }
        m_fd = fd;
    }

  private:
    int m_fd = -1;
};

bool Flag(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isBool() ? value.toBool() : value.toInteger() != 0;
}

// Reads both pipes until the child closes them; polling keeps a full stderr pipe from blocking
// a child that is still writing its stdout.
void Drain(int outFd, int errFd, std::string& out, std::string& err) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;  // poll ignores negative descriptors
                --open;
            }
        }
    }
}

}  // namespace

XadListing ParseLsarJson(const std::string& json) {
    QJsonParseError parseError{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(json), &parseError);
    if (document.isNull() || !document.isObject()) {
        throw CArchiveError("Cannot read the archive listing: " +
                            parseError.errorString().toStdString());
    }
    const QJsonObject root = document.object();
    if (root.contains(QLatin1String("lsarError"))) {
        throw CArchiveError("The archive cannot be read (error " +
                            std::to_string(root.value(QLatin1String("lsarError")).toInteger()) +
                            ")");
    }
    const QJsonValue contents = root.value(QLatin1String("lsarContents"));
    if (!contents.isArray()) {
        throw CArchiveError("Cannot read the archive listing: no contents");
    }

    XadListing listing;
    listing.formatName = root.value(QLatin1String("lsarFormatName")).toString().toStdString();
    listing.isEncrypted =
        Flag(root.value(QLatin1String("lsarProperties")).toObject(), "XADIsEncrypted");
    for (const QJsonValue& item : contents.toArray()) {
        const QJsonObject object = item.toObject();
        const QJsonValue name = object.value(QLatin1String("XADFileName"));
        if (!name.isString()) {
            throw CArchiveError(
                "Archive entry " +
                std::to_string(object.value(QLatin1String("XADIndex")).toInteger()) +
                " has no readable name");
        }
        XadEntry entry;
        entry.name = name.toString().toStdString();
        entry.isDirectory = Flag(object, "XADIsDirectory");
        entry.isLink = Flag(object, "XADIsLink") || Flag(object, "XADIsHardLink") ||
                       Flag(object, "XADIsCharacterDevice") || Flag(object, "XADIsBlockDevice") ||
                       Flag(object, "XADIsFIFO");
        entry.isEncrypted = Flag(object, "XADIsEncrypted");
        const QJsonValue size = object.value(QLatin1String("XADFileSize"));
        if (size.isDouble() && size.toDouble() >= 0) {
            entry.hasSize = true;
            entry.size = static_cast<uint64_t>(size.toInteger());
        }
        listing.entries.push_back(std::move(entry));
    }
    return listing;
}

std::string FindInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty()) {
            dir = ".";
        }
        const std::string candidate = dir + "/" + name;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::string();
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        throw CArchiveError(std::string("Cannot create a pipe: ") + std::strerror(errno));
    }
    CFd outRead(outPipe[0]);
    CFd outWrite(outPipe[1]);
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        throw CArchiveError(std::string("Cannot create a pipe: ") + std::strerror(errno));
    }
    CFd errRead(errPipe[0]);
    CFd errWrite(errPipe[1]);
    CFd devNull(open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (devNull.Get() < 0) {
        throw CArchiveError(std::string("Cannot open /dev/null: ") + std::strerror(errno));
    }

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        throw CArchiveError(std::string("Cannot start ") + program + ": " + std::strerror(errno));
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        if (dup2(devNull.Get(), STDIN_FILENO) < 0 || dup2(outWrite.Get(), STDOUT_FILENO) < 0 ||
            dup2(errWrite.Get(), STDERR_FILENO) < 0) {
            _exit(127);
        }
        // A session of its own: no controlling terminal that unar could open for a prompt.
        setsid();
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    outWrite.Reset();
    errWrite.Reset();

    ProgramResult result;
    Drain(outRead.Get(), errRead.Get(), result.output, result.errors);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            throw CArchiveError(std::string("Cannot wait for ") + program + ": " +
                                std::strerror(errno));
        }
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}
