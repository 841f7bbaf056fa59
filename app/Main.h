#pragma once
// The main window TForm1: the controls of the updater's one window, laid out as designed
// (client area 635 x 456), with the update driver behind them. The window code only adapts
// widgets to IUpdaterWindow; what happens on show and on the update button is the driver's.

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/UpdateDriver.h"
#include "app/UpdaterWindow.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QFrame;

class TForm1 : public QWidget, public IUpdaterWindow {
    Q_OBJECT

  public:
    // Creates the controls and the driver (which reads lib.ini); nothing is checked until the
    // window is first shown.
    explicit TForm1(StartupPaths paths, QWidget* parent = nullptr);
    ~TForm1() override;

    CUpdateDriver& Driver() { return *m_driver; }
    // The journal as the text box holds it: every line followed by CR LF.
    std::string JournalText() const;
    const std::vector<std::string>& JournalLines() const { return m_lines; }

    // IUpdaterWindow
    void AppendLine(const std::string& text) override;
    void MarkLastLine(const std::string& suffix) override;
    IButton& btOK() override;
    IButton& btCancel() override;
    ILabel& lCurVer() override;
    ILabel& lActVer() override;
    IControl& plUp() override;
    ILabel& lUpdate() override;
    IProgressBar& ProgressBar2() override;
    ILabel& lTextFile() override;
    ILabel& lFile() override;
    ILabel& lUpdateTime() override;
    void ShowMessageBox(MessageKind kind, const std::string& title,
                        const std::string& text) override;
    void PumpMessages() override;
    void PumpUntil(CCompletion& done, double seconds) override;
    void ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                         const std::vector<FailedCopy>& copies) override;

  public slots:
    void btOKClick();
    void btCancelClick();
    // Opens a view of the update logs that hold failed items and of the failed copies.
    void btLogClick();

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    struct Adapters;

    void CreateControls();
    // Places every control for the current client size: the bottom panels keep their heights,
    // plInfo takes the rest, and anchored controls keep their distance to the right and bottom.
    void LayoutControls();
    void PlaceTimeLabel();

    QFrame* m_plInfo = nullptr;
    QPlainTextEdit* m_Memo2 = nullptr;
    QLabel* m_lFailures = nullptr;
    QPushButton* m_btLog = nullptr;
    QFrame* m_Panel3 = nullptr;
    QFrame* m_Panel4 = nullptr;
    QFrame* m_Panel5 = nullptr;
    QLabel* m_Label1 = nullptr;
    QLabel* m_lCurVer = nullptr;
    QLabel* m_Label2 = nullptr;
    QLabel* m_lActVer = nullptr;
    QFrame* m_plUp = nullptr;
    QLabel* m_lUpdate = nullptr;
    QProgressBar* m_ProgressBar2 = nullptr;
    QLabel* m_lTextFile = nullptr;
    QLabel* m_lFile = nullptr;
    QLabel* m_lUpdateTime = nullptr;
    QFrame* m_Panel2 = nullptr;
    QPushButton* m_btOK = nullptr;
    QPushButton* m_btCancel = nullptr;

    int m_timeLabelRight = 0;  // right edge of lUpdateTime at the design width
    std::unique_ptr<Adapters> m_adapters;
    std::vector<std::string> m_lines;
    std::vector<FailedItemsLog> m_failedLogs;
    std::vector<FailedCopy> m_failedCopies;
    std::unique_ptr<CUpdateDriver> m_driver;
    bool m_formShown = false;
};
