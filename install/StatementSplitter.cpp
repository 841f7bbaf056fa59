#include "install/StatementSplitter.h"

#include <algorithm>
#include <utility>

#include "platform/Text.h"

namespace {

// ASCII-only, case-insensitive prefix test; other bytes compare as they are.
bool StartsWithNoCase(std::string_view text, std::string_view upperPrefix) {
    if (text.size() < upperPrefix.size()) {
        return false;
    }
    for (size_t i = 0; i < upperPrefix.size(); ++i) {
        if (UpperAscii(text[i]) != upperPrefix[i]) {
            return false;
        }
    }
    return true;
}

bool ContainsNoCase(std::string_view text, std::string_view upperNeedle) {
    for (size_t i = 0; i + upperNeedle.size() <= text.size(); ++i) {
        if (StartsWithNoCase(text.substr(i), upperNeedle)) {
            return true;
        }
    }
    return false;
}

// The new terminator of a "SET TERM" line: after the first "M"/"m", the first character that is
// neither a space nor "M"/"m". The last character (the old terminator) is never examined; when
// nothing qualifies, the last character examined is taken.
char TerminatorOf(std::string_view line) {
    char result = line.empty() ? ';' : line.front();
    bool metM = false;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        const char c = line[i];
        result = c;
        const bool isM = c == 'M' || c == 'm';
        if (!metM) {
            metM = isM;
        } else if (c != ' ' && !isM) {
            break;
        }
    }
    return result;
}

}  // namespace

std::string CStatementSplitter::TakeStatement() {
    m_pendingLineFeeds = 0;
    return std::move(m_pending);
}

CStatementSplitter::LineKind CStatementSplitter::Feed(std::string_view line, std::string* storage) {
    if (m_completed) {
        m_pending.clear();  // a statement that was not taken
        m_pendingLineFeeds = 0;
        m_completed = false;
    }
    const std::string_view trimmed = TrimControl(line);
    if (IsClientCommand(trimmed)) {
        if (ContainsNoCase(trimmed, "SET TERM")) {
            m_terminator = TerminatorOf(trimmed);
        }
        return LineKind::ClientCommand;
    }

    // pending := Trim(pending + LF + line): as both are trimmed, a blank line adds nothing and
    // otherwise the line is appended after one LF. What the line says is taken before the
    // takeover below, which moves, shifts and may reallocate the buffer `trimmed` points into.
    const bool onlyTerminator = trimmed.size() == 1 && trimmed.front() == m_terminator;
    const bool endsStatement = !trimmed.empty() && trimmed.back() == m_terminator;
    if (!onlyTerminator && !trimmed.empty() && m_pending.empty() && storage != nullptr &&
        storage->data() == line.data()) {
        // The line's own buffer becomes the statement, trimmed in place.
        const size_t from = static_cast<size_t>(trimmed.data() - line.data());
        const size_t size = trimmed.size();
        m_pending = std::move(*storage);
        m_pending.erase(from + size);
        m_pending.erase(0, from);
        m_pending.reserve(size + 3);  // room for the CR LF at the end; no copy when it is there
    } else if (!onlyTerminator && !trimmed.empty()) {
        const size_t lineFeeds = m_pendingLineFeeds + (m_pending.empty() ? 0 : 1);
        // Grown as a string grows, but with the room that the CR LF line ends will take.
        const size_t needed = m_pending.size() + 1 + trimmed.size() + lineFeeds + 2;
        if (needed > m_pending.capacity()) {
            m_pending.reserve(m_pending.empty() ? needed
                                                : std::max(needed, 2 * m_pending.capacity()));
        }
        if (!m_pending.empty()) {
            m_pending += '\n';
        }
        m_pendingLineFeeds = lineFeeds;
        m_pending += trimmed;
    }

    if (endsStatement) {
        if (!onlyTerminator) {
            m_pending.pop_back();  // the terminator the appended line ended with
        }
        m_completed = true;
        ++m_completedCount;
    }
    return LineKind::StatementLine;
}

bool CStatementSplitter::IsClientCommand(std::string_view trimmed) const {
    if (!StartsWithNoCase(trimmed, "SET ") || StartsWithNoCase(trimmed, "SET G") ||
        StartsWithNoCase(trimmed, "SET STATISTICS")) {
        return false;
    }
    return m_pending.empty() || ContainsNoCase(trimmed, "SET TERM");
}
