#include "platform/Processes.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "platform/Text.h"

namespace {

// Up to `limit` bytes of a small /proc file; empty when it cannot be read (the process may
// have ended meanwhile, or belong to another user).
std::string ReadProcFile(const std::string& path, size_t limit) {
    std::string bytes(limit, '\0');
    size_t total = 0;
    try {
        CFile file(path, CFile::Mode::Read);
        while (total < limit) {
            const size_t got = file.Read(bytes.data() + total, limit - total);
            if (got == 0) {
                break;
            }
            total += got;
        }
    } catch (const CSystemError&) {
        // What was read before a failure is kept.
    }
    bytes.resize(total);
    return bytes;
}

void AddName(std::vector<std::string>& names, const std::string& name) {
    if (!name.empty()) {
        names.push_back(name);
    }
}

}  // namespace

std::vector<std::string> RunningImageNames() {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (!proc) {
        return names;
    }
    while (const dirent* entry = readdir(proc.get())) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        const std::string base = "/proc/" + pid + "/";

        std::string comm = ReadProcFile(base + "comm", 64);
        while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\0')) {
            comm.pop_back();
        }
        AddName(names, comm);

        char target[4096];
        const ssize_t length = readlink((base + "exe").c_str(), target, sizeof target - 1);
        if (length > 0) {
            std::string exe(target, static_cast<size_t>(length));
            const std::string deleted = " (deleted)";  // the file was replaced while running
            if (exe.size() > deleted.size() &&
                exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0) {
                exe.resize(exe.size() - deleted.size());
            }
            AddName(names, ExtractFileNameAnySeparator(exe));
        }

        // The first argument ends at the first NUL of the command line.
        const std::string cmdline = ReadProcFile(base + "cmdline", 4096);
        AddName(names, ExtractFileNameAnySeparator(cmdline.substr(0, cmdline.find('\0'))));
    }
    return names;
}

int CurrentProcessId() {
    return static_cast<int>(getpid());
}

bool SameImageName(const std::string& a, const std::string& b) {
    return EqualsIgnoreAsciiCase(a, b);
}

bool IsProcessIdRunning(int processId) {
    // Signal 0 checks the id without sending anything; EPERM: it exists, another user's.
    return processId > 0 && (kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM);
}

std::string LocalHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}
