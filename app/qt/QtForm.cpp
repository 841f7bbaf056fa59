#include "app/qt/QtForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStringDecoder>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <chrono>

#include "app/UpdateDriver.h"
#include "app/qt/QtMessageBoxes.h"

namespace {

QString ToQt(const std::string& text) {
    return QString::fromStdString(text);
}

QRect ToQt(const LayoutRect& place) {
    return {place.left, place.top, place.width, place.height};
}

// Update logs hold the bytes of statements and server messages as they came: UTF-8 or the
// suite's Windows-1251. Qt's codecs here, the system's code page in the Windows window.
std::string DecodeLog(std::string_view bytes) {
    const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(data);
    if (utf8.hasError()) {
        QStringDecoder cp1251("windows-1251");
        text = cp1251.isValid() ? QString(cp1251(data)) : QString::fromLatin1(data);
    }
    return text.toStdString();
}

}  // namespace

TForm1::TForm1(const FormDriverFactory& makeDriver, QWidget* parent) : QWidget(parent) {
    setObjectName("Form1");
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setFont(QFont("Tahoma", 8));
    CreateControls();
    const LayoutSize design = DesignClientSize(kDesignDpi);
    resize(design.width, design.height);
    move(0, 0);
    LayoutControls();
    // The update driver reads lib.ini and creates the session; an error here ends the program.
    StartDriver(makeDriver);
}

TForm1::~TForm1() {
    StopDriver();
}

QWidget*& TForm1::At(FormControl control) {
    return m_controls[ControlIndex(control)];
}

QWidget* TForm1::At(FormControl control) const {
    return m_controls[ControlIndex(control)];
}

void TForm1::CreateControls() {
    // Widgets for the design, as TWin32Form makes Windows controls for it: each kind with its
    // toolkit's own settings.
    for (const ControlDesign& design : FormDesign()) {
        QWidget* parent = design.parent ? At(*design.parent) : this;
        const QString caption = QString::fromUtf8(design.caption);
        QWidget* control = nullptr;
        switch (design.kind) {
            case ControlKind::Panel: {
                auto* panel = new QFrame(parent);
                panel->setFrameShape(QFrame::NoFrame);
                control = panel;
                break;
            }
            case ControlKind::Memo: {
                auto* memo = new QPlainTextEdit(parent);
                memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
                memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                // The journal in the tooltip colours.
                QPalette palette = memo->palette();
                palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
                memo->setPalette(palette);
                control = memo;
                break;
            }
            case ControlKind::Label: {
                auto* label = new QLabel(caption, parent);
                if (design.alignRight) {
                    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                }
                control = label;
                break;
            }
            case ControlKind::Button: {
                auto* button = new QPushButton(caption, parent);
                button->setAutoDefault(false);
                control = button;
                break;
            }
            case ControlKind::ProgressBar: {
                auto* bar = new QProgressBar(parent);
                bar->setTextVisible(false);
                bar->setRange(0, 100);
                bar->setValue(0);
                control = bar;
                break;
            }
        }
        control->setObjectName(design.name);
        if (design.bold) {
            QFont font = control->font();
            font.setBold(true);
            control->setFont(font);
        }
        if (!design.enabled) {
            control->setEnabled(false);
        }
        if (!design.visible) {
            control->hide();
        }
        At(design.control) = control;
    }
    At(FormControl::lUpdateTime)->ensurePolished();
    m_designTimeText = At(FormControl::lUpdateTime)->sizeHint();

    connect(As<QPushButton>(FormControl::btLog), &QPushButton::clicked, this, &TForm1::btLogClick);
    connect(As<QPushButton>(FormControl::btOK), &QPushButton::clicked, this, &TForm1::btOKClick);
    connect(As<QPushButton>(FormControl::btCancel), &QPushButton::clicked, this,
            &TForm1::btCancelClick);
    // btCancel is the window's cancel button: Esc presses it while it can be pressed (the
    // Windows window takes Esc in its message dispatch).
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        auto* cancel = As<QPushButton>(FormControl::btCancel);
        if (cancel->isEnabled() && cancel->isVisible()) {
            cancel->click();
        }
    });
}

