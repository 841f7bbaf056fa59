// The Windows main window with a small driver in place of the update driver, read back through
// the Win32 API as a person would see it: texts, places, visibility, enabled states, the bar.
// Needs a display (Wine with Xvfb).

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "app/win32/Win32Dpi.h"
#include "app/win32/Win32Form.h"
#include "app/win32/Win32MessageBoxes.h"
#include "platform/Utf16.h"
#include "tests/windows/WindowsTestSupport.h"

namespace {

// Stands in for the update driver: shows a package on show and runs a short "update" on btOK,
// pumping between its steps like the real run. Tests look in while it pumps.
class CFakeDriver : public IFormDriver {
  public:
    explicit CFakeDriver(IUpdaterWindow& window) : m_window(window) {}

    void FormShow() override {
        ++m_formShows;
        if (m_failOnShow) {
            throw std::runtime_error("Cannot attach to lib.gdb");
        }
        m_window.AppendLine("Перевірка запущенної програми...");
        m_window.MarkLastLine("OK");
        m_window.AppendLine("238_RAR");
        m_window.MarkLastLine(" [OK]");
        m_window.lCurVer().SetCaption("237");
        m_window.lActVer().SetCaption("238");
        m_window.btOK().SetEnabled(true);
    }

    void btOKClick() override {
        m_running = true;
        m_window.btOK().SetEnabled(false);
        m_window.btCancel().SetCaption("Відмінити");
        m_window.AppendLine("Створення тимчасового каталога");
        m_window.lUpdate().SetCaption("Встановлення оновлення");
        m_window.btCancel().SetEnabled(false);
        for (IControl* control : std::initializer_list<IControl*>{
                 &m_window.lUpdate(), &m_window.ProgressBar2(), &m_window.lTextFile(),
                 &m_window.lFile(), &m_window.lUpdateTime()}) {
            control->SetVisible(true);
        }
        m_window.ProgressBar2().SetMaximum(4);
        m_window.ProgressBar2().SetPosition(2);
        m_window.lFile().SetCaption("up.2026.05.03.lsql (1/2)");
        m_window.lUpdateTime().SetCaption("00:01:30");
        if (m_whilePumping) {
            m_whilePumping();
        }
        m_window.PumpMessages();
        if (m_afterPump) {
            m_afterPump();
        }
        for (IControl* control : std::initializer_list<IControl*>{
                 &m_window.lUpdate(), &m_window.ProgressBar2(), &m_window.lTextFile(),
                 &m_window.lFile(), &m_window.lUpdateTime()}) {
            control->SetVisible(false);
        }
        m_window.btOK().SetVisible(false);
        m_window.btCancel().SetCaption("Зачинити");
        m_window.btCancel().SetEnabled(true);
        m_window.AppendLine("Оновлення завершене успішно");
        m_running = false;
    }

    bool IsRunning() const override { return m_running; }

    int m_formShows = 0;
    bool m_failOnShow = false;
    std::function<void()> m_whilePumping;  // before the run's pump
    std::function<void()> m_afterPump;
    bool m_running = false;

  private:
    IUpdaterWindow& m_window;
};

// A form with a fake driver; the driver is reachable for the test.
class CFormWithFake {
  public:
    CFormWithFake()
        : m_form([this](IUpdaterWindow& window) {
              auto driver = std::make_unique<CFakeDriver>(window);
              m_driver = driver.get();
              return driver;
          }) {}
    ~CFormWithFake() {
        // A window closed by its user asks the message loop to end; no loop runs here.
        MSG quit{};
        PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }

    TWin32Form& Form() { return m_form; }
    CFakeDriver& Driver() { return *m_driver; }
    HWND Control(FormControl control) { return m_form.Control(control); }

