#include "tests/app/RecordingWindow.h"

CRecordingWindow::CRecordingWindow() {
    curVer.SetCaption("-");
    actVer.SetCaption("-");
    update.SetCaption("Встановлення оновлення");
    textFile.SetCaption("Обробока файла:");
    file.SetCaption("lFile");
    updateTime.SetCaption("--:--");
}

void CRecordingWindow::MarkLastLine(const std::string& suffix) {
    if (journal.empty()) {
        journal.emplace_back();
    }
    journal.back() += suffix;
}

void CRecordingWindow::PumpMessages() {
    pumps.push_back({ok.IsEnabled(), cancel.Caption(), cancel.IsEnabled(), update.IsVisible(),
                     update.Caption(), journal.empty() ? std::string() : journal.back()});
}
