// The process list as the pre-flight reads it: copies of the test helper started under chosen
// names are seen by their whole name in any case of ASCII letters, and no longer once they end.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "tests/support/TestSupport.h"

namespace {

bool Listed(const std::string& name) {
    const std::vector<std::string> names = RunningImageNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

// A copy of the helper program running under the file name `name` until Stop().
class CRunningCopy {
  public:
    CRunningCopy(const CTempDir& dir, const std::string& name)
        : m_stopFile(dir.File(name + ".stop")) {
        const std::string path = dir.File(name);
        const CopyResult copy = CopyFileReplace(BuiltProgram("test_helper"), path);
        EXPECT_TRUE(copy.Ok()) << copy.message;
        m_process.Start(path, BuildCommandLine({path, "until", m_stopFile}), dir.Path());
    }
    ~CRunningCopy() { Stop(); }
    CRunningCopy(const CRunningCopy&) = delete;
    CRunningCopy& operator=(const CRunningCopy&) = delete;

    void Stop() {
        if (!FileExists(m_stopFile)) {
            WriteFile(m_stopFile, "");
            EXPECT_TRUE(m_process.Wait(20000));
        }
    }

  private:
    std::string m_stopFile;
    CChildProcess m_process;
};

}  // namespace

TEST(Processes, SeesTheSuiteUnderItsNameInAnyCase) {
    for (const char* name : {"tessara.exe", "TESSARA.EXE", "Tessara.Exe"}) {
        CTempDir own;  // each copy in a directory of its own: on Windows the names are one file
        CRunningCopy copy(own, name);
        EXPECT_TRUE(IsProcessRunning("tessara.exe")) << name;
        EXPECT_TRUE(Listed(name)) << name;
    }
}

// Names unique to this test process, so that suites started by other tests running at the same
// time cannot disturb the checks that a process is absent.
TEST(Processes, ComparesWholeNamesOnly) {
    CTempDir dir;
    const std::string name = "t" + std::to_string(CurrentProcessId()) + ".exe";
    ASSERT_FALSE(IsProcessRunning(name));
    {
        CRunningCopy before(dir, "x" + name);
        CRunningCopy after(dir, name + "1");
        CRunningCopy prefix(dir, name.substr(0, name.size() - 1));
        EXPECT_TRUE(IsProcessRunning("x" + name));
        EXPECT_TRUE(IsProcessRunning(name + "1"));
        EXPECT_FALSE(IsProcessRunning(name));
    }
    {
        CRunningCopy exact(dir, name);
        EXPECT_TRUE(IsProcessRunning(name));
        exact.Stop();
        EXPECT_FALSE(IsProcessRunning(name));
    }
}

TEST(Processes, ListsThisProcess) {
    EXPECT_TRUE(Listed(ProgramFileName("test_platform")));
    for (const std::string& name : RunningImageNames()) {
        EXPECT_FALSE(name.empty());
    }
}
