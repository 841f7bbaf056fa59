#include "platform/Interrupt.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace {

std::atomic<int> g_signal{0};
// A request noted by a test instead of a signal: the flag is read on every pump, the name only
// when the run says what ended it.
std::atomic<bool> g_testRequested{false};
std::mutex g_testMutex;
std::string g_testName;
std::function<void(const std::string&, int)> g_secondNote;

std::string SignalName(int number) {
    switch (number) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "signal " + std::to_string(number);
    }
}

sigset_t InterruptSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&signals, number);
    }
    return signals;
}

// Takes the signals as they come, on a thread of its own: no handler runs in the middle of
// other code, and no library's handler (the Firebird client turns SIGINT and SIGTERM into a
// shutdown of every attachment) ever sees them.
void WaitForSignals(sigset_t signals) {
    for (;;) {
        int number = 0;
        if (sigwait(&signals, &number) != 0) {
            continue;
        }
        if (g_signal.exchange(number) != 0) {
            // The second request ends the program at once, as it would have without us, once
            // it has said why.
            if (g_secondNote) {
                g_secondNote(SignalName(number), 128 + number);
            }
            signal(number, SIG_DFL);
            pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
            raise(number);
        }
    }
}

}  // namespace

void InstallInterruptHandlers() {
    // Blocked before any other thread starts, so that every thread inherits the mask and the
    // signals wait for WaitForSignals. Child processes get the default mask back (ChildProcess).
    const sigset_t signals = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread(WaitForSignals, signals).detach();
}

bool InterruptRequested() {
    return g_signal.load() != 0 || g_testRequested.load();
}

std::string InterruptName() {
    const int number = g_signal.load();
    if (number != 0) {
        return SignalName(number);
    }
    std::lock_guard lock(g_testMutex);
    return g_testName;
}

void SetSecondInterruptNote(std::function<void(const std::string& name, int status)> note) {
    g_secondNote = std::move(note);
}

void AcknowledgeInterrupt() {}

void SetInterruptForTest(const std::string& name) {
    g_signal.store(0);
    {
        std::lock_guard lock(g_testMutex);
        g_testName = name;
    }
    g_testRequested.store(!name.empty());
}
