#include "tests/install/RecordingOwner.h"

#include <algorithm>

void CRecordingLabel::SetVisible(bool visible) {
    m_visible = visible;
    visibilityChanges.push_back(visible);
}

void CRecordingLabel::SetCaption(const std::string& caption) {
    m_caption = caption;
    captions.push_back(caption);
}

void CRecordingBar::SetMaximum(int maximum) {
    m_maximum = maximum;
    m_position = std::min(m_position, maximum);
    maximums.push_back(maximum);
}

void CRecordingBar::SetPosition(int position) {
    m_position = std::clamp(position, 0, m_maximum);
}

void CRecordingOwner::MarkLastLine(const std::string& suffix) {
    if (journal.empty())
        journal.emplace_back();
    journal.back() += suffix;
}
