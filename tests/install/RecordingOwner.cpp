#include "tests/install/RecordingOwner.h"

void CRecordingLabel::SetVisible(bool visible) {
    CPlainLabel::SetVisible(visible);
    visibilityChanges.push_back(visible);
}

void CRecordingLabel::SetCaption(const std::string& caption) {
    CPlainLabel::SetCaption(caption);
    captions.push_back(caption);
}

void CRecordingBar::SetMaximum(int maximum) {
    CPlainProgressBar::SetMaximum(maximum);
    maximums.push_back(maximum);
}

void CRecordingOwner::MarkLastLine(const std::string& suffix) {
    if (journal.empty()) {
        journal.emplace_back();
    }
    journal.back() += suffix;
}
