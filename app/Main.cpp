#include "app/Main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFile>
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
#include <algorithm>
#include <chrono>
#include <functional>

#include "app/MessageBoxes.h"

namespace {

// Design size of the client area and the heights of the panels stacked at the bottom.
constexpr int kClientWidth = 635;
constexpr int kClientHeight = 456;
constexpr int kPanel2Height = 42;
constexpr int kPlUpHeight = 112;
constexpr int kPanel3Height = 46;
constexpr int kRowHeight = 22;

QString ToQt(const std::string& text) {
    return QString::fromStdString(text);
}

class CControlAdapter : public IControl {
  public:
    explicit CControlAdapter(QWidget* widget) : m_widget(widget) {}
    void SetVisible(bool visible) override { m_widget->setVisible(visible); }
    // The control's own flag, as designed: a control counts as visible while its window is not
    // shown yet.
    bool IsVisible() const override { return !m_widget->isHidden(); }

  private:
    QWidget* m_widget;
};

class CLabelAdapter : public ILabel {
  public:
    CLabelAdapter(QLabel* label, bool autoSize, std::function<void()> afterCaption = {})
        : m_label(label), m_autoSize(autoSize), m_afterCaption(std::move(afterCaption)) {}
    void SetVisible(bool visible) override { m_label->setVisible(visible); }
    bool IsVisible() const override { return !m_label->isHidden(); }
    void SetCaption(const std::string& caption) override {
        m_label->setText(ToQt(caption));
        if (m_autoSize) {
            m_label->adjustSize();
        }
        if (m_afterCaption) {
            m_afterCaption();
        }
    }
    std::string Caption() const override { return m_label->text().toStdString(); }

  private:
    QLabel* m_label;
    bool m_autoSize;
    std::function<void()> m_afterCaption;
};

class CButtonAdapter : public IButton {
  public:
    explicit CButtonAdapter(QPushButton* button) : m_button(button) {}
    void SetVisible(bool visible) override { m_button->setVisible(visible); }
    bool IsVisible() const override { return !m_button->isHidden(); }
    void SetEnabled(bool enabled) override { m_button->setEnabled(enabled); }
    bool IsEnabled() const override { return m_button->isEnabled(); }
    void SetCaption(const std::string& caption) override { m_button->setText(ToQt(caption)); }
    std::string Caption() const override { return m_button->text().toStdString(); }

  private:
    QPushButton* m_button;
};

class CProgressAdapter : public CDrawnProgressBar {
  public:
    explicit CProgressAdapter(QProgressBar* bar) : m_bar(bar) { Draw(); }
    void SetVisible(bool visible) override { m_bar->setVisible(visible); }
    bool IsVisible() const override { return !m_bar->isHidden(); }

  private:
    void Draw() override {
        m_bar->setRange(0, std::max(1, Maximum()));
        m_bar->setValue(Position());
    }

    QProgressBar* m_bar;
};

// Update logs hold the bytes of statements and server messages as they came: UTF-8 or the
// suite's Windows-1251.
QString DecodeLog(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError()) {
        return text;
    }
    QStringDecoder cp1251("windows-1251");
    if (cp1251.isValid()) {
        return cp1251(bytes);
    }
    return QString::fromLatin1(bytes);
}

QFrame* MakePanel(QWidget* parent, const char* name) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameShape(QFrame::NoFrame);
    return panel;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, bool bold, int left,
                  int top) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setObjectName(name);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    label->adjustSize();
    label->move(left, top);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

struct TForm1::Adapters {
    CButtonAdapter btOK;
    CButtonAdapter btCancel;
    CLabelAdapter lCurVer;
    CLabelAdapter lActVer;
    CControlAdapter plUp;
    CLabelAdapter lUpdate;
    CProgressAdapter ProgressBar2;
    CLabelAdapter lTextFile;
    CLabelAdapter lFile;
    CLabelAdapter lUpdateTime;
};

TForm1::TForm1(StartupPaths paths, QWidget* parent) : QWidget(parent) {
    setObjectName("Form1");
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setFont(QFont("Tahoma", 8));
    CreateControls();
    resize(kClientWidth, kClientHeight);
    move(0, 0);
    LayoutControls();

    m_adapters.reset(new Adapters{
        CButtonAdapter(m_btOK),
        CButtonAdapter(m_btCancel),
        CLabelAdapter(m_lCurVer, false),
        CLabelAdapter(m_lActVer, false),
        CControlAdapter(m_plUp),
        CLabelAdapter(m_lUpdate, true),
        CProgressAdapter(m_ProgressBar2),
        CLabelAdapter(m_lTextFile, true),
        CLabelAdapter(m_lFile, true),
        CLabelAdapter(m_lUpdateTime, true, [this] { PlaceTimeLabel(); }),
    });

    // The driver reads lib.ini and creates the session; an error here ends the program.
    m_driver = std::make_unique<CUpdateDriver>(*this, std::move(paths));
}

