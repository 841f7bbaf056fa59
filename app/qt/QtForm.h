#pragma once
// The main window TForm1 in Qt: the controls of the updater's one window as designed
// (FormLayout.h), widgets named as the controls, drawing the portable state of CFormState with
// the driver behind it.

#include <QSize>
#include <QWidget>
#include <array>
#include <string>

#include "app/FormState.h"

class TForm1 : public QWidget, public CFormState {
    Q_OBJECT

  public:
    // Creates the controls and then the driver (the update driver reads lib.ini); nothing is
    // checked until the window is first on the screen.
    explicit TForm1(const FormDriverFactory& makeDriver, QWidget* parent = nullptr);
    ~TForm1() override;

    // IUpdaterWindow: what is the toolkit's own.
    void ShowMessageBox(MessageKind kind, const std::string& title,
                        const std::string& text) override;
    void PumpMessages() override;
    void PumpUntil(CCompletion& done, double seconds) override;

    // The checks of the first showing have run (they begin once the window is exposed).
    bool ChecksDone() const { return m_checksDone; }

  public slots:
    void btOKClick();
    void btCancelClick();
    // Opens a view of the update logs that hold failed items and of the failed copies.
    void btLogClick();

  protected:
    void showEvent(QShowEvent* event) override;
    // Watches the window's first expose, after which the checks run.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    // CFormState: drawing what the portable state decided. The other toolkit's window
    // (app/win32/Win32Form.h) overrides the same list with its own calls.
    void DrawVisible(FormControl control, bool visible) override;
    void DrawEnabled(FormControl control, bool enabled) override;
    void DrawCaption(FormControl control, const std::string& caption) override;
    void DrawProgress(int maximum, int position) override;
    void DrawAppendedLine(const std::string& line) override;
    void DrawMark(const std::string& suffix, bool firstLine) override;

  private:
    QWidget*& At(FormControl control);
    QWidget* At(FormControl control) const;
    template <typename Widget>
    Widget* As(FormControl control) const {
        return static_cast<Widget*>(At(control));
    }
    void CreateControls();
    // Places every control for the current client size (FormLayout.h, at 96 DPI: Qt scales its
    // logical pixels to the screen itself).
    void LayoutControls();
    void PlaceLabel(FormControl label);

    std::array<QWidget*, kControlCount> m_controls{};
    QSize m_designTimeText;  // lUpdateTime's designed caption, whose right edge the label keeps
    bool m_checksDone = false;
};
