// What only POSIX child processes have: signals, exec's errors, descriptors that must not be
// inherited, the search along PATH by the execute permission, and the end with a killed parent.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

namespace {

using Args = std::vector<std::string>;

const std::string kShell = "/bin/sh";

// Starts `/bin/sh -c script` in `dir`.
void StartShell(CChildProcess& child, const std::string& script, const std::string& dir,
                CChildProcess::Output output = CChildProcess::Output::Discard) {
    child.Start(kShell, BuildCommandLine({kShell, "-c", script}), dir, output);
}

// A shell script at `path` that runs `body`.
void WriteScript(const std::string& path, const std::string& body) {
    WriteFile(path, "#!/bin/sh\n" + body + "\n");
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

}  // namespace

TEST(PosixChildProcess, StandardInputIsEmptyAndASignalGivesItsExitStatus) {
    CTempDir dir;
    CChildProcess child;
    StartShell(child, "pwd > where.txt; cat > input.txt; exit 7", dir.Path());
    ASSERT_TRUE(child.Wait(10000));
    EXPECT_EQ(child.ExitCode(), 7);
    EXPECT_EQ(ReadWholeFile(dir.File("where.txt")), dir.Path() + "\n");
    // Standard input is empty, so a program that reads it does not hang.
    EXPECT_EQ(FileSize(dir.File("input.txt")), 0);
    EXPECT_TRUE(child.Wait(0));  // waiting again is harmless

    CChildProcess killed;
    StartShell(killed, "kill -9 $$", dir.Path());
    ASSERT_TRUE(killed.Wait(10000));
    EXPECT_EQ(killed.ExitCode(), 128 + 9);
}

TEST(PosixChildProcess, InheritsNoOpenFiles) {
    CTempDir dir;
    // A descriptor opened without close-on-exec, as a library might.
    const int fd = open(dir.File("secret").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 3);
    CChildProcess child;
    StartShell(child,
               "if [ -e /proc/self/fd/" + std::to_string(fd) +
                   " ]; then echo open; else echo closed; fi > fd.txt",
               dir.Path());
    ASSERT_TRUE(child.Wait(10000));
    close(fd);
    EXPECT_EQ(ReadWholeFile(dir.File("fd.txt")), "closed\n");
}

TEST(PosixChildProcess, ExecsReasonsComeBackWithTheirTexts) {
    CTempDir dir;
    CChildProcess child;
    const auto start = [&](const std::string& program, const std::string& directory) {
        return StartError([&] { child.Start(program, program + " x", directory); });
    };

    std::optional<CSystemError> error = start(dir.File("rar"), dir.Path());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code(), ENOENT);
    EXPECT_EQ(std::string(error->what()),
              "Cannot start \"" + dir.File("rar") + "\": No such file or directory");

    WriteFile(dir.File("notes.txt"), "not a program\n");
    error = start(dir.File("notes.txt"), dir.Path());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code(), EACCES);

    // Executable bit but no program inside.
    WriteFile(dir.File("rar"), "\x01\x02 garbage, no interpreter line");
    ASSERT_EQ(chmod(dir.File("rar").c_str(), 0755), 0);
    error = start(dir.File("rar"), dir.Path());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code(), ENOEXEC);
    EXPECT_NE(std::string(error->what()).find("Exec format error"), std::string::npos);

    ASSERT_TRUE(MakeDirectory(dir.File("folder")));
    error = start(dir.File("folder"), dir.Path());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code(), EACCES);

    error = start("/bin/true", dir.File("absent"));
    ASSERT_TRUE(error);
    EXPECT_EQ(std::string(error->what()), "Cannot change to directory \"" + dir.File("absent") +
                                              "\": No such file or directory");
}

TEST(PosixFindInPath, TakesTheFirstExecutableFileAlongPath) {
    CTempDir dir;
    for (const char* sub : {"a", "b", "c"}) {
        ASSERT_TRUE(MakeDirectory(dir.File(sub)));
    }
    WriteFile(dir.File("a/tool"), "not executable");
    ASSERT_TRUE(MakeDirectory(dir.File("b/tool")));  // a directory is no program either
    WriteScript(dir.File("c/tool"), "true");
    const char* saved = std::getenv("PATH");
    const std::string oldPath = saved != nullptr ? saved : "";
    setenv("PATH", (dir.File("a") + ":" + dir.File("b") + ":" + dir.File("c")).c_str(), 1);
    const std::string found = FindInPath("tool");
    const std::string missing = FindInPath("lsar");
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(found, dir.File("c/tool"));
    EXPECT_EQ(missing, "");
    EXPECT_EQ(ExtractFileName(FindInPath("sh")), "sh");
}

TEST(PosixChildProcess, EndsWhenItsParentIsKilled) {
    // The updater killed in the middle of unpacking must not leave its archiver writing into
    // the work directory that the next run empties. A process of our own starts the child and
    // is killed; the child must be gone soon after.
    CTempDir dir;
    const std::string pidFile = dir.File("pid");
    const pid_t parent = fork();
    ASSERT_GE(parent, 0);
    if (parent == 0) {
        CChildProcess child;
        StartShell(child, "echo $$ > pid.tmp && mv pid.tmp pid && exec sleep 30", dir.Path());
        pause();  // until the test kills this process
        _exit(0);
    }
    const auto waitFor = [](const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    };
    const bool started = waitFor([&] { return FileExists(pidFile); });
    ASSERT_EQ(kill(parent, SIGKILL), 0);
    ASSERT_EQ(waitpid(parent, nullptr, 0), parent);
    ASSERT_TRUE(started);
    std::string pid = ReadFile(pidFile);
    pid.erase(pid.find_last_not_of('\n') + 1);
    const std::string childProc = "/proc/" + pid;
    // Gone, or a zombie waiting for init to collect it: no longer running in any case.
    const auto ended = [&] {
        const std::string stat = ReadFile(childProc + "/stat");
        if (stat.empty()) {
            return true;
        }
        const size_t close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
    };
    EXPECT_TRUE(waitFor(ended)) << childProc;
}
