// CChildProcess on Windows: the exact program at a path with blanks and Cyrillic letters, its
// arguments and working directory, captured streams, the system's reasons for a failed start,
// the time limit, and the job that ends the child with the program that started it.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/ChildProcess.h"
#include "platform/Processes.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

// A copy of the helper program at `path`, which may carry any name.
void CopyHelper(const std::string& path) {
    ASSERT_TRUE(
        CopyFileW(ToUtf16(TestProgram("test_helper.exe")).c_str(), ToUtf16(path).c_str(), FALSE))
        << path;
}

// True once `condition` holds, checked every 50 ms for at most `milliseconds`.
template <typename Condition>
bool Eventually(Condition condition, int milliseconds) {
    for (int waited = 0; waited < milliseconds; waited += 50) {
        if (condition()) {
            return true;
        }
        Sleep(50);
    }
    return condition();
}

}  // namespace

TEST(ChildProcess, RunsTheProgramAtAQuotedPathInTheGivenDirectory) {
    CScratchDir scratch;
    const std::string programDir = scratch.File("програми з пробілами");
    const std::string workDir = scratch.File("lib.kvr робоча");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(programDir).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(workDir).c_str(), nullptr));
    const std::string program = programDir + "\\помічник.exe";
    CopyHelper(program);

    // The command line the updater builds for the archiver: the quoted package path with a
    // trailing blank, and an argument that needs escaping.
    const std::string commandLine =
        BuildCommandLine(
            {program, "args", "x", "-o+", workDir + "\\238.rar", "лапки \"всередині\""}) +
        " ";
    CChildProcess child;
    child.Start(program, commandLine, workDir, CChildProcess::Output::Capture);
    ASSERT_TRUE(child.Wait(20000));
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_EQ(child.CapturedOutput(),
              workDir + "\nx\n-o+\n" + workDir + "\\238.rar\nлапки \"всередині\"\n");
    EXPECT_EQ(child.CapturedErrors(), "to stderr");

    // The exit code comes back whole, and a second start on the same object starts afresh.
    child.Start(program, BuildCommandLine({program, "exit", "37"}), "");
    ASSERT_TRUE(child.Wait(20000));
    EXPECT_EQ(child.ExitCode(), 37);
    EXPECT_EQ(child.CapturedOutput(), "");
}

TEST(ChildProcess, RunsExactlyTheNamedFileNeverOneFoundBySearching) {
    CScratchDir scratch;
    // "C:\...\tool" with "tool.exe" beside it: Windows' search would add ".exe"; we must not.
    const std::string withoutExtension = scratch.File("tool");
    CopyHelper(withoutExtension + ".exe");
    CChildProcess child;
    try {
        child.Start(withoutExtension, "tool exit 0", "");
        FAIL() << "started a program by another name";
    } catch (const CSystemError& error) {
        EXPECT_EQ(error.Code(), ERROR_FILE_NOT_FOUND);
    }
    // A bare name is taken from our current directory, not from the system directories.
    EXPECT_THROW(child.Start("cmd.exe", "cmd /c exit 0", ""), CSystemError);
}

