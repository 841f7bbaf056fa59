#pragma once
// The main window on Windows, drawn with the system's own controls (comctl32): the controls of
// the designed form (FormLayout.h) with their names as identifiers, in a client area of
// 635 x 456 at the screen's top left corner, all scaled with the DPI of the window's monitor,
// and again when it moves to a monitor of another DPI. The window draws the portable state of
// CFormState with the driver behind it. Texts are UTF-8 here and UTF-16 in the controls.

#include <memory>
#include <string>

#include "app/FormState.h"

struct HWND__;  // HWND, without windows.h

class TWin32Form : public CFormState {
  public:
    // Creates the window (not shown yet), its controls and then the driver; an exception of the
    // driver's constructor destroys the window again and goes up.
    explicit TWin32Form(const FormDriverFactory& makeDriver);
    ~TWin32Form() override;

    // Shows the window; its first showing runs the driver's FormShow before any input.
    void Show();
    // Runs the message loop until the window is closed; returns the quit code.
    int Run();

    HWND__* Handle() const;
    HWND__* Control(FormControl control) const;

    // IUpdaterWindow: what is the toolkit's own.
    void ShowMessageBox(MessageKind kind, const std::string& title,
                        const std::string& text) override;
    // Dispatches the waiting messages and returns; a quit request stays queued for Run().
    void PumpMessages() override;
    void PumpUntil(CCompletion& done, double seconds) override;

  protected:
    // CFormState: drawing what the portable state decided. The other toolkit's window
    // (app/qt/QtForm.h) overrides the same list with its own calls.
    void DrawVisible(FormControl control, bool visible) override;
    void DrawEnabled(FormControl control, bool enabled) override;
    void DrawCaption(FormControl control, const std::string& caption) override;
    void DrawProgress(int maximum, int position) override;
    void DrawAppendedLine(const std::string& line) override;
    void DrawMark(const std::string& suffix, bool firstLine) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
