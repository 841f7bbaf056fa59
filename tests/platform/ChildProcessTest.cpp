// Child processes as the updater starts the archiver, on every system with the test helper as
// the program: the command line rules, the exact program at a path with blanks and Cyrillic
// letters, its directory, arguments, exit code and captured streams, the system's reasons for
// a failed start, the time limit, and an owner that waits for its process.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/SystemError.h"
#include "tests/support/TestSupport.h"

namespace {

using Args = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// A copy of the helper program at `path`, which may carry any name.
void CopyHelper(const std::string& path) {
    const CopyResult copy = CopyFileReplace(BuiltProgram("test_helper"), path);
    ASSERT_TRUE(copy.Ok()) << path << ": " << copy.message;
}

std::filesystem::path FsPath(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// Makes `dir` this process's current directory for one scope.
class CCurrentDirectory {
  public:
    explicit CCurrentDirectory(const std::string& dir) : m_old(std::filesystem::current_path()) {
        std::filesystem::current_path(FsPath(dir));
    }
    ~CCurrentDirectory() { std::filesystem::current_path(m_old); }
    CCurrentDirectory(const CCurrentDirectory&) = delete;
    CCurrentDirectory& operator=(const CCurrentDirectory&) = delete;

  private:
    std::filesystem::path m_old;
};

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

TEST(ChildProcess, RunsTheProgramAtAQuotedPathInTheGivenDirectory) {
    CTempDir dir;
    const std::string programDir = dir.File("програми з пробілами");
    const std::string workDir = dir.File("lib.kvr робоча");
    ASSERT_TRUE(MakeDirectory(programDir));
    ASSERT_TRUE(MakeDirectory(workDir));
    const std::string program = PathJoin(programDir, ProgramFileName("помічник"));
    CopyHelper(program);

    // The command line the updater builds for the archiver: the quoted package path with a
    // trailing blank, and an argument that needs escaping.
    const std::string package = PathJoin(workDir, "238.rar");
    const std::string commandLine =
        BuildCommandLine({program, "args", "x", "-o+", package, "лапки \"всередині\""}) + " ";
    CChildProcess child;
    child.Start(program, commandLine, workDir, CChildProcess::Output::Capture);
    ASSERT_TRUE(child.Wait(20000));
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_EQ(child.CapturedOutput(),
              program + "\n" + workDir + "\nx\n-o+\n" + package + "\nлапки \"всередині\"\n");
    EXPECT_EQ(child.CapturedErrors(), "to stderr");
    EXPECT_TRUE(child.Wait(0));  // waiting again is harmless

    // The exit code comes back whole, and a second start on the same object starts afresh.
    child.Start(program, BuildCommandLine({program, "exit", "37"}), "");
    ASSERT_TRUE(child.Wait(20000));
    EXPECT_EQ(child.ExitCode(), 37);
    EXPECT_EQ(child.CapturedOutput(), "");
    EXPECT_EQ(child.CapturedErrors(), "");
}

TEST(ChildProcess, RunsExactlyTheGivenProgramNotOneAtABlankOfItsPath) {
    // The suite in "<dir>/my suite", and a program planted at "<dir>/my", where a search over
    // the blanks of an unquoted path would find it first.
    CTempDir dir;
    ASSERT_TRUE(MakeDirectory(dir.File("my suite")));
    const std::string archiver = PathJoin(dir.File("my suite"), ProgramFileName("rar"));
    CopyHelper(archiver);
    CopyHelper(dir.File(ProgramFileName("my")));

    // Unquoted, the command line gives other arguments (here no mode the helper knows, so it
    // names itself), never another program.
    CChildProcess child;
    child.Start(archiver, archiver + " x", dir.Path(), CChildProcess::Output::Capture);
    ASSERT_TRUE(child.Wait(20000));
    EXPECT_EQ(child.ExitCode(), 2);
    EXPECT_EQ(child.CapturedOutput(), archiver + "\n");

    // A relative path means the caller's directory, not the child's.
    ASSERT_TRUE(MakeDirectory(dir.File("elsewhere")));
    {
        CCurrentDirectory current(dir.Path());
        const std::string relative = PathJoin("my suite", ProgramFileName("rar"));
        child.Start(relative, "rar again", dir.File("elsewhere"), CChildProcess::Output::Capture);
    }
    ASSERT_TRUE(child.Wait(20000));
    EXPECT_EQ(child.CapturedOutput(), archiver + "\n");
}

TEST(ChildProcess, ThrowsTheSystemsReasonWhenAProgramCannotStart) {
    CTempDir dir;
    CChildProcess child;
    const auto start = [&](const std::string& program, const std::string& directory) {
        return StartError([&] {
            child.Start(program, BuildCommandLine({program, "x"}), directory);
        });
    };

    const std::string missing = dir.File(ProgramFileName("немає"));
    std::optional<CSystemError> error = start(missing, dir.Path());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code(), kErrorFileNotFound);
    EXPECT_EQ(std::string(error->what()),
              "Cannot start \"" + missing + "\": " + SystemMessage(kErrorFileNotFound));

    const std::string program = dir.File(ProgramFileName("helper"));
    CopyHelper(program);
    const std::string missingDir = dir.File("lib.kvr");
    error = start(program, missingDir);
    ASSERT_TRUE(error);
    EXPECT_NE(error->Code(), 0);
    EXPECT_EQ(std::string(error->what()),
              "Cannot change to directory \"" + missingDir + "\": " + SystemMessage(error->Code()));

    // Not a program at all, and a directory.
    const std::string text = dir.File(ProgramFileName("notes"));
    WriteFile(text, "just text");
    EXPECT_TRUE(start(text, dir.Path()));
    ASSERT_TRUE(MakeDirectory(dir.File(ProgramFileName("folder"))));
    EXPECT_TRUE(start(dir.File(ProgramFileName("folder")), dir.Path()));

    // Never searched along PATH: a bare name is a file in the caller's directory.
    const std::string bare = ProgramFileName("tsr-path-" + std::to_string(CurrentProcessId()));
    ASSERT_TRUE(MakeDirectory(dir.File("on-path")));
    CopyHelper(PathJoin(dir.File("on-path"), bare));
    {
        CEnvironmentVariable path("PATH", dir.File("on-path"));
        error = start(bare, dir.Path());
    }
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Code(), kErrorFileNotFound);

