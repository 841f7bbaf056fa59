#include "app/qt/QtMessageBoxes.h"

#include <QMessageBox>
#include <QString>
#include <QTimer>

#include "platform/Interrupt.h"

namespace {

// How often an open box looks for a request to end the program.
constexpr int kInterruptPollMilliseconds = 100;

}  // namespace

void ShowMessageBox(QWidget* parent, MessageKind kind, const std::string& title,
                    const std::string& text) {
    if (CMessageBoxRecorder::Record(kind, title, text)) {
        return;
    }
    QMessageBox box(kind == MessageKind::Warning ? QMessageBox::Warning : QMessageBox::Critical,
                    QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                    parent);
    // A request to end the program (a signal) closes the box, as it ends everything else: the
    // code that showed it goes on to its end, and the window then closes with its status.
    QTimer interrupts;
    QObject::connect(&interrupts, &QTimer::timeout, &box, [&box] {
        if (InterruptRequested()) {
            box.reject();
        }
    });
    interrupts.start(kInterruptPollMilliseconds);
    box.exec();
}
