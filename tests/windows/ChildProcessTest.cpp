// What only Windows' child processes have (the portable behaviour is in tests/platform): no
// ".exe" added to the program's name, the job that ends the child with the program that started
// it, and the search along PATH as cmd.exe searches.

#include <windows.h>

#include <gtest/gtest.h>

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
        CopyFileW(ToUtf16(BuiltProgram("test_helper")).c_str(), ToUtf16(path).c_str(), FALSE))
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

TEST(WindowsChildProcess, RunsExactlyTheNamedFileNeverOneFoundBySearching) {
    CTempDir scratch;
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

TEST(WindowsChildProcess, EndsWithTheProgramThatStartedIt) {
    // The helper starts a copy of itself under a name of this test alone, as the updater starts
    // the archiver; killing the helper (as a crash or Task Manager would) must end the copy.
    CTempDir scratch;
    const std::string name = "tsr-child-" + std::to_string(GetCurrentProcessId()) + ".exe";
    const std::string child = scratch.File(name);
    CopyHelper(child);
    {
        CStartedProgram parent(BuiltProgram("test_helper"),
                               "start \"" + child + "\" \"child sleep 60000\"");
        ASSERT_TRUE(Eventually([&] { return IsProcessRunning(name); }, 10000));
        parent.Stop();
    }
    EXPECT_TRUE(Eventually([&] { return !IsProcessRunning(name); }, 10000))
        << "the child outlived the program that started it";
}

TEST(WindowsFindInPath, TakesTheFirstDirectoryAlongPathWithTheExeExtensionAdded) {
    CTempDir scratch;
    const std::string first = scratch.File("перша");
    const std::string second = scratch.File("друга з пробілом");
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(first).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(second).c_str(), nullptr));
    CopyHelper(second + "\\tsr-find.exe");
    // A directory of that name earlier along PATH is no program.
    ASSERT_TRUE(CreateDirectoryW(ToUtf16(first + "\\tsr-find.exe").c_str(), nullptr));

    CEnvironmentVariable path("PATH", first + ";;\"" + second + "\"");
    EXPECT_EQ(FindInPath("tsr-find"), second + "\\tsr-find.exe");
    EXPECT_EQ(FindInPath("tsr-find.exe"), second + "\\tsr-find.exe");
    EXPECT_EQ(FindInPath("tsr-missing"), "");
    CopyHelper(first + "\\tsr-first.exe");
    CopyHelper(second + "\\tsr-first.exe");
    EXPECT_EQ(FindInPath("tsr-first"), first + "\\tsr-first.exe");
}
