#include "tests/app/RecordingWindow.h"

#include <chrono>
#include <thread>

#include "platform/Clock.h"

void CRecordingWindow::MarkLastLine(const std::string& suffix) {
    if (journal.empty()) {
        journal.emplace_back();
    }
    journal.back() += suffix;
}

void CRecordingWindow::PumpMessages() {
    const double began = MonotonicSeconds();
    if (whilePumping) {
        whilePumping();
    }
    if (pumpSeconds > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(pumpSeconds));
    }
    pumps.push_back({btOK().IsEnabled(), btCancel().Caption(), btCancel().IsEnabled(),
                     lUpdate().IsVisible(), lUpdate().Caption(),
                     journal.empty() ? std::string() : journal.back(), began, MonotonicSeconds()});
}
