#include "app/qt/QtMessageBoxes.h"

#include <QMessageBox>
#include <QString>

void ShowMessageBox(QWidget* parent, MessageKind kind, const std::string& title,
                    const std::string& text) {
    if (CMessageBoxRecorder::Record(kind, title, text)) {
        return;
    }
    QMessageBox box(kind == MessageKind::Warning ? QMessageBox::Warning : QMessageBox::Critical,
                    QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                    parent);
    box.exec();
}