TForm1::~TForm1() = default;

void TForm1::CreateControls() {
    m_plInfo = MakePanel(this, "plInfo");
    m_Memo2 = new QPlainTextEdit(m_plInfo);
    m_Memo2->setObjectName("Memo2");
    m_Memo2->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette memoPalette = m_Memo2->palette();
    memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::ToolTipBase));
    m_Memo2->setPalette(memoPalette);

    // Shown after a run whose update logs record failed items (the journal does not list them).
    m_lFailures = MakeLabel(m_plInfo, "lFailures", "", true, 46, 4);
    m_lFailures->hide();
    m_btLog = MakeButton(m_plInfo, "btLog", "Журнал помилок");
    m_btLog->hide();
    connect(m_btLog, &QPushButton::clicked, this, &TForm1::btLogClick);

    m_Panel3 = MakePanel(this, "Panel3");
    m_Panel4 = MakePanel(m_Panel3, "Panel4");
    m_Label1 = MakeLabel(m_Panel4, "Label1", "Поточна версія", true, 16, 6);
    m_lCurVer = MakeLabel(m_Panel4, "lCurVer", "-", true, 143, 5);
    m_lCurVer->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lCurVer->resize(191, m_lCurVer->height());
    m_Panel5 = MakePanel(m_Panel3, "Panel5");
    m_Label2 = MakeLabel(m_Panel5, "Label2", "Доступна версія", true, 16, 6);
    m_lActVer = MakeLabel(m_Panel5, "lActVer", "-", true, 143, 6);
    m_lActVer->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lActVer->resize(191, m_lActVer->height());

    m_plUp = MakePanel(this, "plUp");
    m_lUpdate = MakeLabel(m_plUp, "lUpdate", "Встановлення оновлення", true, 17, 24);
    m_lUpdate->hide();
    m_ProgressBar2 = new QProgressBar(m_plUp);
    m_ProgressBar2->setObjectName("ProgressBar2");
    m_ProgressBar2->setTextVisible(false);
    m_ProgressBar2->setRange(0, 100);
    m_ProgressBar2->setValue(0);
    m_lTextFile = MakeLabel(m_plUp, "lTextFile", "Обробока файла:", false, 17, 64);
    m_lTextFile->hide();
    m_lFile = MakeLabel(m_plUp, "lFile", "lFile", false, 17, 80);
    m_lFile->hide();
    m_lUpdateTime = MakeLabel(m_plUp, "lUpdateTime", "--:--", false, 601, 21);
    m_lUpdateTime->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_lUpdateTime->hide();
    m_timeLabelRight = 601 + m_lUpdateTime->width();

    m_Panel2 = MakePanel(this, "Panel2");
    m_btOK = MakeButton(m_Panel2, "btOK", "Оновить");
    m_btOK->setEnabled(false);
    connect(m_btOK, &QPushButton::clicked, this, &TForm1::btOKClick);
    m_btCancel = MakeButton(m_Panel2, "btCancel", "Зачинити");
    connect(m_btCancel, &QPushButton::clicked, this, &TForm1::btCancelClick);

    // btCancel is the window's cancel button: Esc presses it while it can be pressed.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        if (m_btCancel->isEnabled() && m_btCancel->isVisible()) {
            m_btCancel->click();
        }
    });
}

void TForm1::LayoutControls() {
    const int width = this->width();
    const int height = this->height();
    const int grow = width - kClientWidth;  // how far right-anchored controls move

    const int panel2Top = height - kPanel2Height;
    const int plUpTop = panel2Top - kPlUpHeight;
    const int panel3Top = plUpTop - kPanel3Height;
    const int plInfoHeight = std::max(0, panel3Top);

    m_plInfo->setGeometry(0, 0, width, plInfoHeight);
    // Memo2 keeps the design distances to all four sides of plInfo (25 right, 15 bottom).
    const int designInfoHeight = kClientHeight - kPanel2Height - kPlUpHeight - kPanel3Height;
    m_Memo2->setGeometry(46, 22, std::max(0, 564 + grow),
                         std::max(0, 219 + plInfoHeight - designInfoHeight));
    m_btLog->setGeometry(46 + 564 + grow - 120, 1, 120, 20);

    m_Panel3->setGeometry(0, panel3Top, width, kPanel3Height);
    m_Panel4->setGeometry(1, 1, width - 2, kRowHeight);
    m_Panel5->setGeometry(1, 1 + kRowHeight, width - 2, kRowHeight);

    m_plUp->setGeometry(0, plUpTop, width, kPlUpHeight);
    m_ProgressBar2->setGeometry(17, 40, std::max(0, 604 + grow), 17);
    PlaceTimeLabel();

    m_Panel2->setGeometry(0, panel2Top, width, kPanel2Height);
    m_btOK->setGeometry(467 + grow, 9, 75, 25);
    m_btCancel->setGeometry(555 + grow, 9, 75, 25);
}

