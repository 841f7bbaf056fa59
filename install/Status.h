#pragma once
// The narrow window interface that the installers and the update run report through: the status
// journal, progress bars and labels, message pumping and the owner's current log path. Both
// windows (Qt's and Windows') implement it with their controls; console mode and tests implement
// it without a GUI.
// All texts are UTF-8.

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

class IControl {
  public:
    virtual ~IControl() = default;
    virtual void SetVisible(bool visible) = 0;
    virtual bool IsVisible() const = 0;
};

class ILabel : public IControl {
  public:
    virtual void SetCaption(const std::string& caption) = 0;
    virtual std::string Caption() const = 0;
};

class IProgressBar : public IControl {
  public:
    virtual int Maximum() const = 0;
    virtual int Position() const = 0;
    virtual void SetMaximum(int maximum) = 0;
    virtual void SetPosition(int position) = 0;  // kept within 0 and the maximum
};

// Plain controls that only keep their state: console mode, tests and benchmarks use them as
// controls without a window.

// The visibility of a control without a window, for any of the control interfaces.
template <typename Interface>
class CPlainVisibility : public Interface {
  public:
    explicit CPlainVisibility(bool visible = true) : m_visible(visible) {}
    void SetVisible(bool visible) override { m_visible = visible; }
    bool IsVisible() const override { return m_visible; }

  private:
    bool m_visible;
};

// A control with nothing but its visibility (a panel).
using CPlainControl = CPlainVisibility<IControl>;

// A label without a window: its caption and visibility.
class CPlainLabel : public CPlainVisibility<ILabel> {
  public:
    explicit CPlainLabel(std::string caption = {}, bool visible = true)
        : CPlainVisibility(visible), m_caption(std::move(caption)) {}
    void SetCaption(const std::string& caption) override { m_caption = caption; }
    std::string Caption() const override { return m_caption; }

  private:
    std::string m_caption;
};

// A progress bar without a window; it starts visible at position 0 (a new window's bar has a
// maximum of 100). A negative maximum counts as 0, and the position stays within 0 and the maximum.
class CPlainProgressBar : public CPlainVisibility<IProgressBar> {
  public:
    explicit CPlainProgressBar(int maximum = 100);
    int Maximum() const override { return m_maximum; }
    int Position() const override { return m_position; }
    void SetMaximum(int maximum) override;
    void SetPosition(int position) override;

  private:
    int m_maximum;
    int m_position = 0;
};

// The controls an installer shows its progress in. Any may be null: console mode and tests leave
// out what they do not show.
struct ProgressView {
    IProgressBar* overall = nullptr;  // the pass in hand: all scripts' lines, or its files
    IProgressBar* script = nullptr;   // the lines of the script in hand
    ILabel* file = nullptr;           // the item in hand: name (index/count)
    ILabel* timeLeft = nullptr;       // the estimate of the script pass
};

// The status journal: lines are only added at the end or extended at their end.
class IJournal {
  public:
    virtual ~IJournal() = default;
    virtual void AppendLine(const std::string& text) = 0;
    // Adds `suffix` to the end of the last line, with nothing in between.
    virtual void MarkLastLine(const std::string& suffix) = 0;
};

// Ends a run at once, wherever it is: the program was asked to end (a signal, the console
// closed), or the database server stopped answering. Its text is the journal line that says so.
// Installers never take it for the failure of an item: they let it pass.
class CRunStopped : public std::runtime_error {
  public:
    enum class Reason { Interrupted, ServerSilent };
    CRunStopped(Reason reason, const std::string& text)
        : std::runtime_error(text), m_reason(reason) {}
    Reason GetReason() const { return m_reason; }

  private:
    Reason m_reason;
};

// The main window as the installers see it.
class IOwner : public IJournal {
  public:
    // Runs `call`, one blocking database call (connecting, a statement with its commit, a
    // document with its blob), so that the window keeps answering meanwhile, and returns when it
    // is done, rethrowing what it threw. It may throw CRunStopped instead. Owners without a
    // window run the call directly.
    virtual void RunBlocking(const std::function<void()>& call) { call(); }
    // Throws CRunStopped when the run has been asked to stop. Called between the megabytes of a
    // long blocking call, also on the thread that RunBlocking runs it on.
    virtual void StopIfRequested() {}
    // Processes the window messages that are waiting (repaint, input) and returns.
    virtual void PumpMessages() = 0;
    // A step that may block for long starts (a copy, the archiver): the journal's last line is
    // shown now, wherever it goes, though a mark may still end it.
    virtual void ShowOpenLine() {}
    // The update log that failures are appended to; empty until the first script runs.
    virtual std::string CurrentLogPath() const = 0;
    virtual void SetCurrentLogPath(const std::string& path) = 0;
    // The suite's installation directory (the updater's own directory).
    virtual std::string ProgramDirectory() const = 0;
    // A program file or template that could not be copied to `destination`, with the journal's
    // error line ("error (" + code + ") " + text): a failed item of the run like a failed
    // statement. Owners that keep no account of failed items ignore it.
    virtual void ReportFailedCopy(const std::string& /*destination*/,
                                  const std::string& /*errorLine*/) {}
};

// Pumps the owner's messages from inside one long operation (the blocks of a file being copied
// or stored, the lines of a statement pass), at most once per interval: often enough that the
// window answers at once, seldom enough that repainting costs next to nothing. The interval runs
// from the start of one pump to the next Tick. Pumps made elsewhere (after each file) do not
// count, so a throttle lives for one operation.
class CPumpThrottle {
  public:
    static constexpr double kInterval = 0.05;  // seconds

    explicit CPumpThrottle(IOwner& owner, double intervalSeconds = kInterval);
    // Pumps when the interval has passed since the last pump, or since construction.
    void Tick();
    // Whether Tick would pump now: a caller that shows progress only when it is painted updates
    // its controls first, then calls Pump.
    bool Due() const;
    void Pump();

  private:
    IOwner& m_owner;
    double m_interval;
    double m_last;
};

// Progress operations; each one does nothing when the control passed is null.
void SetVisible(IControl* control, bool visible);
void SetCaption(ILabel* label, const std::string& caption);
void StartPhase(IProgressBar* bar, int units);  // position 0, maximum = units
void StepBar(IProgressBar* bar);                // position + 1, never beyond the maximum
// Caption = file name + " (" + index + "/" + count + ")".
void ShowItem(ILabel* label, const std::string& fileName, int index, int count);
// Remaining time of a phase begun at `startTime` (TimeOfDay()): elapsed * maximum / position -
// elapsed, shown as "hh:nn:ss". Skipped without a bar; a bar at position 0 shows nothing new.
void UpdateTimeEstimate(IProgressBar* bar, double startTime, ILabel* timeLabel);
// A span of days as "hh:nn:ss": rounded to whole milliseconds, then milliseconds and whole days
// dropped, sign ignored.
std::string FormatRemaining(double days);
