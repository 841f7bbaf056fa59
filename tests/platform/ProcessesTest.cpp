#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/Processes.h"
#include "tests/support/TestSupport.h"

namespace {

// A copy of /bin/sleep started under a chosen file name, ended by its PID.
class CRunningCopy {
  public:
    CRunningCopy(const std::string& dir, const std::string& name) : m_path(dir + "/" + name) {
        const CopyResult copy = CopyFileReplace("/bin/sleep", m_path);
        EXPECT_TRUE(copy.Ok()) << copy.message;
        m_pid = fork();
        if (m_pid == 0) {
            execl(m_path.c_str(), m_path.c_str(), "30", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait until the new program has replaced the forked copy of this test.
        const std::string exeLink = "/proc/" + std::to_string(m_pid) + "/exe";
        for (int i = 0; i < 500; ++i) {
            char target[4096];
            const ssize_t length = readlink(exeLink.c_str(), target, sizeof target);
            if (length > 0 && std::string(target, static_cast<size_t>(length)) == m_path) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ~CRunningCopy() { Stop(); }

    void Stop() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);  // collected, so it leaves no zombie entry behind
            m_pid = -1;
        }
    }

  private:
    std::string m_path;
    pid_t m_pid = -1;
};

}  // namespace

TEST(Processes, SeesTheSuiteUnderItsNameInAnyCase) {
    CTempDir dir;
    for (const char* name : {"tessara.exe", "TESSARA.EXE", "Tessara.Exe"}) {
        CRunningCopy copy(dir.Path(), name);
        EXPECT_TRUE(IsProcessRunning("tessara.exe")) << name;
        const std::vector<std::string> names = RunningImageNames();
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
}

// Names unique to this test process, so that suites started by other tests running at the same
// time cannot disturb the checks that a process is absent.
TEST(Processes, ComparesWholeNamesOnly) {
    CTempDir dir;
    const std::string name = "t" + std::to_string(getpid()) + ".exe";
    ASSERT_FALSE(IsProcessRunning(name));
    {
        CRunningCopy before(dir.Path(), "x" + name);
        CRunningCopy after(dir.Path(), name + "1");
        CRunningCopy stem(dir.Path(), name.substr(0, name.size() - 4));
        EXPECT_TRUE(IsProcessRunning("x" + name));
        EXPECT_TRUE(IsProcessRunning(name + "1"));
        EXPECT_FALSE(IsProcessRunning(name));
    }
    {
        CRunningCopy exact(dir.Path(), name);
        EXPECT_TRUE(IsProcessRunning(name));
        exact.Stop();
        EXPECT_FALSE(IsProcessRunning(name));
    }
}

TEST(Processes, ListsThisProcess) {
    const std::vector<std::string> names = RunningImageNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "test_platform"), names.end());
    for (const std::string& name : names) {
        EXPECT_FALSE(name.empty());
    }
}