TEST(ChildProcess, ThrowsTheSystemsReasonWhenAProgramCannotStart) {
    CScratchDir scratch;
    const std::string missing = scratch.File("немає.exe");
    CChildProcess child;
    try {
        child.Start(missing, "\"" + missing + "\" x", "");
        FAIL() << "no exception";
    } catch (const CSystemError& error) {
        EXPECT_EQ(error.Code(), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(std::string(error.what()),
                  "Cannot start \"" + missing + "\": " + SystemMessage(ERROR_FILE_NOT_FOUND));
    }

    const std::string program = scratch.File("helper.exe");
    CopyHelper(program);
    const std::string missingDir = scratch.File("lib.kvr");
    try {
        child.Start(program, "helper exit 0", missingDir);
        FAIL() << "no exception";
    } catch (const CSystemError& error) {
        EXPECT_NE(error.Code(), 0);
        EXPECT_EQ(std::string(error.what()), "Cannot change to directory \"" + missingDir +
                                                 "\": " + SystemMessage(error.Code()));
    }

    // Not a program at all.
    const std::string text = scratch.File("notes.exe");
    WriteBytes(text, "just text");
    EXPECT_THROW(child.Start(text, "notes", ""), CSystemError);
}

TEST(ChildProcess, CapturesBothStreamsWithoutBlockingOnAFullPipe) {
    // Far more than a pipe holds (4 KiB to 64 KiB), on both streams in turns: a reader that
    // drained one stream only would leave the child blocked on the other.
    const std::string program = TestProgram("test_helper.exe");
    CChildProcess child;
    child.Start(program, "test_helper flood 3000000", "", CChildProcess::Output::Capture);
    ASSERT_TRUE(child.Wait(60000));
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_EQ(child.CapturedOutput(), std::string(3000000, 'o'));
    EXPECT_EQ(child.CapturedErrors(), std::string(3000000, 'e'));

    // Discarded output goes nowhere, and the same amount does not block either.
    child.Start(program, "test_helper flood 3000000", "");
    ASSERT_TRUE(child.Wait(60000));
    EXPECT_EQ(child.ExitCode(), 0);
    EXPECT_EQ(child.CapturedOutput(), "");
}

TEST(ChildProcess, WaitHonoursItsTimeLimit) {
    const std::string program = TestProgram("test_helper.exe");
    CChildProcess child;
    child.Start(program, "test_helper sleep 1500", "", CChildProcess::Output::Capture);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(child.Wait(100));
    const auto waited = std::chrono::steady_clock::now() - before;
    EXPECT_GE(waited, std::chrono::milliseconds(90));
    EXPECT_LT(waited, std::chrono::milliseconds(1000));
    EXPECT_EQ(child.ExitCode(), -1);
    EXPECT_TRUE(child.Wait(-1));
    EXPECT_EQ(child.ExitCode(), 0);
}

TEST(ChildProcess, EndsWithTheProgramThatStartedIt) {
    // The helper starts a copy of itself under a name of this test alone, as the updater starts
    // the archiver; killing the helper (as a crash or Task Manager would) must end the copy.
    CScratchDir scratch;
    const std::string name = "tsr-child-" + std::to_string(GetCurrentProcessId()) + ".exe";
    const std::string child = scratch.File(name);
    CopyHelper(child);
    {
        CStartedProgram parent(TestProgram("test_helper.exe"),
                               "start \"" + child + "\" \"child sleep 60000\"");
        ASSERT_TRUE(Eventually([&] { return IsProcessRunning(name); }, 10000));
        parent.Stop();
    }
    EXPECT_TRUE(Eventually([&] { return !IsProcessRunning(name); }, 10000))
        << "the child outlived the program that started it";
}

TEST(FindInPath, TakesTheFirstDirectoryAlongPathWithTheExeExtensionAdded) {
    CScratchDir scratch;
    const std::string first = scratch.File("перша");
    const std::string second = scratch.File("друга з пробілом");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(first).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(second).c_str(), nullptr));
    CopyHelper(second + "\\tsr-find.exe");
    // A directory of that name earlier along PATH is no program.
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(first + "\\tsr-find.exe").c_str(), nullptr));

    CEnvironmentVariable path(L"PATH", ToUtf16(first + ";;\"" + second + "\""));
    EXPECT_EQ(FindInPath("tsr-find"), second + "\\tsr-find.exe");
    EXPECT_EQ(FindInPath("tsr-find.exe"), second + "\\tsr-find.exe");
    EXPECT_EQ(FindInPath("tsr-missing"), "");
    CopyHelper(first + "\\tsr-first.exe");
    CopyHelper(second + "\\tsr-first.exe");
    EXPECT_EQ(FindInPath("tsr-first"), first + "\\tsr-first.exe");
}
