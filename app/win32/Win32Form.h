#pragma once
// The main window on Windows, drawn with the system's own controls (comctl32): the controls of
// the Qt form TForm1 with the same names, captions, design places, anchors and initial states,
// in a client area of 635 x 456 at the screen's top left corner, all scaled with the DPI of the
// window's monitor, and again when it moves to a monitor of another DPI (FormLayout.h). The
// window only adapts its controls to IUpdaterWindow; what happens on show and on the update
// button is the driver's. Texts are UTF-8 here and UTF-16 in the controls.

#include <memory>
#include <string>
#include <vector>

#include "app/UpdaterWindow.h"
#include "app/win32/FormDriver.h"
#include "app/win32/FormLayout.h"

struct HWND__;  // HWND, without windows.h

class TWin32Form : public IUpdaterWindow {
  public:
    // Creates the window (not shown yet), its controls and then the driver; an exception of the
    // driver's constructor destroys the window again and goes up.
    explicit TWin32Form(const FormDriverFactory& makeDriver);
    ~TWin32Form() override;
    TWin32Form(const TWin32Form&) = delete;
    TWin32Form& operator=(const TWin32Form&) = delete;

    // Shows the window; its first showing runs the driver's FormShow before any input.
    void Show();
    // Runs the message loop until the window is closed; returns the quit code.
    int Run();

    HWND__* Handle() const;
    HWND__* Control(FormControl control) const;
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
    // Dispatches the waiting messages and returns; a quit request stays queued for Run().
    void PumpMessages() override;
    void PumpUntil(CCompletion& done, double seconds) override;
    void ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                         const std::vector<FailedCopy>& copies) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::vector<std::string> m_lines;
    std::vector<FailedItemsLog> m_failedLogs;
    std::vector<FailedCopy> m_failedCopies;
    std::unique_ptr<IFormDriver> m_driver;
};
