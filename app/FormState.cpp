#include "app/FormState.h"

#include <utility>

#include "platform/FileSystem.h"
#include "platform/SystemError.h"

struct CFormState::Controls {
    // A plain control that has its window's toolkit draw every change after keeping it; it
    // starts in its designed state, which the toolkit created its control in.
    template <typename Plain>
    class CDrawn : public Plain {
      public:
        template <typename... Args>
        CDrawn(CFormState& form, FormControl control, Args&&... args)
            : Plain(std::forward<Args>(args)...), m_form(form), m_control(control) {
            Plain::SetVisible(DesignOf(control).visible);
        }
        void SetVisible(bool visible) override {
            Plain::SetVisible(visible);
            m_form.DrawVisible(m_control, visible);
        }

      protected:
        CFormState& m_form;
        FormControl m_control;
    };

    class CLabel : public CDrawn<CPlainLabel> {
      public:
        CLabel(CFormState& form, FormControl control)
            : CDrawn(form, control, DesignedLabel(control)) {}
        void SetCaption(const std::string& caption) override {
            CPlainLabel::SetCaption(caption);
            m_form.DrawCaption(m_control, caption);
        }
    };

    class CButton : public CDrawn<CPlainButton> {
      public:
        CButton(CFormState& form, FormControl control)
            : CDrawn(form, control, DesignedButton(control)) {}
        void SetEnabled(bool enabled) override {
            CPlainButton::SetEnabled(enabled);
            m_form.DrawEnabled(m_control, enabled);
        }
        void SetCaption(const std::string& caption) override {
            CPlainButton::SetCaption(caption);
            m_form.DrawCaption(m_control, caption);
        }
    };

    // Toolkit bars ignore values outside their range or animate as "busy" at a maximum of 0;
    // the bar is drawn from the range and position that CDrawnProgressBar keeps.
    class CBar : public CDrawnProgressBar {
      public:
        explicit CBar(CFormState& form) : m_form(form) {}
        void SetVisible(bool visible) override {
            CDrawnProgressBar::SetVisible(visible);
            m_form.DrawVisible(FormControl::ProgressBar2, visible);
        }

      private:
        void Draw() override { m_form.DrawProgress(Maximum(), Position()); }

        CFormState& m_form;
    };

    explicit Controls(CFormState& form)
        : btOK(form, FormControl::btOK),
          btCancel(form, FormControl::btCancel),
          lCurVer(form, FormControl::lCurVer),
          lActVer(form, FormControl::lActVer),
          plUp(form, FormControl::plUp),
          lUpdate(form, FormControl::lUpdate),
          ProgressBar2(form),
          lTextFile(form, FormControl::lTextFile),
          lFile(form, FormControl::lFile),
          lUpdateTime(form, FormControl::lUpdateTime) {}

    CButton btOK;
    CButton btCancel;
    CLabel lCurVer;
    CLabel lActVer;
    CDrawn<CPlainControl> plUp;
    CLabel lUpdate;
    CBar ProgressBar2;
    CLabel lTextFile;
    CLabel lFile;
    CLabel lUpdateTime;
};

CFormState::CFormState() : m_controls(std::make_unique<Controls>(*this)) {}

CFormState::~CFormState() = default;

void CFormState::StartDriver(const FormDriverFactory& makeDriver) {
    m_driver = makeDriver(*this);
}

bool CFormState::FirstShowing() {
    if (m_shown) {
        return false;
    }
    m_shown = true;
    return true;
}

std::string CFormState::JournalText() const {
    std::string text;
    for (const std::string& line : m_lines) {
        text += line + "\r\n";
    }
    return text;
}

void CFormState::AppendLine(const std::string& text) {
    m_lines.push_back(text);
    DrawAppendedLine(text);
}

void CFormState::MarkLastLine(const std::string& suffix) {
    const bool firstLine = m_lines.empty();
    if (firstLine) {
        m_lines.emplace_back();
    }
    m_lines.back() += suffix;
    DrawMark(suffix, firstLine);
}

IButton& CFormState::btOK() {
    return m_controls->btOK;
}
IButton& CFormState::btCancel() {
    return m_controls->btCancel;
}
ILabel& CFormState::lCurVer() {
    return m_controls->lCurVer;
}
ILabel& CFormState::lActVer() {
    return m_controls->lActVer;
}
IControl& CFormState::plUp() {
    return m_controls->plUp;
}
ILabel& CFormState::lUpdate() {
    return m_controls->lUpdate;
}
IProgressBar& CFormState::ProgressBar2() {
    return m_controls->ProgressBar2;
}
ILabel& CFormState::lTextFile() {
    return m_controls->lTextFile;
}
ILabel& CFormState::lFile() {
    return m_controls->lFile;
}
ILabel& CFormState::lUpdateTime() {
    return m_controls->lUpdateTime;
}

void CFormState::ShowFailedItems(const std::vector<FailedItemsLog>& logs,
                                 const std::vector<FailedCopy>& copies) {
    m_failedLogs = logs;
    m_failedCopies = copies;
    DrawCaption(FormControl::lFailures, FailedItemsText(logs, copies));
    DrawVisible(FormControl::lFailures, true);
    DrawVisible(FormControl::btLog, true);
}

std::string CFormState::FailedItemsView(
    const std::function<std::string(std::string_view)>& decodeLog) const {
    std::string view;
    for (const FailedItemsLog& log : m_failedLogs) {
        view += log.path + "\n\n";
        // A log that went away since the run shows its path only.
        try {
            view += decodeLog(ReadWholeFile(log.path));
        } catch (const CSystemError&) {
        }
        view += "\n";
    }
    // Copies that failed are in no log: their error lines are listed here.
    if (!m_failedCopies.empty()) {
        view += "Не скопійовано:\n";
        for (const FailedCopy& copy : m_failedCopies) {
            view += copy.destination + ": " + copy.error + "\n";
        }
    }
    return view;
}
