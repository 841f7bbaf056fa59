#pragma once
// The main window as the update driver sees it: its controls by their names, message boxes and
// message pumping. The Qt form TForm1 implements it with widgets; console mode without a window.

#include <string>
#include <utility>
#include <vector>

#include "install/Status.h"

class IButton : public IControl {
  public:
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool IsEnabled() const = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual std::string Caption() const = 0;
};

// A button without a window (console mode, tests): its caption, enabled state and visibility.
class CPlainButton : public IButton {
  public:
    explicit CPlainButton(std::string caption = {}, bool enabled = true, bool visible = true)
        : m_caption(std::move(caption)), m_enabled(enabled), m_visible(visible) {}
    void SetVisible(bool visible) override { m_visible = visible; }
    bool IsVisible() const override { return m_visible; }
    void SetEnabled(bool enabled) override { m_enabled = enabled; }
    bool IsEnabled() const override { return m_enabled; }
    void SetCaption(const std::string& caption) override { m_caption = caption; }
    std::string Caption() const override { return m_caption; }

  private:
    std::string m_caption;
    bool m_enabled;
    bool m_visible;
};

enum class MessageKind { Warning, Error };

// An update log that received entries during the run, and how many failed items it records.
struct FailedItemsLog {
    std::string path;
    int count = 0;
};

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

    // Called once after a run (also one that an error ended), with the update logs that hold
    // failed items (statements, blob or document files); not called when there are none. The
    // journal does not mention these failures, so the window offers the logs beside it.
    virtual void ShowFailedItems(const std::vector<FailedItemsLog>& logs) = 0;
};
