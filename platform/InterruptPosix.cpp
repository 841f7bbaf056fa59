#include "platform/Interrupt.h"

#include <signal.h>

#include <atomic>
#include <string>

namespace {

// Written by the handler: only a lock-free atomic is safe there.
std::atomic<int> g_signal{0};
std::string g_testRequest;  // tests only, on their own thread
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void NoteSignal(int number) {
    g_signal.store(number);
    // The next one of the kind takes the default action: a second Ctrl+C ends the program.
    signal(number, SIG_DFL);
}

}  // namespace

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    // Calls in progress go on (no EINTR in file and pipe calls); the run looks at the flag
    // within a tenth of a second.
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(number, &action, nullptr);
    }
}

bool InterruptRequested() {
    return g_signal.load() != 0 || !g_testRequest.empty();
}

std::string InterruptName() {
    switch (g_signal.load()) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        case 0:
            return g_testRequest;
        default:
            return "signal " + std::to_string(g_signal.load());
    }
}

void AcknowledgeInterrupt() {}

void SetInterruptForTest(const std::string& name) {
    g_signal.store(0);
    g_testRequest = name;
}
