// test_window_driver: a whole update in the updater's window, driven as a user drives it, for the
// scripted tests under Wine. It waits for the window of PROGRAM, for the checks to enable
// "Оновить" (for an updater started with --undo, "Скасувати оновлення"), presses it, and waits
// for the run's last journal line (or the undo's); message boxes on the way
// are answered with OK, and an error box of the checks ends the wait for the button. It then
// writes the journal to standard output (UTF-8, one line each), followed by "[message] TEXT"
// for each box (its lines joined by blanks) and "[failures] TEXT" when the window shows failed
// items, and closes the window (with --leave-open it stays, for a picture of it).
//
//   test_window_driver [--leave-open] [--desktop NAME] PROGRAM [SECONDS]
//   test_window_driver --hold-desktop
//
// SECONDS bounds the run (300 by default). --desktop looks for the window on the named desktop
// (a Wine virtual desktop started with `explorer /desktop=NAME`) instead of the driver's own.
//
// --hold-desktop only keeps Wine's default desktop in use until it is killed. Wine ends the
// desktop's explorer when the last program on the desktop ends, and the next window program
// starts it again with its own standard error inherited: started by a test that reads that
// program's output, the test would wait for the end of a stream the desktop holds open. The Wine
// session starts one holder, with its output going nowhere, for as long as it runs.
//
// Exit status 0 when the run or the checks ended, 1 when the window, the button or the end did
// not come in time (what was seen by then is written all the same).

#include <windows.h>

#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Text.h"
#include "platform/Utf16.h"
#include "tests/windows/UpdaterWindowSupport.h"

namespace {

void Write(DWORD stream, const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

bool IsFinalLine(const std::string& line) {
    return line == "Оновлення завершене успішно" || line.starts_with("Помилка при оновлені: ") ||
           line == "Оновлення скасовано";
}

class CDriver {
  public:
    CDriver(std::string program, unsigned seconds, bool leaveOpen)
        : m_program(std::move(program)),
          m_deadline(GetTickCount64() + seconds * 1000ull),
          m_leaveOpen(leaveOpen) {}

    int Run() {
        m_form = WaitForWindow(L"TessaraUpdaterForm", m_program, nullptr);
        if (m_form == nullptr) {
            return Fail("no window of " + m_program);
        }
        // The window may be found before its controls are made.
        HWND button = nullptr;
        const auto enabled = [&] {
            button = FindControl(m_form, FormControl::btOK);
            return button != nullptr && IsWindowEnabled(button) != FALSE;
        };
        if (!WaitFor([&] { return enabled() || !m_boxes.empty(); })) {
            return Fail("the checks did not enable the update button");
        }
        if (!enabled()) {  // the checks failed with an error box
            Report();
            PostMessageW(m_form, WM_CLOSE, 0, 0);
            return 0;
        }
        PostMessageW(m_form, WM_COMMAND,
                     MAKEWPARAM(static_cast<int>(FormControl::btOK), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
        if (!WaitFor([&] {
                const std::vector<std::string> lines = Journal();
                return !lines.empty() && IsFinalLine(lines.back());
            })) {
            return Fail("the run did not end");
        }
        AnswerBoxes();  // an error box comes up after the last journal line
        Report();
        if (!m_leaveOpen) {
            PostMessageW(m_form, WM_CLOSE, 0, 0);
        }
        return 0;
    }

  private:
    std::vector<std::string> Journal() const {
        return SplitLines(TextOf(FindControl(m_form, FormControl::Memo2)));
    }

    // Polls `done` until it holds or the time is up, answering message boxes meanwhile.
    template <typename Done>
    bool WaitFor(Done done) {
        while (GetTickCount64() < m_deadline) {
            AnswerBoxes();
            if (done()) {
                return true;
            }
            Sleep(100);
        }
        return false;
    }

    void AnswerBoxes() {
        while (HWND box = WaitForWindow(L"#32770", m_program, m_form, 200)) {
            m_boxes.push_back(MessageBoxText(box));
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            for (int waited = 0; IsWindow(box) && waited < 10000; waited += 50) {
                Sleep(50);
            }
        }
    }

    void Report() const {
        std::string out;
        for (const std::string& line : Journal()) {
            out += line + "\n";
        }
        for (const std::string& box : m_boxes) {
            std::string text;
            for (const std::string& line : SplitLines(box)) {
                text += (text.empty() ? "" : " ") + line;
            }
            out += "[message] " + text + "\n";
        }
        HWND failures = FindControl(m_form, FormControl::lFailures);
        if (failures != nullptr && IsWindowVisible(failures)) {
            out += "[failures] " + TextOf(failures) + "\n";
        }
        Write(STD_OUTPUT_HANDLE, out);
    }

    int Fail(const std::string& why) const {
        if (m_form != nullptr) {
            Report();
        }
        Write(STD_ERROR_HANDLE, "test_window_driver: " + why + "\n");
        return 1;
    }

    std::string m_program;
    ULONGLONG m_deadline;
    bool m_leaveOpen;
    HWND m_form = nullptr;
    std::vector<std::string> m_boxes;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring_view(argv[1]) == L"--hold-desktop") {
        GetDesktopWindow();  // starts the desktop's explorer if none runs, and uses the desktop
        Sleep(INFINITE);
    }
    bool leaveOpen = false;
    const wchar_t* desktop = nullptr;
    int first = 1;
    for (; first < argc; ++first) {
        const std::wstring_view option = argv[first];
        if (option == L"--leave-open") {
            leaveOpen = true;
        } else if (option == L"--desktop" && first + 1 < argc) {
            desktop = argv[++first];
        } else {
            break;
        }
    }
    if (argc < first + 1 || argc > first + 2) {
        Write(STD_ERROR_HANDLE,
              "usage: test_window_driver [--leave-open] [--desktop NAME] PROGRAM [SECONDS]\n"
              "       test_window_driver --hold-desktop\n");
        return 2;
    }
    // Windows are found on the calling thread's desktop; this thread has none of its own yet,
    // so it may still be moved.
    if (desktop != nullptr) {
        // The desktop comes with the program started on it, which may still be starting.
        HDESK handle = nullptr;
        for (int tries = 0; handle == nullptr && tries < 300; ++tries) {
            handle = OpenDesktopW(desktop, 0, FALSE, GENERIC_ALL);
            if (handle == nullptr) {
                Sleep(100);
            }
        }
        if (handle == nullptr || SetThreadDesktop(handle) == FALSE) {
            Write(STD_ERROR_HANDLE, "test_window_driver: no desktop " + ToUtf8(desktop) + "\n");
            return 1;
        }
    }
    const unsigned seconds =
        argc == first + 2 ? static_cast<unsigned>(std::wcstoul(argv[first + 1], nullptr, 10)) : 300;
    return CDriver(ToUtf8(argv[first]), seconds, leaveOpen).Run();
}
