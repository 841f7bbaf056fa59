// A suite directory in which the updater cannot create files: refused by name before anything
// is touched, the database included.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "app/CommandLine.h"
#include "app/UpdateDriver.h"
#include "platform/SystemError.h"
#include "tests/app/RecordingWindow.h"
#include "tests/app/Suite.h"

namespace {

// A directory in which not even root can create a file (the immutable attribute), for as long as
// this lives; IsSet() is false where the file system or the process's rights do not allow it.
class CImmutableDirectory {
  public:
    explicit CImmutableDirectory(const std::string& path) : m_fd(open(path.c_str(), O_RDONLY)) {
        int flags = 0;
        m_set = m_fd >= 0 && ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                (flags |= FS_IMMUTABLE_FL, ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0);
    }
    ~CImmutableDirectory() {
        int flags = 0;
        if (m_set && ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(m_fd, FS_IOC_SETFLAGS, &flags);
        }
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    CImmutableDirectory(const CImmutableDirectory&) = delete;
    CImmutableDirectory& operator=(const CImmutableDirectory&) = delete;

    bool IsSet() const { return m_set; }

  private:
    int m_fd;
    bool m_set = false;
};

}  // namespace

TEST(SuiteDirectory, WithoutTheRightToCreateFilesNothingIsTouched) {
    CSuite suite;
    suite.CreateDatabase(237);
    WriteFile(suite.Scratch("package.rar"), "Rar!\x1a\x07");
    suite.Pack({{238, suite.Scratch("package.rar")}});
    const std::vector<std::string> before = DirectoryEntries(suite.Dir());
    const CImmutableDirectory frozen(suite.Dir());
    if (!frozen.IsSet()) {
        GTEST_SKIP() << "the file system or the user cannot make a directory immutable";
    }

    CRecordingWindow window;
    CUpdateDriver driver(window, suite.Paths(), RunMode::Console);
    driver.FormShow();
    EXPECT_TRUE(window.journal.empty()) << window.journal.front();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].kind, MessageKind::Error);
    EXPECT_EQ(window.boxes[0].text,
              "Немає права на запис до каталогу комплексу " + suite.Dir() + ": " +
                  SystemMessage(EPERM) +
                  ". Оновлення нічого не змінило. Запустіть його від імені адміністратора або "
                  "користувача, який може змінювати цей каталог.");
    EXPECT_FALSE(window.btOK().IsEnabled());
    EXPECT_EQ(driver.LastPreflight(), PreflightOutcome::Failed);
    EXPECT_EQ(driver.ExitStatus(), kExitNotStarted);
    // No lock file, no run record, and the database was not even opened.
    EXPECT_EQ(DirectoryEntries(suite.Dir()), before);
}
