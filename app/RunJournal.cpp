#include "app/RunJournal.h"

#include "app/ErrorText.h"
#include "app/FailedItems.h"

void CRunJournal::AppendLine(const std::string& text) {
    m_lastLine = text;
    m_record.AppendLine(text);
    m_window.AppendLine(text);
}

void CRunJournal::MarkLastLine(const std::string& suffix) {
    m_record.MarkLastLine(suffix);
    m_window.MarkLastLine(suffix);
}

void CRunJournal::ShowBox(MessageKind kind, const std::string& title, const std::string& text) {
    m_lastMessage = text;
    m_record.Note("[message] " + text);
    // A box may stay open for hours, or until the program is ended: the record has it first.
    m_record.Flush();
    m_window.ShowMessageBox(kind, title, text);
}

void CRunJournal::ShowError(const std::string& text) {
    ShowBox(MessageKind::Error, kApplicationTitle, WithFullStop(text));
}

void CRunJournal::BeginRecord(const std::string& recordPath, const std::string& updaterPath) {
    m_record.Begin(recordPath, m_mode == RunMode::Console ? "console" : "window", updaterPath);
    if (!m_record.Problem().empty()) {
        AppendLine(m_record.Problem());
    }
}

void CRunJournal::FinishRecord(const std::string& outcome, const std::vector<int64_t>& packages,
                               int exitStatus, const CFailedItems& failed) {
    if (!m_record.IsStarted()) {
        return;
    }
    m_recordFinished = true;
    std::string numbers;
    for (const int64_t number : packages) {
        numbers += " " + std::to_string(number);
    }
    m_record.Note("[packages]" + (numbers.empty() ? std::string(" none") : numbers));
    const std::string status = std::to_string(exitStatus);
    m_record.Note(kOutcomeMark + outcome +
                  (m_mode == RunMode::Console ? ", exit status " + status
                                              : " (exit status " + status + " in console mode)"));
    for (const FailedItemsLog& log : failed.Logs()) {
        m_record.Note("[failed] " + std::to_string(log.count) + " in " + log.path);
    }
    for (const FailedCopy& copy : failed.Copies()) {
        m_record.Note("[failed] copy " + copy.destination + ": " + copy.error);
    }
}
