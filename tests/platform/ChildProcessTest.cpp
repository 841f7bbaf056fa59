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

// The system error that `start` throws; nullopt when it throws none.
template <typename Start>
std::optional<CSystemError> StartError(Start start) {
    try {
        start();
    } catch (const CSystemError& error) {
        return error;
    }
    return std::nullopt;
}

}  // namespace

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    // The archiver command line, with its trailing blank.
    EXPECT_EQ(SplitCommandLine("/opt/suite/rar x -o+ \"/tmp/lib.kvr/238.rar\" "),
              (Args{"/opt/suite/rar", "x", "-o+", "/tmp/lib.kvr/238.rar"}));
    EXPECT_EQ(SplitCommandLine("  prog\ta  \t b  "), (Args{"prog", "a", "b"}));
    EXPECT_EQ(SplitCommandLine(""), Args{});
    EXPECT_EQ(SplitCommandLine("   "), Args{});
    EXPECT_EQ(SplitCommandLine("prog \"a b\" c"), (Args{"prog", "a b", "c"}));
    EXPECT_EQ(SplitCommandLine("prog \"\" x"), (Args{"prog", "", "x"}));
    EXPECT_EQ(SplitCommandLine("prog a\"b c\"d e"), (Args{"prog", "ab cd", "e"}));
    EXPECT_EQ(SplitCommandLine("prog \"unterminated arg"), (Args{"prog", "unterminated arg"}));
    // Backslashes: literal unless they precede a quote.
    EXPECT_EQ(SplitCommandLine(R"(prog a\b a\\b)"), (Args{"prog", R"(a\b)", R"(a\\b)"}));
    EXPECT_EQ(SplitCommandLine(R"(prog a\"b)"), (Args{"prog", R"(a"b)"}));
    EXPECT_EQ(SplitCommandLine(R"(prog a\\\"b)"), (Args{"prog", R"(a\"b)"}));
    EXPECT_EQ(SplitCommandLine(R"(prog "a\\" b)"), (Args{"prog", R"(a\)", "b"}));
    EXPECT_EQ(SplitCommandLine(R"(prog "C:\Temp\lib.kvr\238.rar")"),
              (Args{"prog", R"(C:\Temp\lib.kvr\238.rar)"}));
    // The program name: quotes group it, backslashes stay.
    EXPECT_EQ(SplitCommandLine(R"("C:\Program Files\rar.exe" x)"),
              (Args{R"(C:\Program Files\rar.exe)", "x"}));
    EXPECT_EQ(SplitCommandLine(R"(C:\suite\rar.exe x)"), (Args{R"(C:\suite\rar.exe)", "x"}));
}

TEST(BuildCommandLine, SplitsBackIntoTheSameArguments) {
    const std::vector<Args> cases = {
        {"/opt/suite/rar", "x", "-o+", "/tmp/lib.kvr/238.rar"},
        {"/opt/my suite/rar", "a b", "", "tab\there", "  "},
        {"prog", R"(a"b)", R"(a\"b)", R"(trailing\)", R"(two\\)", R"(\\server\share\)", "\"", "\\",
         R"(" \ ")"},
        {R"(C:\Program Files\rar.exe)", R"(C:\Temp\lib.kvr\238.rar)", R"(C:\dir with blank\)"},
        {"", "x"},
        {R"(a"b)", "x"},
    };
    for (const Args& args : cases) {
        EXPECT_EQ(SplitCommandLine(BuildCommandLine(args)), args) << BuildCommandLine(args);
    }
    // What needs no quotes stays as it is.
    EXPECT_EQ(BuildCommandLine({"/opt/suite/rar", "x", "-o+", R"(C:\a\b)"}),
              R"(/opt/suite/rar x -o+ C:\a\b)");
    EXPECT_EQ(BuildCommandLine({"/opt/my suite/rar", "a b", ""}),
              R"("/opt/my suite/rar" "a b" "")");
    EXPECT_EQ(BuildCommandLine({}), "");
    // A program name cannot escape a quote.
    EXPECT_THROW(BuildCommandLine({"my \"prog\""}), std::invalid_argument);
    EXPECT_THROW(BuildCommandLine({"\"prog"}), std::invalid_argument);
}

TEST(ChildProcess, RunsInTheGivenDirectoryAndReportsTheExitCode) {
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

TEST(ChildProcess, RunsExactlyTheGivenProgramNotOneAtABlankOfItsPath) {
    // The suite in "<dir>/my suite", and a program planted at "<dir>/my", where a search over
    // the blanks of an unquoted path would find it first.
    CTempDir dir;
    ASSERT_TRUE(MakeDirectory(dir.File("my suite")));
    const std::string archiver = dir.File("my suite/rar");
    WriteScript(archiver, "for a in \"$@\"; do echo \"[$a]\"; done >> args.txt");
    WriteScript(dir.File("my"), "echo planted > planted.txt");

    // As the updater starts the archiver.
    CChildProcess child;
    child.Start(archiver, "\"" + archiver + "\" x -o+ \"a b.rar\" ", dir.Path());
    ASSERT_TRUE(child.Wait(10000));
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_EQ(ReadWholeFile(dir.File("args.txt")), "[x]\n[-o+]\n[a b.rar]\n");

    // An unquoted command line changes the arguments, never the program.
    child.Start(archiver, archiver + " x", dir.Path());
    ASSERT_TRUE(child.Wait(10000));
    EXPECT_EQ(ReadWholeFile(dir.File("args.txt")), "[x]\n[-o+]\n[a b.rar]\n[suite/rar]\n[x]\n");

    // A relative path means the caller's directory, not the child's.
    const std::string relative =
        std::filesystem::relative(archiver, std::filesystem::current_path()).string();
    ASSERT_EQ(relative.front(), '.');
    child.Start(relative, "rar again", dir.Path());
    ASSERT_TRUE(child.Wait(10000));
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_NE(ReadWholeFile(dir.File("args.txt")).find("[again]"), std::string::npos);

    EXPECT_FALSE(FileExists(dir.File("planted.txt")));
}

TEST(ChildProcess, InheritsNoOpenFiles) {
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

TEST(ChildProcess, ThrowsTheSystemsReasonWhenAProgramCannotStart) {
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

    // Not searched along PATH: a bare name is a file in the caller's directory.
    error = start("true", dir.Path());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code(), ENOENT);

    error = start("/bin/true", dir.File("absent"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code(), ENOENT);
    EXPECT_EQ(std::string(error->what()), "Cannot change to directory \"" + dir.File("absent") +
                                              "\": No such file or directory");

    // A failed start leaves the object usable.
    child.Start("/bin/true", "true", dir.Path(), CChildProcess::Output::Capture);
    EXPECT_TRUE(child.Wait(10000));
    EXPECT_EQ(child.ExitCode(), 0);
}

TEST(ChildProcess, CapturesBothStreamsWithoutBlockingOnAFullPipe) {
    // Each stream far beyond a pipe's buffer, the second one written only after the first is
    // complete: a reader of one stream at a time would wait for ever.
    CTempDir dir;
    CChildProcess child;
    StartShell(child,
               "cat; head -c 1000000 /dev/zero | tr '\\0' e >&2; "
               "head -c 1500000 /dev/zero | tr '\\0' o; echo; exit 3",
               dir.Path(), CChildProcess::Output::Capture);
    ASSERT_TRUE(child.Wait(20000));
    EXPECT_EQ(child.ExitCode(), 3);
    EXPECT_EQ(child.CapturedErrors(), std::string(1000000, 'e'));
    EXPECT_EQ(child.CapturedOutput(), std::string(1500000, 'o') + "\n");

    // A new start forgets what the last one captured.
    StartShell(child, "echo again", dir.Path(), CChildProcess::Output::Capture);
    ASSERT_TRUE(child.Wait(10000));
    EXPECT_EQ(child.CapturedOutput(), "again\n");
    EXPECT_EQ(child.CapturedErrors(), "");
}

TEST(ChildProcess, CapturedOutputArrivesWhileWaitingInSlices) {
    CTempDir dir;
    CChildProcess child;
    StartShell(child, "echo first; sleep 1; echo second", dir.Path(),
               CChildProcess::Output::Capture);
    const auto start = std::chrono::steady_clock::now();
    bool ended = false;
    while (child.CapturedOutput().empty() && !ended) {
        ended = child.Wait(20);
    }
    EXPECT_FALSE(ended);
    EXPECT_EQ(child.CapturedOutput(), "first\n");
    EXPECT_FALSE(child.Wait(50));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_TRUE(child.Wait(-1));
    EXPECT_EQ(child.CapturedOutput(), "first\nsecond\n");
    EXPECT_EQ(child.ExitCode(), 0);
}

TEST(ChildProcess, WaitHonoursItsTimeLimit) {
    CTempDir dir;
    CChildProcess child;
    child.Start("/bin/sleep", "sleep 1", dir.Path());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(child.Wait(50));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(50));
    EXPECT_LT(waited, std::chrono::milliseconds(900));

    // The process moves with its owner.
    CChildProcess owner(std::move(child));
    EXPECT_TRUE(owner.Wait(-1));
    EXPECT_EQ(owner.ExitCode(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

TEST(FindInPath, TakesTheFirstExecutableFileAlongPath) {
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

TEST(ChildProcess, EndsWhenItsParentIsKilled) {
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
