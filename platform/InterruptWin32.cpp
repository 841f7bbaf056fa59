#include "platform/Interrupt.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace {

std::atomic<DWORD> g_event{0};
std::atomic<bool> g_requested{false};
// A request noted by a test instead of the console: the flag is read on every pump, the name only
// when the run says what ended it.
std::atomic<bool> g_testRequested{false};
std::mutex g_testMutex;
std::string g_testName;
std::function<void(const std::string&, int)> g_secondNote;
// Set once the run has ended after a request.
HANDLE g_acknowledged = nullptr;

// How long closing the console waits for the run to say it was interrupted; Windows ends the
// process some five seconds after the close at the latest.
constexpr DWORD kCloseGraceMilliseconds = 4500;

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI NoteConsoleEvent(DWORD event) {
    const bool second = g_requested.exchange(true);
    g_event.store(event);
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            // A second Ctrl+C goes to the default handler, which ends the program, once it has
            // said why.
            if (second && g_secondNote) {
                g_secondNote(event == CTRL_C_EVENT ? "Ctrl+C" : "Ctrl+Break",
                             static_cast<int>(STATUS_CONTROL_C_EXIT));
            }
            return second ? FALSE : TRUE;
        default:
            // The console is closing, or the user logs off or shuts down: the process ends once
            // this returns, so it waits for the run to finish its last line.
            WaitForSingleObject(g_acknowledged, kCloseGraceMilliseconds);
            return TRUE;
    }
}

}  // namespace

void InstallInterruptHandlers() {
    g_acknowledged = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(NoteConsoleEvent, TRUE);
}

bool InterruptRequested() {
    return g_requested.load() || g_testRequested.load();
}

std::string InterruptName() {
    if (!g_requested.load()) {
        std::lock_guard lock(g_testMutex);
        return g_testName;
    }
    switch (g_event.load()) {
        case CTRL_C_EVENT:
            return "Ctrl+C";
        case CTRL_BREAK_EVENT:
            return "Ctrl+Break";
        case CTRL_CLOSE_EVENT:
            return "закриття консолі";
        case CTRL_LOGOFF_EVENT:
            return "вихід із системи";
        default:
            return "завершення роботи Windows";
    }
}

void SetSecondInterruptNote(std::function<void(const std::string& name, int status)> note) {
    g_secondNote = std::move(note);
}

void AcknowledgeInterrupt() {
    if (g_acknowledged != nullptr) {
        SetEvent(g_acknowledged);
    }
}

void SetInterruptForTest(const std::string& name) {
    g_requested.store(false);
    {
        std::lock_guard lock(g_testMutex);
        g_testName = name;
    }
    g_testRequested.store(!name.empty());
}