  private:
    CFakeDriver* m_driver = nullptr;
    TWin32Form m_form;
};

std::wstring Text(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool OwnVisible(HWND window) {
    return (GetWindowLongPtrW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

// Place in the parent's client area.
RECT Place(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void ExpectPlace(HWND window, int left, int top, int width, int height) {
    const RECT rect = Place(window);
    EXPECT_EQ(rect.left, left);
    EXPECT_EQ(rect.top, top);
    EXPECT_EQ(rect.right - rect.left, width);
    EXPECT_EQ(rect.bottom - rect.top, height);
}

LOGFONTW Font(HWND window) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

// The font a control draws with, as the system realised it (not as it was asked for): its
// weight, its face and the width of `text` in it.
struct RealisedFont {
    LONG weight;
    std::wstring face;
    LONG width;
};

RealisedFont Realised(HWND window, HFONT font, const std::wstring& text) {
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return {metrics.tmWeight, face, extent.cx};
}

// What the control shows on the screen: the pixels of its client area.
std::vector<DWORD> Pixels(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    HDC memory = CreateCompatibleDC(dc);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* first = static_cast<const DWORD*>(bits);
    std::vector<DWORD> pixels(
        first, first + static_cast<size_t>(client.right) * static_cast<size_t>(client.bottom));
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, dc);
    return pixels;
}

// As Windows sends it: the new DPI and the window's rectangle there, which here makes the
// designed client area of that DPI.
void MoveToDpi(HWND window, int dpi) {
    RECT suggested{};
    GetWindowRect(window, &suggested);
    RECT client{};
    GetClientRect(window, &client);
    suggested.right += DesignClientSize(dpi).width - client.right;
    suggested.bottom += DesignClientSize(dpi).height - client.bottom;
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

void PressKey(HWND target, WPARAM key, TWin32Form& form) {
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
    form.PumpMessages();
}

bool QuitRequested() {
    MSG quit{};
    return PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

}  // namespace

TEST(Win32Form, ControlsAsDesigned) {
    CFormWithFake fake;
    TWin32Form& form = fake.Form();
    HWND window = form.Handle();
    EXPECT_EQ(Text(window), L"Оновлення");
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 635);
    EXPECT_EQ(client.bottom, 456);
    RECT frame{};
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);

    struct ExpectedLabel {
        FormControl control;
        const wchar_t* caption;
        bool bold;
        bool visible;
        POINT position;
    };
    const ExpectedLabel labels[] = {
        {FormControl::Label1, L"Поточна версія", true, true, {16, 6}},
        {FormControl::lCurVer, L"-", true, true, {143, 5}},
        {FormControl::Label2, L"Доступна версія", true, true, {16, 6}},
        {FormControl::lActVer, L"-", true, true, {143, 6}},
        {FormControl::lUpdate, L"Встановлення оновлення", true, false, {17, 24}},
        {FormControl::lTextFile, L"Обробока файла:", false, false, {17, 64}},
        {FormControl::lFile, L"lFile", false, false, {17, 80}},
        {FormControl::lUpdateTime, L"--:--", false, false, {601, 21}},
    };
    for (const ExpectedLabel& expected : labels) {
        SCOPED_TRACE(static_cast<int>(expected.control));
        HWND label = fake.Control(expected.control);
        EXPECT_EQ(Text(label), expected.caption);
        EXPECT_EQ(Font(label).lfWeight >= FW_BOLD, expected.bold);
        EXPECT_EQ(std::wstring(Font(label).lfFaceName), L"Tahoma");
        EXPECT_EQ(OwnVisible(label), expected.visible);
        EXPECT_EQ(Place(label).left, expected.position.x);
        EXPECT_EQ(Place(label).top, expected.position.y);
        EXPECT_GT(Place(label).right - Place(label).left, 0);
    }
    for (FormControl version : {FormControl::lCurVer, FormControl::lActVer}) {
        HWND label = fake.Control(version);
        EXPECT_EQ(Place(label).right - Place(label).left, 191);
        EXPECT_TRUE(GetWindowLongPtrW(label, GWL_STYLE) & SS_RIGHT);
    }
    EXPECT_TRUE(GetWindowLongPtrW(fake.Control(FormControl::lUpdateTime), GWL_STYLE) & SS_RIGHT);

    HWND ok = fake.Control(FormControl::btOK);
    EXPECT_EQ(Text(ok), L"Оновить");
    EXPECT_FALSE(IsWindowEnabled(ok));
    EXPECT_TRUE(OwnVisible(ok));
    ExpectPlace(ok, 467, 9, 75, 25);
    HWND cancel = fake.Control(FormControl::btCancel);
    EXPECT_EQ(Text(cancel), L"Зачинити");
    EXPECT_TRUE(IsWindowEnabled(cancel));
    ExpectPlace(cancel, 555, 9, 75, 25);

    HWND bar = fake.Control(FormControl::ProgressBar2);
    ExpectPlace(bar, 17, 40, 604, 17);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
    EXPECT_TRUE(OwnVisible(bar));

    // Panels from top to bottom fill the client area.
    ExpectPlace(fake.Control(FormControl::plInfo), 0, 0, 635, 256);
    ExpectPlace(fake.Control(FormControl::Panel3), 0, 256, 635, 46);
    ExpectPlace(fake.Control(FormControl::Panel4), 1, 1, 633, 22);
    ExpectPlace(fake.Control(FormControl::Panel5), 1, 23, 633, 22);
    ExpectPlace(fake.Control(FormControl::plUp), 0, 302, 635, 112);
    EXPECT_TRUE(OwnVisible(fake.Control(FormControl::plUp)));
    ExpectPlace(fake.Control(FormControl::Panel2), 0, 414, 635, 42);

    HWND memo = fake.Control(FormControl::Memo2);
    ExpectPlace(memo, 46, 22, 564, 219);
    EXPECT_EQ(Text(memo), L"");
    const LONG_PTR memoStyle = GetWindowLongPtrW(memo, GWL_STYLE);
    EXPECT_TRUE(memoStyle & ES_MULTILINE);
    EXPECT_FALSE(memoStyle & ES_READONLY);
    EXPECT_FALSE(memoStyle & ES_AUTOHSCROLL);  // long lines wrap
    EXPECT_FALSE(memoStyle & (WS_VSCROLL | WS_HSCROLL));

    EXPECT_FALSE(OwnVisible(fake.Control(FormControl::lFailures)));
    EXPECT_FALSE(OwnVisible(fake.Control(FormControl::btLog)));
}

TEST(Win32Form, AnchoredControlsFollowTheWindowSize) {
    CFormWithFake fake;
    HWND window = fake.Form().Handle();
    HWND time = fake.Control(FormControl::lUpdateTime);
    const LONG timeRight = Place(time).right;
    RECT frame{};
    GetWindowRect(window, &frame);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + 200,
                 frame.bottom - frame.top + 100, SWP_NOMOVE | SWP_NOZORDER);
    ExpectPlace(fake.Control(FormControl::btOK), 667, 9, 75, 25);
    ExpectPlace(fake.Control(FormControl::btCancel), 755, 9, 75, 25);
    ExpectPlace(fake.Control(FormControl::Memo2), 46, 22, 764, 319);
    ExpectPlace(fake.Control(FormControl::ProgressBar2), 17, 40, 804, 17);
    ExpectPlace(fake.Control(FormControl::Panel2), 0, 514, 835, 42);
    ExpectPlace(fake.Control(FormControl::plUp), 0, 402, 835, 112);
    ExpectPlace(fake.Control(FormControl::btLog), 46 + 764 - 120, 1, 120, 20);
    EXPECT_EQ(Place(time).right, timeRight + 200);

    // A longer estimate grows to the left: the right edge stays.
    const LONG width = Place(time).right - Place(time).left;
    fake.Form().lUpdateTime().SetCaption("01:23:45");
    EXPECT_EQ(Place(time).right, timeRight + 200);
    EXPECT_GT(Place(time).right - Place(time).left, width);
}

TEST(Win32Form, JournalLinesMarksAndCyrillic) {
    CFormWithFake fake;
    TWin32Form& form = fake.Form();
    form.MarkLastLine("[OK]");  // a mark without a line starts the first one
    form.AppendLine("A");
    form.MarkLastLine("[OK]");
    form.AppendLine("Наявність архиватора RAR...");
    form.MarkLastLine("[OK]");
    form.AppendLine("C:\\users\\тест\\Temp\\lib.kvr");
    EXPECT_EQ(
        form.JournalText(),
        "[OK]\r\nA[OK]\r\nНаявність архиватора RAR...[OK]\r\nC:\\users\\тест\\Temp\\lib.kvr\r\n");
    EXPECT_EQ(ToUtf8(Text(fake.Control(FormControl::Memo2))), form.JournalText());

    // Beyond the 32 K characters a text box takes by default.
    const std::string line(200, 'x');
    for (int i = 0; i < 170; ++i) {
        form.AppendLine(line);
    }
    EXPECT_GT(form.JournalText().size(), 32768u);
    EXPECT_TRUE(ToUtf8(Text(fake.Control(FormControl::Memo2))) == form.JournalText());
}

TEST(Win32Form, ControlsThroughTheDriverInterface) {
    CFormWithFake fake;
    TWin32Form& form = fake.Form();
    HWND bar = fake.Control(FormControl::ProgressBar2);
    IProgressBar& progress = form.ProgressBar2();
    progress.SetMaximum(4);
    progress.SetPosition(9);
    EXPECT_EQ(progress.Position(), 4);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 4);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 4);
    progress.SetPosition(-3);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
    // An empty phase shows an empty bar.
    progress.SetPosition(3);
    progress.SetMaximum(0);
    EXPECT_EQ(progress.Maximum(), 0);
    EXPECT_EQ(progress.Position(), 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
    EXPECT_GT(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 0);

    // Hiding the panel keeps its controls' own flags, as they were set.
    form.lFile().SetVisible(true);
    form.plUp().SetVisible(false);
    EXPECT_FALSE(form.plUp().IsVisible());
    EXPECT_TRUE(form.lFile().IsVisible());
    EXPECT_FALSE(form.lUpdate().IsVisible());

    // A file name is shown as it is ("&" is no mnemonic) and the label grows with it.
    const LONG before = Place(fake.Control(FormControl::lFile)).right;
    form.lFile().SetCaption("Звіти & довідки.fr3 (3/12)");
    EXPECT_EQ(form.lFile().Caption(), "Звіти & довідки.fr3 (3/12)");
    EXPECT_EQ(Text(fake.Control(FormControl::lFile)), L"Звіти & довідки.fr3 (3/12)");
    EXPECT_GT(Place(fake.Control(FormControl::lFile)).right, before);

    form.btCancel().SetEnabled(false);
    EXPECT_FALSE(IsWindowEnabled(fake.Control(FormControl::btCancel)));
    EXPECT_FALSE(form.btCancel().IsEnabled());
    form.btOK().SetVisible(false);
    EXPECT_FALSE(OwnVisible(fake.Control(FormControl::btOK)));
    EXPECT_FALSE(form.btOK().IsVisible());
    form.lCurVer().SetCaption("237");
    EXPECT_EQ(Text(fake.Control(FormControl::lCurVer)), L"237");
    // Fixed width: the version label does not shrink to its text.
    EXPECT_EQ(Place(fake.Control(FormControl::lCurVer)).right -
                  Place(fake.Control(FormControl::lCurVer)).left,
              191);
}

TEST(Win32Form, FirstShowingRunsTheChecksOnce) {
    CFormWithFake fake;
    TWin32Form& form = fake.Form();
    EXPECT_EQ(fake.Driver().m_formShows, 0);
    form.Show();
    form.PumpMessages();
    EXPECT_EQ(fake.Driver().m_formShows, 1);
    EXPECT_TRUE(IsWindowVisible(form.Handle()));
    EXPECT_EQ(Text(fake.Control(FormControl::Memo2)),
              L"Перевірка запущенної програми...OK\r\n238_RAR [OK]\r\n");
    EXPECT_EQ(Text(fake.Control(FormControl::lActVer)), L"238");
    EXPECT_TRUE(IsWindowEnabled(fake.Control(FormControl::btOK)));

    ShowWindow(form.Handle(), SW_HIDE);
    form.Show();
    form.PumpMessages();
    EXPECT_EQ(fake.Driver().m_formShows, 1);
    EXPECT_EQ(form.JournalLines().size(), 2u);
}

TEST(Win32Form, ErrorOfAHandlerGoesToTheErrorBox) {
    CMessageBoxRecorder boxes;
    CFormWithFake fake;
    fake.Driver().m_failOnShow = true;
    fake.Form().Show();
    fake.Form().PumpMessages();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].kind, MessageKind::Error);
    EXPECT_EQ(boxes.Boxes()[0].title, "Оновлення");
    EXPECT_EQ(boxes.Boxes()[0].text, "Cannot attach to lib.gdb.");
    // The window goes on as it was.
    EXPECT_TRUE(IsWindow(fake.Form().Handle()));
    EXPECT_FALSE(IsWindowEnabled(fake.Control(FormControl::btOK)));

    fake.Form().ShowMessageBox(MessageKind::Warning, "Оновлення", "Запущена програма Тессара");
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[1].kind, MessageKind::Warning);
    EXPECT_EQ(boxes.Boxes()[1].text, "Запущена програма Тессара");
}