void TForm1::PlaceTimeLabel() {
    // Right-aligned and anchored right: the label keeps its right edge as its text changes.
    const int right = m_timeLabelRight + (width() - kClientWidth);
    m_lUpdateTime->move(right - m_lUpdateTime->width(), 21);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutControls();
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The checks run on the first showing, before the window takes any input.
    if (!m_formShown) {
        m_formShown = true;
        m_driver->FormShow();
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    // Closing from the title bar while the run pumps messages would leave a package half
    // installed; the run ends by itself and then the window can be closed.
    if (m_driver && m_driver->IsRunning()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TForm1::btOKClick() {
    m_driver->btOKClick();
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
    QString content;
    for (const FailedItemsLog& log : m_failedLogs) {
        content += ToQt(log.path) + "\n\n";
        QFile file(ToQt(log.path));
        if (file.open(QIODevice::ReadOnly)) {
            content += DecodeLog(file.readAll());
        }
        content += "\n";
    }
    // Copies that failed are in no log: their error lines are listed here.
    if (!m_failedCopies.empty()) {
        content += QString::fromUtf8("Не скопійовано:\n");
        for (const FailedCopy& copy : m_failedCopies) {
            content += ToQt(copy.destination + ": " + copy.error) + "\n";
        }
    }
    text->setPlainText(content);
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* close =
        buttons->addButton(QString::fromUtf8("Зачинити"), QDialogButtonBox::RejectRole);
    close->setObjectName("btLogClose");
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dialog->resize(600, 400);
    dialog->show();
}

std::string TForm1::JournalText() const {
    std::string text;
    for (const std::string& line : m_lines) {
        text += line + "\r\n";
    }
    return text;
}

void TForm1::AppendLine(const std::string& text) {
    m_lines.push_back(text);
    m_Memo2->appendPlainText(ToQt(text));
    m_Memo2->moveCursor(QTextCursor::End);
    m_Memo2->ensureCursorVisible();
}

void TForm1::MarkLastLine(const std::string& suffix) {
    if (m_lines.empty()) {
        m_lines.emplace_back();
    }
    m_lines.back() += suffix;
    // The mark goes at the end of the last line, which is the end of the text.
    m_Memo2->moveCursor(QTextCursor::End);
    m_Memo2->insertPlainText(ToQt(suffix));
    m_Memo2->ensureCursorVisible();
}

IButton& TForm1::btOK() {
    return m_adapters->btOK;
}
IButton& TForm1::btCancel() {
    return m_adapters->btCancel;
}
ILabel& TForm1::lCurVer() {
    return m_adapters->lCurVer;
}
ILabel& TForm1::lActVer() {
    return m_adapters->lActVer;
}
IControl& TForm1::plUp() {
    return m_adapters->plUp;
}
ILabel& TForm1::lUpdate() {
    return m_adapters->lUpdate;
}
IProgressBar& TForm1::ProgressBar2() {
    return m_adapters->ProgressBar2;
}
ILabel& TForm1::lTextFile() {
    return m_adapters->lTextFile;
}
ILabel& TForm1::lFile() {
    return m_adapters->lFile;
}
ILabel& TForm1::lUpdateTime() {
    return m_adapters->lUpdateTime;
}

void TForm1::ShowMessageBox(MessageKind kind, const std::string& title, const std::string& text) {
    ::ShowMessageBox(this, kind, title, text);
}

void TForm1::PumpMessages() {
    QCoreApplication::processEvents();
}

void TForm1::PumpUntil(CCompletion& done, double seconds) {
    // A nested loop that the helper thread ends as soon as its call is done, or a timer.
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

void TForm1::ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                             const std::vector<FailedCopy>& copies) {
    m_failedLogs = logs;
    m_failedCopies = copies;
    m_lFailures->setText(ToQt(FailedItemsText(logs, copies)));
    m_lFailures->adjustSize();
    m_lFailures->show();
    m_btLog->show();
}