    // A failed start leaves the object usable.
    child.Start(program, BuildCommandLine({program, "exit", "0"}), dir.Path(),
                CChildProcess::Output::Capture);
    EXPECT_TRUE(child.Wait(20000));
    EXPECT_EQ(child.ExitCode(), 0);
}

TEST(ChildProcess, CapturesBothStreamsWithoutBlockingOnAFullPipe) {
    // Far more than a pipe holds, on both streams in turns: a reader that drained one stream
    // only would leave the child blocked on the other.
    const std::string program = BuiltProgram("test_helper");
    CChildProcess child;
    child.Start(program, BuildCommandLine({program, "flood", "3000000"}), "",
                CChildProcess::Output::Capture);
    ASSERT_TRUE(child.Wait(60000));
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_TRUE(child.CapturedOutput() == std::string(3000000, 'o'));
    EXPECT_TRUE(child.CapturedErrors() == std::string(3000000, 'e'));

    // Discarded output goes nowhere, and the same amount does not block either.
    child.Start(program, BuildCommandLine({program, "flood", "3000000"}), "");
    ASSERT_TRUE(child.Wait(60000));
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_EQ(child.CapturedOutput(), "");
}

TEST(ChildProcess, CapturedOutputArrivesWhileWaitingInSlices) {
    // The helper writes its second line only once the test lets it.
    CTempDir dir;
    const std::string program = BuiltProgram("test_helper");
    CChildProcess child;
    child.Start(program, BuildCommandLine({program, "slices", dir.File("go")}), "",
                CChildProcess::Output::Capture);
    bool ended = false;
    while (child.CapturedOutput().empty() && !ended) {
        ended = child.Wait(20);
    }
    EXPECT_FALSE(ended);
    EXPECT_EQ(child.CapturedOutput(), "first\n");
    // A wait in slices returns at the end of its slice while the process runs on (the bound
    // leaves room for a busy machine).
    const auto start = Clock::now();
    EXPECT_FALSE(child.Wait(50));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    WriteFile(dir.File("go"), "");
    EXPECT_TRUE(child.Wait(-1));
    EXPECT_EQ(child.CapturedOutput(), "first\nsecond\n");
    EXPECT_EQ(child.ExitCode(), 0);
}

