#pragma once
// The journal of the checks and the run: every line and every message box goes to the window
// and, once the updater owns the suite, to the run record, which the journal begins and ends.

#include <cstdint>
#include <string>
#include <vector>

#include "app/RunRecord.h"
#include "app/UpdaterWindow.h"

class CFailedItems;

// Which face the updater shows; the run record names it.
enum class RunMode { Window, Console };

// Title of the error box and of the window.
inline constexpr char kApplicationTitle[] = "Оновлення";

class CRunJournal : public IJournal {
  public:
    CRunJournal(IUpdaterWindow& window, RunMode mode) : m_window(window), m_mode(mode) {}

    void AppendLine(const std::string& text) override;
    void MarkLastLine(const std::string& suffix) override;
    // A message box; the record notes its text.
    void ShowBox(MessageKind kind, const std::string& title, const std::string& text);
    // The error box, its text ended by a full stop.
    void ShowError(const std::string& text);
    // Writes the line in hand to the record (a message pump, a long wait ahead).
    void Flush() { m_record.Flush(); }
    // A line of the record's own, not shown by the window.
    void Note(const std::string& text) { m_record.Note(text); }

    // Begins the run's record in `recordPath` for the updater at `updaterPath`; a record that
    // cannot be written gets a journal line that says why.
    void BeginRecord(const std::string& recordPath, const std::string& updaterPath);
    // The record was begun and has no outcome yet.
    bool RecordOpen() const { return m_record.IsStarted() && !m_recordFinished; }
    // Ends the record: the packages installed, the outcome with its exit status and the failed
    // items. Nothing when the record was never begun.
    void FinishRecord(const std::string& outcome, const std::vector<int64_t>& packages,
                      int exitStatus, const CFailedItems& failed);

    // The journal line added last and the text of the last message box.
    const std::string& LastLine() const { return m_lastLine; }
    const std::string& LastMessage() const { return m_lastMessage; }

  private:
    IUpdaterWindow& m_window;
    RunMode m_mode;
    CRunRecord m_record;
    bool m_recordFinished = false;
    std::string m_lastLine;
    std::string m_lastMessage;
};
