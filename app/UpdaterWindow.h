#pragma once
// The main window as the update driver sees it: its controls by their names, message boxes and
// message pumping. Both windows implement it through CFormState (FormState.h), which keeps the
// controls' states and has the toolkit draw them; console mode and the tests' recording window
// derive from CPlainUpdaterWindow, which keeps the controls' states only.

#include <string>
#include <utility>
#include <vector>

#include "app/FormLayout.h"
#include "install/Status.h"
#include "platform/CallThread.h"

class IButton : public IControl {
  public:
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool IsEnabled() const = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual std::string Caption() const = 0;
};

// A button without a window: its caption, enabled state and visibility (it starts visible).
class CPlainButton : public IButton {
  public:
    CPlainButton(std::string caption, bool enabled)
        : m_caption(std::move(caption)), m_enabled(enabled) {}
    void SetVisible(bool visible) override { m_visible = visible; }
    bool IsVisible() const override { return m_visible; }
    void SetEnabled(bool enabled) override { m_enabled = enabled; }
    bool IsEnabled() const override { return m_enabled; }
    void SetCaption(const std::string& caption) override { m_caption = caption; }
    std::string Caption() const override { return m_caption; }

  private:
    std::string m_caption;
    bool m_enabled;
    bool m_visible = true;
};

// A progress bar that a window toolkit draws. It keeps the range and position itself, as the
// plain bar does, and hands them to Draw after every change: toolkit bars ignore values outside
// their range or animate as "busy" at a maximum of 0, while an empty phase must show an empty
// bar. It starts as a new window's bar: maximum 100, position 0; the derived adapter calls Draw
// once it is constructed.
class CDrawnProgressBar : public CPlainProgressBar {
  public:
    void SetMaximum(int maximum) override {
        CPlainProgressBar::SetMaximum(maximum);
        Draw();
    }
    void SetPosition(int position) override {
        CPlainProgressBar::SetPosition(position);
        Draw();
    }

  protected:
    CDrawnProgressBar() = default;
    virtual void Draw() = 0;
};

enum class MessageKind { Warning, Error };

// An update log that received entries during the run, and how many failed items it records.
struct FailedItemsLog {
    std::string path;
    int count = 0;
};

// A program file or template that could not be copied: where it should have gone, and the
// journal's error line for it.
struct FailedCopy {
    std::string destination;
    std::string error;
};

// How many items failed in all: the entries of the logs and the copies.
inline int FailedItemsTotal(const std::vector<FailedItemsLog>& logs,
                            const std::vector<FailedCopy>& copies) {
    int total = static_cast<int>(copies.size());
    for (const FailedItemsLog& log : logs) {
        total += log.count;
    }
    return total;
}

// The window's line beside its log button: the logged items and the copies apart, the figures
// that console mode prints ("Не виконано елементів: 2, не скопійовано файлів: 1").
inline std::string FailedItemsText(const std::vector<FailedItemsLog>& logs,
                                   const std::vector<FailedCopy>& copies) {
    const int logged = FailedItemsTotal(logs, {});
    std::string text;
    if (logged > 0 || copies.empty()) {
        text = "Не виконано елементів: " + std::to_string(logged);
    }
    if (!copies.empty()) {
        text += (text.empty() ? "Не скопійовано файлів: " : ", не скопійовано файлів: ") +
                std::to_string(copies.size());
    }
    return text;
}

class IUpdaterWindow : public IJournal {
  public:
    virtual IButton& btOK() = 0;
    virtual IButton& btCancel() = 0;
    virtual ILabel& lCurVer() = 0;
    virtual ILabel& lActVer() = 0;
    virtual IControl& plUp() = 0;
    virtual ILabel& lUpdate() = 0;
    virtual IProgressBar& ProgressBar2() = 0;
    virtual ILabel& lTextFile() = 0;
    virtual ILabel& lFile() = 0;
    virtual ILabel& lUpdateTime() = 0;

    // A modal box with one OK button: warning (with its title) or the framework's error box.
    virtual void ShowMessageBox(MessageKind kind, const std::string& title,
                                const std::string& text) = 0;
    virtual void PumpMessages() = 0;
    // A step that may block for long starts: the journal's open line is shown now, though a mark
    // may still end it. Windows show every line at once; console mode writes it out.
    virtual void ShowOpenLine() {}
    // Processes window messages until `done` is set or `seconds` pass, whichever comes first,
    // while a blocking call runs on another thread. A window without messages just waits.
    virtual void PumpUntil(CCompletion& done, double seconds) { done.WaitFor(seconds); }

    // Called once after a run (also one that an error ended), with the update logs that hold
    // failed items (statements, blob or document files) and the copies that failed; not called
    // when there are none. The journal does not mention the logged failures, so the window
    // offers the logs beside it.
    virtual void ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                                 const std::vector<FailedCopy>& copies) = 0;
};

// A button or label without a window, in the state its control is designed to start in.
inline CPlainButton DesignedButton(FormControl control) {
    const ControlDesign& design = DesignOf(control);
    CPlainButton button(design.caption, design.enabled);
    button.SetVisible(design.visible);
    return button;
}
inline CPlainLabel DesignedLabel(FormControl control) {
    return CPlainLabel(DesignOf(control).caption, DesignOf(control).visible);
}

// The controls of a window that is never drawn, in the states the designed window starts in:
// btOK disabled, the version labels showing "-", the run's labels hidden. What the journal and
// the boxes do is left to the window that derives from it.
class CPlainUpdaterWindow : public IUpdaterWindow {
  public:
    IButton& btOK() override { return m_btOK; }
    IButton& btCancel() override { return m_btCancel; }
    ILabel& lCurVer() override { return m_lCurVer; }
    ILabel& lActVer() override { return m_lActVer; }
    IControl& plUp() override { return m_plUp; }
    ILabel& lUpdate() override { return m_lUpdate; }
    IProgressBar& ProgressBar2() override { return m_ProgressBar2; }
    ILabel& lTextFile() override { return m_lTextFile; }
    ILabel& lFile() override { return m_lFile; }
    ILabel& lUpdateTime() override { return m_lUpdateTime; }

  private:
    CPlainButton m_btOK = DesignedButton(FormControl::btOK);
    CPlainButton m_btCancel = DesignedButton(FormControl::btCancel);
    CPlainLabel m_lCurVer = DesignedLabel(FormControl::lCurVer);
    CPlainLabel m_lActVer = DesignedLabel(FormControl::lActVer);
    CPlainControl m_plUp{DesignOf(FormControl::plUp).visible};
    CPlainLabel m_lUpdate = DesignedLabel(FormControl::lUpdate);
    CPlainProgressBar m_ProgressBar2;
    CPlainLabel m_lTextFile = DesignedLabel(FormControl::lTextFile);
    CPlainLabel m_lFile = DesignedLabel(FormControl::lFile);
    CPlainLabel m_lUpdateTime = DesignedLabel(FormControl::lUpdateTime);
};