TEST(Win32Form, RunThroughTheButtonsRefusesToCloseWhilePumping) {
    CFormWithFake fake;
    TWin32Form& form = fake.Form();
    form.Show();
    form.PumpMessages();
    HWND window = form.Handle();
    HWND ok = fake.Control(FormControl::btOK);
    HWND cancel = fake.Control(FormControl::btCancel);
    HWND bar = fake.Control(FormControl::ProgressBar2);

    bool seenMidRun = false;
    fake.Driver().m_whilePumping = [&] {
        // Closing from the title bar and Esc arrive while the run pumps.
        PostMessageW(window, WM_CLOSE, 0, 0);
        PostMessageW(fake.Control(FormControl::Memo2), WM_KEYDOWN, VK_ESCAPE, 1);
    };
    fake.Driver().m_afterPump = [&] {
        seenMidRun = true;
        EXPECT_TRUE(IsWindow(window));
        EXPECT_FALSE(IsWindowEnabled(ok));
        EXPECT_EQ(Text(cancel), L"Відмінити");
        EXPECT_FALSE(IsWindowEnabled(cancel));
        EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 4);
        EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 2);
        EXPECT_TRUE(IsWindowVisible(fake.Control(FormControl::lUpdate)));
        EXPECT_EQ(Text(fake.Control(FormControl::lFile)), L"up.2026.05.03.lsql (1/2)");
        EXPECT_TRUE(IsWindowVisible(fake.Control(FormControl::lUpdateTime)));
        // Enabled again while the run still pumps, the button cannot close the window either.
        EnableWindow(cancel, TRUE);
        SendMessageW(cancel, BM_CLICK, 0, 0);
        EXPECT_TRUE(IsWindow(window));
    };
    SendMessageW(ok, BM_CLICK, 0, 0);
    ASSERT_TRUE(seenMidRun);
    EXPECT_FALSE(QuitRequested());
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(OwnVisible(ok));
    EXPECT_EQ(Text(cancel), L"Зачинити");
    EXPECT_TRUE(IsWindowEnabled(cancel));
    EXPECT_FALSE(OwnVisible(fake.Control(FormControl::lUpdate)));
    EXPECT_EQ(form.JournalLines().back(), "Оновлення завершене успішно");

    // After the run Esc presses «Зачинити», which closes the window and ends the loop.
    PressKey(fake.Control(FormControl::Memo2), VK_ESCAPE, form);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(QuitRequested());
}

