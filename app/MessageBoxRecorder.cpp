#include "app/MessageBoxRecorder.h"

namespace {
CMessageBoxRecorder* g_recorder = nullptr;
}

CMessageBoxRecorder::CMessageBoxRecorder() : m_previous(g_recorder) {
    g_recorder = this;
}

CMessageBoxRecorder::~CMessageBoxRecorder() {
    g_recorder = m_previous;
}

bool CMessageBoxRecorder::Record(MessageKind kind, const std::string& title,
                                 const std::string& text) {
    if (g_recorder == nullptr) {
        return false;
    }
    g_recorder->m_boxes.push_back({kind, title, text});
    return true;
}
