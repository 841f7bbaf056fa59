#pragma once
// The main window's state apart from its window toolkit: the controls the driver reads and sets
// (their captions, enabled states, own visibility flags and the bar's range, starting as
// designed in FormLayout.h), the journal's lines, the failed items of the last run and the text
// of their view, and the driver behind the window. Both windows, Qt's TForm1 and Windows'
// TWin32Form, derive from it and only draw: every change of a control comes to them as one of
// the Draw calls, after the state has taken it.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/FormDriver.h"
#include "app/FormLayout.h"
#include "app/UpdaterWindow.h"

class CFormState : public IUpdaterWindow {
  public:
    ~CFormState() override;
    CFormState(const CFormState&) = delete;
    CFormState& operator=(const CFormState&) = delete;

    IFormDriver& Driver() { return *m_driver; }
    // The journal as the text box holds it: every line followed by CR LF.
    std::string JournalText() const;
    const std::vector<std::string>& JournalLines() const { return m_lines; }

    // IUpdaterWindow: what the toolkits share. Message boxes and pumping are each toolkit's.
    void AppendLine(const std::string& text) final;
    void MarkLastLine(const std::string& suffix) final;
    IButton& btOK() final;
    IButton& btCancel() final;
    ILabel& lCurVer() final;
    ILabel& lActVer() final;
    IControl& plUp() final;
    ILabel& lUpdate() final;
    IProgressBar& ProgressBar2() final;
    ILabel& lTextFile() final;
    ILabel& lFile() final;
    ILabel& lUpdateTime() final;
    void ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                         const std::vector<FailedCopy>& copies) final;

    // The text of the view that btLog opens, lines ending in "\n": each log that holds failed
    // items under its path, then the copies that failed. `decodeLog` turns a log's bytes into
    // UTF-8, as the toolkit reads text of an unknown encoding.
    std::string FailedItemsView(
        const std::function<std::string(std::string_view)>& decodeLog) const;

  protected:
    CFormState();

    // The last step of the window's constructor, once its controls exist: an exception of the
    // driver's constructor goes up.
    void StartDriver(const FormDriverFactory& makeDriver);
    // The first step of the window's destructor: the driver goes before the controls it reports
    // to.
    void StopDriver() { m_driver.reset(); }
    // True on the window's first showing only, when the driver's checks are to run.
    bool FirstShowing();
    // Closing while a run pumps messages would leave a package half installed; the run ends by
    // itself and then the window can be closed.
    bool MayClose() const { return !m_driver || !m_driver->IsRunning(); }

    // What a toolkit draws. A label given a caption is placed again, as it sizes itself to it.
    virtual void DrawVisible(FormControl control, bool visible) = 0;
    virtual void DrawEnabled(FormControl control, bool enabled) = 0;
    virtual void DrawCaption(FormControl control, const std::string& caption) = 0;
    virtual void DrawProgress(int maximum, int position) = 0;
    // A line added to the journal's text box, or `suffix` added to its last line (`firstLine`:
    // the box is still empty and this is its first line).
    virtual void DrawAppendedLine(const std::string& line) = 0;
    virtual void DrawMark(const std::string& suffix, bool firstLine) = 0;

  private:
    struct Controls;

    std::unique_ptr<Controls> m_controls;
    std::vector<std::string> m_lines;
    std::vector<FailedItemsLog> m_failedLogs;
    std::vector<FailedCopy> m_failedCopies;
    std::unique_ptr<IFormDriver> m_driver;
    bool m_shown = false;
};
