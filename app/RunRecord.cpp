#include "app/RunRecord.h"

#include <exception>

#include "app/ErrorText.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

void CRunRecord::Begin(const std::string& path, const std::string& mode,
                       const std::string& updaterPath, size_t limit) {
    m_path = path;
    m_hasOpenLine = false;
    try {
        if (FileSize(path) > static_cast<int64_t>(limit)) {
            // Written beside and renamed over it: a crash while cutting never loses the record.
            const std::string kept = NewestRuns(ReadWholeFile(path), limit / 2);
            CReplacingFile file(path);
            file.TakePermissionsOf(CFile(path, CFile::Mode::Read));
            file.WriteAll(kept.data(), kept.size());
            file.Commit();
        }
    } catch (const std::exception&) {
        // An uncut record only grows: the run goes on and is recorded.
    }
    Write(kRunHeaderMark + LocalDateTimeText() + " " + mode + " " + updaterPath);
}

void CRunRecord::AppendLine(const std::string& text) {
    Flush();
    if (!IsStarted()) {
        return;
    }
    m_openLine = text;
    m_openTime = LocalDateTimeText();
    m_hasOpenLine = true;
}

void CRunRecord::MarkLastLine(const std::string& suffix) {
    if (!m_hasOpenLine) {
        return;  // a mark always follows its line directly, which is still open then
    }
    m_openLine += suffix;
}

void CRunRecord::Flush() {
    if (m_hasOpenLine) {
        m_hasOpenLine = false;
        Write(m_openTime + " " + OneLine(m_openLine));
    }
}

void CRunRecord::Note(const std::string& text) {
    Flush();
    if (IsStarted()) {
        Write(LocalDateTimeText() + " " + OneLine(text));
    }
}

void CRunRecord::Write(const std::string& text) {
    try {
        const std::string line = text + "\n";
        CFile file(m_path, CFile::Mode::Append);
        file.WriteAll(line.data(), line.size());
        file.Close();
    } catch (const std::exception&) {
        // A record that cannot be written must never stop an update.
    }
}

std::string NewestRuns(const std::string& text, size_t limit) {
    const std::string mark = std::string("\n") + kRunHeaderMark;
    // Walks the run starts from the newest back while the runs from there still fit.
    size_t keep = text.size();
    size_t searchEnd = text.size();
    while (searchEnd > 0) {
        size_t start = text.rfind(mark, searchEnd - 1);
        if (start == std::string::npos) {
            start = text.starts_with(kRunHeaderMark) ? 0 : std::string::npos;
        } else {
            ++start;  // the header begins after the line break
        }
        if (start == std::string::npos || text.size() - start > limit) {
            break;
        }
        keep = start;
        if (start == 0) {
            break;
        }
        searchEnd = start - 1;
    }
    if (keep == text.size() && !text.empty()) {
        // The newest run alone is over the limit: its end, from a line's start, rather than
        // nothing of the run that most likely matters.
        const size_t line = text.find('\n', text.size() - std::min(limit + 1, text.size()));
        keep = line == std::string::npos ? text.size() : line + 1;
    }
    return text.substr(keep);
}
