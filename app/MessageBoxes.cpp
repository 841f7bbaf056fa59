#include "app/MessageBoxes.h"

#include <QMessageBox>
#include <QString>

namespace {
CMessageBoxRecorder* g_recorder = nullptr;
}

CMessageBoxRecorder::CMessageBoxRecorder() : m_previous(g_recorder) {
    g_recorder = this;
}

CMessageBoxRecorder::~CMessageBoxRecorder() {
    g_recorder = m_previous;
}

void ShowMessageBox(QWidget* parent, MessageKind kind, const std::string& title,
                    const std::string& text) {
    if (g_recorder != nullptr) {
        g_recorder->m_boxes.push_back({kind, title, text});
        return;
    }
    QMessageBox box(kind == MessageKind::Warning ? QMessageBox::Warning : QMessageBox::Critical,
                    QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                    parent);
    box.exec();
}