TEST(Win32Form, EscDoesNothingWhileTheCancelButtonIsDisabled) {
    CFormWithFake fake;
    TWin32Form& form = fake.Form();
    form.Show();
    form.PumpMessages();
    form.btCancel().SetEnabled(false);
    PressKey(form.Handle(), VK_ESCAPE, form);
    EXPECT_TRUE(IsWindow(form.Handle()));
    form.btCancel().SetEnabled(true);
    form.btCancel().SetVisible(false);
    PressKey(form.Handle(), VK_ESCAPE, form);
    EXPECT_TRUE(IsWindow(form.Handle()));
    EXPECT_FALSE(QuitRequested());
    form.btCancel().SetVisible(true);
    PressKey(fake.Control(FormControl::btCancel), VK_ESCAPE, form);
    EXPECT_FALSE(IsWindow(form.Handle()));
    EXPECT_TRUE(QuitRequested());
}

TEST(Win32Form, FailedItemsOfferTheirLogs) {
    CTempDir dir;
    const std::string utf8Log = dir.File("up.2026.05.03.lsql.log");
    WriteFile(utf8Log, "insert into NO_SUCH_TABLE values (1);\r\nТаблиця невідома\n");
    const std::string cp1251Log = dir.File("up.99.238.lsql.log");
    WriteFile(cp1251Log, "\xcf\xee\xec\xe8\xeb\xea\xe0\r\n");  // "Помилка" in Windows-1251

    CFormWithFake fake;
    TWin32Form& form = fake.Form();
    form.Show();
    form.PumpMessages();
    form.ShowFailedItems({{utf8Log, 2}, {cp1251Log, 1}}, {});
    HWND failures = fake.Control(FormControl::lFailures);
    EXPECT_TRUE(IsWindowVisible(failures));
    EXPECT_EQ(Text(failures), L"Не виконано елементів: 3");
    EXPECT_EQ(Font(failures).lfWeight, FW_BOLD);
    HWND log = fake.Control(FormControl::btLog);
    EXPECT_TRUE(IsWindowVisible(log));
    EXPECT_EQ(Text(log), L"Журнал помилок");

    SendMessageW(log, BM_CLICK, 0, 0);
    HWND view = FindWindowW(nullptr, L"Журнал помилок");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(GetWindow(view, GW_OWNER), form.Handle());
    const std::wstring shown = Text(GetWindow(view, GW_CHILD));
    EXPECT_NE(shown.find(ToUtf16(utf8Log)), std::wstring::npos);
    EXPECT_NE(shown.find(L"NO_SUCH_TABLE values (1);\r\nТаблиця невідома\r\n"), std::wstring::npos)
        << ToUtf8(shown);
    EXPECT_NE(shown.find(ToUtf16(cp1251Log)), std::wstring::npos);
    EXPECT_NE(shown.find(L"Помилка"), std::wstring::npos) << ToUtf8(shown);
    SendMessageW(view, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(view));
    EXPECT_TRUE(IsWindow(form.Handle()));
    EXPECT_FALSE(QuitRequested());
}