void TForm1::LayoutControls() {
    const CFormLayout layout({width(), height()}, kDesignDpi);
    for (const ControlDesign& design : FormDesign()) {
        if (design.kind == ControlKind::Label) {
            PlaceLabel(design.control);
        } else {
            At(design.control)->setGeometry(ToQt(layout.Place(design.control)));
        }
    }
}

void TForm1::PlaceLabel(FormControl label) {
    // A label is as large as its caption wants (as QLabel::adjustSize makes it).
    const CFormLayout layout({width(), height()}, kDesignDpi);
    At(label)->ensurePolished();
    const QSize text = At(label)->sizeHint();
    At(label)->setGeometry(
        ToQt(layout.PlaceLabel(label, {text.width(), text.height()},
                               {m_designTimeText.width(), m_designTimeText.height()})));
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutControls();
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The checks may wait for many seconds (a server that does not answer), and they pump
    // events while they wait. Run from here they would run before the window is mapped, and
    // the screen would stay empty all the while: they wait for the window's first expose.
    if (FirstShowing()) {
        windowHandle()->installEventFilter(this);
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose &&
        windowHandle()->isExposed()) {
        windowHandle()->removeEventFilter(this);
        // Queued, so that the expose is painted and flushed to the screen first.
        QMetaObject::invokeMethod(
            this,
            [this] {
                Driver().FormShow();
                m_checksDone = true;
            },
            Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!MayClose()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TForm1::btOKClick() {
    Driver().btOKClick();
}

void TForm1::btCancelClick() {
    close();
}

void TForm1::btLogClick() {
    auto* dialog = new QDialog(this);
    dialog->setObjectName("dlgLog");
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QString::fromUtf8("Журнал помилок"));
    auto* text = new QPlainTextEdit(dialog);
    text->setObjectName("edLog");
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setPlainText(ToQt(FailedItemsView(DecodeLog)));
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* close =
        buttons->addButton(QString::fromUtf8("Зачинити"), QDialogButtonBox::RejectRole);
    close->setObjectName("btLogClose");
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dialog->resize(kLogViewSize.width, kLogViewSize.height);
    dialog->show();
}

void TForm1::DrawVisible(FormControl control, bool visible) {
    At(control)->setVisible(visible);
}

void TForm1::DrawEnabled(FormControl control, bool enabled) {
    At(control)->setEnabled(enabled);
}

void TForm1::DrawCaption(FormControl control, const std::string& caption) {
    if (auto* label = qobject_cast<QLabel*>(At(control))) {
        label->setText(ToQt(caption));
        PlaceLabel(control);
    } else if (auto* button = qobject_cast<QPushButton*>(At(control))) {
        button->setText(ToQt(caption));
    }
}

void TForm1::DrawProgress(int maximum, int position) {
    auto* bar = As<QProgressBar>(FormControl::ProgressBar2);
    bar->setRange(0, std::max(1, maximum));
    bar->setValue(position);
}

void TForm1::DrawAppendedLine(const std::string& line) {
    auto* memo = As<QPlainTextEdit>(FormControl::Memo2);
    memo->appendPlainText(ToQt(line));
    memo->moveCursor(QTextCursor::End);
    memo->ensureCursorVisible();
}

void TForm1::DrawMark(const std::string& suffix, bool /*firstLine*/) {
    // The mark goes at the end of the last line, which is the end of the text.
    auto* memo = As<QPlainTextEdit>(FormControl::Memo2);
    memo->moveCursor(QTextCursor::End);
    memo->insertPlainText(ToQt(suffix));
    memo->ensureCursorVisible();
}

void TForm1::ShowMessageBox(MessageKind kind, const std::string& title, const std::string& text) {
    ::ShowMessageBox(this, kind, title, text);
}

void TForm1::PumpMessages() {
    QCoreApplication::processEvents();
}

void TForm1::PumpUntil(CCompletion& done, double seconds) {
    // A nested loop that the helper thread ends as soon as its call is done, or a timer (the
    // Windows window waits in MsgWaitForMultipleObjectsEx instead).
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(static_cast<int>(seconds * 1000)), &loop,
                       &QEventLoop::quit);
    done.OnSet(
        [&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
    if (!done.IsSet()) {
        loop.exec();
    }
    done.OnSet(nullptr);
}
