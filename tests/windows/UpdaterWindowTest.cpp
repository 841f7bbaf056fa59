// tessara-updater.exe with its window, started like a user starts it, read from outside through
// the Win32 API: the journal, the disabled update button and the error box of a connection
// that fails for want of a client library. Needs a display (Wine with Xvfb).

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/ChildProcess.h"
#include "platform/SystemError.h"
#include "tests/windows/UpdaterTestSupport.h"
#include "tests/windows/UpdaterWindowSupport.h"

TEST(UpdaterWindow, MissingClientLibraryEndsTheChecksWithAnErrorBox) {
    const CPackedUpdater packed;
    ASSERT_TRUE(packed.error.empty()) << packed.error;
    CSuiteDir suite;
    suite.Install(packed.path);
    const std::string database = "D:\\Тессара\\LIB.GDB";
    suite.WriteConfig("[Common]\r\nPathBaseGDB=" + database + "\r\n");

    CChildProcess updater;
    updater.Start(suite.Updater(), "\"" + suite.Updater() + "\"", suite.Path());
    HWND form = WaitForWindow(L"TessaraUpdaterForm", suite.Updater(), nullptr);
    ASSERT_NE(form, nullptr);
    HWND box = WaitForWindow(L"#32770", suite.Updater(), form);
    ASSERT_NE(box, nullptr);

    EXPECT_EQ(TextOf(box), "Оновлення");
    EXPECT_EQ(MessageBoxText(box),
              "The Firebird client library fbclient.dll is neither in " + suite.Path() +
                  " nor on the system's search path: " + SystemMessage(126) + ".");
    // The journal as far as the checks went, the path its last line.
    EXPECT_EQ(
        TextOf(FindControl(form, FormControl::Memo2)),
        "Перевірка запущенної програми...OK\r\nПідключення до бази даних\r\n" + database + "\r\n");
    EXPECT_FALSE(IsWindowEnabled(FindControl(form, FormControl::btOK)));
    EXPECT_EQ(TextOf(FindControl(form, FormControl::lCurVer)), "-");
    EXPECT_EQ(TextOf(FindControl(form, FormControl::lActVer)), "-");

    // The box answered, the window stays until it is closed; closing it ends the program.
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    for (int waited = 0; IsWindow(box) && waited < 10000; waited += 50) {
        Sleep(50);
    }
    EXPECT_FALSE(IsWindow(box));
    EXPECT_TRUE(IsWindow(form));
    PostMessageW(form, WM_CLOSE, 0, 0);
    ASSERT_TRUE(updater.Wait(30000));
    EXPECT_EQ(updater.ExitCode(), 0);
}