TEST(Win32Form, DriverThatCannotStartTakesTheWindowWithIt) {
    HWND created = nullptr;
    EXPECT_THROW(TWin32Form([&](IUpdaterWindow& window) -> std::unique_ptr<IFormDriver> {
                     created = static_cast<TWin32Form&>(window).Handle();
                     throw std::runtime_error("lib.ini cannot be read");
                 }),
                 std::runtime_error);
    ASSERT_NE(created, nullptr);
    EXPECT_FALSE(IsWindow(created));
    EXPECT_FALSE(QuitRequested());
}

TEST(Win32Form, MovingToAMonitorOfAnotherDpiScalesFontsAndPlaces) {
    CFormWithFake fake;
    TWin32Form& form = fake.Form();
    HWND window = form.Handle();
    HWND file = fake.Control(FormControl::lFile);
    form.lFile().SetCaption("Звіти & довідки.fr3 (3/12)");
    const LONG fileWidth = Place(file).right - Place(file).left;
    // As Windows sends it: the new DPI and the window's rectangle there, which here makes the
    // designed client area of that DPI.
    const auto moveToDpi = [&](int dpi) {
        RECT suggested{};
        GetWindowRect(window, &suggested);
        RECT client{};
        GetClientRect(window, &client);
        suggested.right += DesignClientSize(dpi).width - client.right;
        suggested.bottom += DesignClientSize(dpi).height - client.bottom;
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
    };

    moveToDpi(144);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 953);
    EXPECT_EQ(client.bottom, 684);
    ExpectPlace(fake.Control(FormControl::btOK), 701, 14, 113, 38);
    ExpectPlace(fake.Control(FormControl::btCancel), 833, 14, 113, 38);
    ExpectPlace(fake.Control(FormControl::ProgressBar2), 26, 60, 906, 26);
    ExpectPlace(fake.Control(FormControl::Memo2), 69, 33, 846, 329);
    ExpectPlace(fake.Control(FormControl::plInfo), 0, 0, 953, 384);
    ExpectPlace(fake.Control(FormControl::Panel2), 0, 621, 953, 63);
    // Tahoma 8 pt at 144 DPI in every control, bold where designed.
    for (const FormControl control :
         {FormControl::Label1, FormControl::lFile, FormControl::lUpdateTime, FormControl::btOK,
          FormControl::Memo2}) {
        EXPECT_EQ(Font(fake.Control(control)).lfHeight, -16) << static_cast<int>(control);
    }
    EXPECT_EQ(Font(fake.Control(FormControl::Label1)).lfWeight, FW_BOLD);
    EXPECT_EQ(Font(file).lfWeight, FW_NORMAL);
    // Labels at their scaled places, sized to their captions in the larger font.
    EXPECT_EQ(Place(fake.Control(FormControl::Label1)).left, 24);
    EXPECT_EQ(Place(fake.Control(FormControl::Label1)).top, 9);
    EXPECT_EQ(Place(file).left, 26);
    EXPECT_EQ(Place(file).top, 120);
    EXPECT_GT(Place(file).right - Place(file).left, fileWidth * 13 / 10);
    EXPECT_EQ(Place(fake.Control(FormControl::lUpdateTime)).left, 902);
    EXPECT_EQ(Place(fake.Control(FormControl::lCurVer)).right -
                  Place(fake.Control(FormControl::lCurVer)).left,
              287);

    // The log window opens at the window's DPI too.
    CTempDir dir;
    WriteFile(dir.File("up.lsql.log"), "error\r\n");
    form.ShowFailedItems({{dir.File("up.lsql.log"), 1}}, {});
    EXPECT_EQ(Place(fake.Control(FormControl::lFailures)).left, 69);
    SendMessageW(fake.Control(FormControl::btLog), BM_CLICK, 0, 0);
    HWND view = FindWindowW(nullptr, L"Журнал помилок");
    ASSERT_NE(view, nullptr);
    RECT viewRect{};
    GetWindowRect(view, &viewRect);
    EXPECT_EQ(viewRect.right - viewRect.left, 900);
    EXPECT_EQ(viewRect.bottom - viewRect.top, 600);
    EXPECT_EQ(Font(GetWindow(view, GW_CHILD)).lfHeight, -16);
    SendMessageW(view, WM_CLOSE, 0, 0);

    // Back on a monitor of 96 DPI the window is as designed again.
    moveToDpi(96);
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 635);
    EXPECT_EQ(client.bottom, 456);
    ExpectPlace(fake.Control(FormControl::btOK), 467, 9, 75, 25);
    ExpectPlace(fake.Control(FormControl::Memo2), 46, 22, 564, 219);
    EXPECT_EQ(Place(fake.Control(FormControl::lUpdateTime)).left, 601);
    EXPECT_EQ(Place(file).right - Place(file).left, fileWidth);
    EXPECT_EQ(Font(file).lfHeight, -11);
}

