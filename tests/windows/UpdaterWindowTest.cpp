// tessara-updater.exe with its window, started like a user starts it, read from outside through
// the Win32 API: the journal, the disabled update button and the error box of a connection
// that fails for want of a client library. Needs a display (Wine with Xvfb).

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/ChildProcess.h"
#include "platform/SystemError.h"
#include "tests/windows/UpdaterTestSupport.h"
#include "tests/windows/UpdaterWindowSupport.h"

namespace {

// The screen's DPI for the programs started while it lives, where Wine keeps it (the display
// settings' "LogPixels", read by a program when it starts); the old setting comes back after.
class CScreenDpi {
  public:
    explicit CScreenDpi(DWORD dpi) {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_key,
                            nullptr) != ERROR_SUCCESS) {
            throw std::runtime_error("Cannot open the display settings");
        }
        DWORD type = 0;
        DWORD size = sizeof m_old;
        m_had = RegQueryValueExW(m_key, kValue, nullptr, &type, reinterpret_cast<BYTE*>(&m_old),
                                 &size) == ERROR_SUCCESS &&
                type == REG_DWORD;
        RegSetValueExW(m_key, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                       sizeof dpi);
    }
    ~CScreenDpi() {
        if (m_had) {
            RegSetValueExW(m_key, kValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_old),
                           sizeof m_old);
        } else {
            RegDeleteValueW(m_key, kValue);
        }
        RegCloseKey(m_key);
    }
    CScreenDpi(const CScreenDpi&) = delete;
    CScreenDpi& operator=(const CScreenDpi&) = delete;

  private:
    static constexpr wchar_t kValue[] = L"LogPixels";
    HKEY m_key = nullptr;
    DWORD m_old = 0;
    bool m_had = false;
};

// The line height of Tahoma at `height` (as CreateFont takes it), in pixels.
int LineHeight(int height, bool bold) {
    HFONT font = CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
    HDC dc = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    DeleteObject(font);
    return metrics.tmHeight;
}

// The place of a child window in its parent's client area, which may be another program's.
RECT PlaceOf(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

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

TEST(UpdaterWindow, OpensScaledForTheScreensDpi) {
    if (!RunningUnderWine()) {
        GTEST_SKIP() << "Windows takes a new DPI setting at the next logon";
    }
    const CPackedUpdater packed;
    ASSERT_TRUE(packed.error.empty()) << packed.error;
    CSuiteDir suite;
    suite.Install(packed.path);
    suite.WriteConfig("[Common]\r\nPathBaseGDB=lib.gdb\r\n");

    CChildProcess updater;
    HWND form = nullptr;
    {
        // 150 %, until the window is there (the program has read it by then).
        const CScreenDpi dpi(144);
        updater.Start(suite.Updater(), "\"" + suite.Updater() + "\"", suite.Path());
        form = WaitForWindow(L"TessaraUpdaterForm", suite.Updater(), nullptr);
    }
    ASSERT_NE(form, nullptr);
    HWND box = WaitForWindow(L"#32770", suite.Updater(), form);
    ASSERT_NE(box, nullptr);

    // The designed client area and places, multiplied by 1.5.
    RECT client{};
    GetClientRect(form, &client);
    EXPECT_EQ(client.right, 953);
    EXPECT_EQ(client.bottom, 684);
    const auto expectPlace = [&](FormControl control, RECT expected) {
        const RECT place = PlaceOf(FindControl(form, control));
        EXPECT_EQ(place.left, expected.left) << static_cast<int>(control);
        EXPECT_EQ(place.top, expected.top) << static_cast<int>(control);
        EXPECT_EQ(place.right, expected.right) << static_cast<int>(control);
        EXPECT_EQ(place.bottom, expected.bottom) << static_cast<int>(control);
    };
    expectPlace(FormControl::btOK, {701, 14, 701 + 113, 14 + 38});
    expectPlace(FormControl::Memo2, {69, 33, 69 + 846, 33 + 329});
    expectPlace(FormControl::Panel2, {0, 621, 953, 684});
    // The labels one line of Tahoma 8 pt at 144 DPI high, bold where designed.
    const RECT label = PlaceOf(FindControl(form, FormControl::Label1));
    EXPECT_EQ(label.left, 24);
    EXPECT_EQ(label.top, 9);
    EXPECT_EQ(label.bottom - label.top, LineHeight(-MulDiv(8, 144, 72), true));
    EXPECT_GT(LineHeight(-MulDiv(8, 144, 72), true), LineHeight(-MulDiv(8, 96, 72), true));

    PostMessageW(box, WM_COMMAND, IDOK, 0);
    for (int waited = 0; IsWindow(box) && waited < 10000; waited += 50) {
        Sleep(50);
    }
    PostMessageW(form, WM_CLOSE, 0, 0);
    ASSERT_TRUE(updater.Wait(30000));
    EXPECT_EQ(updater.ExitCode(), 0);
}
