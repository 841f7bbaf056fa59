#include "tests/app/RecordingWindow.h"

void CRecordingWindow::MarkLastLine(const std::string& suffix) {
    if (journal.empty()) {
        journal.emplace_back();
    }
    journal.back() += suffix;
}

void CRecordingWindow::PumpMessages() {
    pumps.push_back({btOK().IsEnabled(), btCancel().Caption(), btCancel().IsEnabled(),
                     lUpdate().IsVisible(), lUpdate().Caption(),
                     journal.empty() ? std::string() : journal.back()});
}