// The run's stage caption changes from "Підготовка оновлення" to the longer "Встановлення
// оновлення" while it is shown. Drawn into the shorter label, the longer caption wrapped, and
// growing the label repainted only its new strip: "Встановлення          ння". What the label
// shows must be what a full repaint of it shows, at 96 and at 144 DPI.
TEST(Win32Form, StageCaptionIsDrawnWhole) {
    for (const int dpi : {96, 144}) {
        SCOPED_TRACE(dpi);
        CFormWithFake fake;
        TWin32Form& form = fake.Form();
        if (dpi != kDesignDpi) {
            MoveToDpi(form.Handle(), dpi);
        }
        form.Show();
        form.PumpMessages();
        HWND stage = fake.Control(FormControl::lUpdate);
        form.lUpdate().SetCaption("Підготовка оновлення");
        form.lUpdate().SetVisible(true);
        form.PumpMessages();
        UpdateWindow(form.Handle());

        form.lUpdate().SetCaption("Встановлення оновлення");
        form.PumpMessages();
        UpdateWindow(form.Handle());
        EXPECT_EQ(Text(stage), L"Встановлення оновлення");
        const HFONT font = reinterpret_cast<HFONT>(SendMessageW(stage, WM_GETFONT, 0, 0));
        EXPECT_GE(Place(stage).right - Place(stage).left,
                  Realised(stage, font, L"Встановлення оновлення").width);
        const std::vector<DWORD> shown = Pixels(stage);

        RedrawWindow(stage, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        const std::vector<DWORD> whole = Pixels(stage);
        ASSERT_FALSE(whole.empty());
        EXPECT_NE(std::count(whole.begin(), whole.end(), whole.front()),
                  static_cast<std::ptrdiff_t>(whole.size()))
            << "the label shows no text at all";
        EXPECT_TRUE(shown == whole) << "the caption on the screen is not the caption drawn whole";
    }
}

// The labels designed bold are drawn bold: the font the system realised for them is bold, and
// their captions are wider in it than in the window's normal font. (Wine realises bold Tahoma
// as Liberation Sans Bold: the face is the system's choice.)
TEST(Win32Form, BoldLabelsAreDrawnBold) {
    for (const int dpi : {96, 144}) {
        SCOPED_TRACE(dpi);
        CFormWithFake fake;
        TWin32Form& form = fake.Form();
        if (dpi != kDesignDpi) {
            MoveToDpi(form.Handle(), dpi);
        }
        const HFONT normal = reinterpret_cast<HFONT>(
            SendMessageW(fake.Control(FormControl::lFile), WM_GETFONT, 0, 0));
        for (const FormControl control :
             {FormControl::Label1, FormControl::lCurVer, FormControl::Label2, FormControl::lActVer,
              FormControl::lUpdate}) {
            SCOPED_TRACE(static_cast<int>(control));
            HWND label = fake.Control(control);
            const HFONT font = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
            EXPECT_GE(Font(label).lfWeight, FW_BOLD);
            const std::wstring sample = L"Поточна версія 238";
            const RealisedFont bold = Realised(label, font, sample);
            EXPECT_GE(bold.weight, FW_BOLD);
            EXPECT_FALSE(bold.face.empty());
            EXPECT_GT(bold.width, Realised(label, normal, sample).width);
        }
        EXPECT_LT(Realised(fake.Control(FormControl::lFile), normal, L"x").weight, FW_BOLD);
    }
}
