#include "app/RunRecord.h"

#include <algorithm>
#include <exception>

#include "app/ErrorText.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Identity.h"
#include "platform/SystemError.h"

namespace {

// The whole of an open file.
std::string ReadAll(CFile& file) {
    std::string bytes;
    char buffer[64 * 1024];
    while (const size_t got = file.Read(buffer, sizeof buffer)) {
        bytes.append(buffer, got);
    }
    return bytes;
}

}  // namespace

void CRunRecord::Begin(const std::string& path, const std::string& mode,
                       const std::string& updaterPath, size_t limit) {
    m_started = true;
    m_hasOpenLine = false;
    m_problem.clear();
    std::string unfinished;
    try {
        unfinished = Open(path, limit);
    } catch (const std::exception& error) {
        m_file = CFile();
        m_problem = "Журнал запусків " + path + " не ведеться: " + WhyNotOpened(path, error);
        return;
    }
    Write(kRunHeaderMark + LocalDateTimeText() + " " + mode + " " + RunBy() + " " + updaterPath);
    if (!unfinished.empty()) {
        Note("[note] the run begun \"" + unfinished +
             "\" ended without an outcome: it was interrupted");
    }
}

std::string CRunRecord::Open(const std::string& path, size_t limit) {
    std::string text;
    if (InspectEntry(path) != EntryKind::Missing) {
        // Read and cut through the file itself; a link or a FIFO in its place fails here, and
        // again at the open for appending below, which decides.
        try {
            CFile current(path, CFile::Mode::ReadRegular);
            text = ReadAll(current);
            if (text.size() > limit) {
                // Written beside and renamed over it: a crash while cutting never loses the
                // record. The rename replaces the name, never writes through it.
                text = NewestRuns(text, limit / 2);
                CReplacingFile file(path);
                file.TakePermissionsOf(current);
                file.WriteAll(text.data(), text.size());
                current.Close();  // Windows renames over no open file
                file.Commit();
            }
        } catch (const CSystemError&) {
            // An uncut record only grows: the run goes on and is recorded.
        }
    }
    m_file = CFile(path, CFile::Mode::Append);
    if (!text.empty() && text.back() != '\n') {
        // A line cut by a crash ends here rather than running into this run's header.
        m_file.WriteAll(kRecordLineEnd, sizeof kRecordLineEnd - 1);
    }
    return UnfinishedRunHeader(text);
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
    if (!m_file.IsOpen()) {
        return;
    }
    try {
        // One write per line: with O_APPEND a line is never split by another writer.
        const std::string line = text + kRecordLineEnd;
        m_file.WriteAll(line.data(), line.size());
    } catch (const std::exception&) {
        // A record that cannot be written must never stop an update.
    }
}

std::string RunBy() {
    return CurrentUserName() + "@" + CurrentHostName();
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

std::string UnfinishedRunHeader(const std::string& text) {
    const std::string mark = std::string("\n") + kRunHeaderMark;
    size_t start = text.rfind(mark);
    if (start == std::string::npos) {
        if (!text.starts_with(kRunHeaderMark)) {
            return {};
        }
        start = 0;
    } else {
        ++start;
    }
    size_t headerEnd = std::min(text.find('\n', start), text.size());
    if (headerEnd > start && text[headerEnd - 1] == '\r') {
        --headerEnd;  // a record of CR LF line ends
    }
    // Record lines begin with their date and time, then the mark.
    if (text.find(std::string(" ") + kOutcomeMark, headerEnd) != std::string::npos) {
        return {};
    }
    return text.substr(start, headerEnd - start);
}