TEST(ChildProcess, WaitHonoursItsTimeLimitAndTheProcessMovesWithItsOwner) {
    // The helper runs until the test lets it end.
    CTempDir dir;
    const std::string program = BuiltProgram("test_helper");
    CChildProcess child;
    child.Start(program, BuildCommandLine({program, "until", dir.File("stop")}), "",
                CChildProcess::Output::Capture);
    const auto start = Clock::now();
    EXPECT_FALSE(child.Wait(100));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(90));
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_EQ(child.ExitCode(), -1);

    CChildProcess owner(std::move(child));
    EXPECT_TRUE(child.Wait(0));   // nothing left to wait for
    EXPECT_FALSE(owner.Wait(0));  // the process went with its owner and still runs
    WriteFile(dir.File("stop"), "");
    EXPECT_TRUE(owner.Wait(-1));
    EXPECT_EQ(owner.ExitCode(), 0);
}

TEST(ChildProcess, AnOwnerThatGoesOrIsReplacedWaitsForItsProcess) {
    CTempDir dir;
    const std::string program = BuiltProgram("test_helper");
    const auto startUntil = [&](CChildProcess& child, const std::string& stopFile) {
        child.Start(program, BuildCommandLine({program, "until", stopFile}), "",
                    CChildProcess::Output::Capture);
    };
    // The helper ends only once its stop file exists, which a thread makes a little later, and
    // leaves "<stop file>.seen" on its way out. The owner's end and a move over it must wait
    // for that.
    const auto stopLater = [](const std::string& stopFile) {
        return std::thread([stopFile] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            WriteFile(stopFile, "");
        });
    };
    std::thread first = stopLater(dir.File("stop-1"));
    {
        CChildProcess child;
        startUntil(child, dir.File("stop-1"));
    }
    EXPECT_TRUE(FileExists(dir.File("stop-1.seen")));
    first.join();

    CChildProcess child;
    startUntil(child, dir.File("stop-2"));
    std::thread stopper = stopLater(dir.File("stop-2"));
    child = CChildProcess();
    EXPECT_TRUE(FileExists(dir.File("stop-2.seen")));
    stopper.join();
    EXPECT_TRUE(child.Wait(0));
    EXPECT_EQ(child.ExitCode(), -1);
}

// A run that is asked to end does not wait for the archiver: it ends it.
TEST(ChildProcess, TerminateEndsAProcessThatWouldRunOnForEver) {
    CTempDir dir;
    const std::string program = BuiltProgram("test_helper");
    CChildProcess child;
    child.Start(program, BuildCommandLine({program, "until", dir.File("never")}), "",
                CChildProcess::Output::Capture);
    EXPECT_FALSE(child.Wait(0));
    child.Terminate();
    // Half the helper's own minute: a process left running would not end in it.
    ASSERT_TRUE(child.Wait(30000));
#ifdef _WIN32
    EXPECT_EQ(child.ExitCode(), 1);  // the job's exit code
#else
    EXPECT_EQ(child.ExitCode(), 128 + 9);  // SIGKILL
#endif
    child.Terminate();  // ended and collected: nothing to do
    EXPECT_TRUE(child.Wait(0));
}
