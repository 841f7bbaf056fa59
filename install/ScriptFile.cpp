#include "install/ScriptFile.h"

#include "install/StatementSplitter.h"

namespace {

constexpr std::string_view kLineEndsAndNul("\r\n\0", 3);

}  // namespace

CScriptReader::CScriptReader(const std::string& path, size_t blockSize)
    : m_file(path, CFile::Mode::Read), m_block(blockSize) {}

bool CScriptReader::Refill() {
    m_begin = 0;
    m_end = m_file.Read(m_block.data(), m_block.size());
    return m_end > 0;
}

void CScriptReader::ReleaseLine() {
    if (m_carry.capacity() > 4 * kScriptBlockSize) {
        std::string().swap(m_carry);  // a line of megabytes is not kept for the whole script
    }
    m_carry.clear();
}

bool CScriptReader::NextLine(std::string_view& line) {
    ReleaseLine();
    while (!m_finished) {
        if (m_begin == m_end && !Refill()) {
            m_finished = true;
            break;
        }
        if (m_skipLf) {
            m_skipLf = false;
            if (m_block[m_begin] == '\n') {
                ++m_begin;  // CR LF is one line end, even across two blocks
                continue;
            }
        }
        const std::string_view rest(m_block.data() + m_begin, m_end - m_begin);
        const size_t end = rest.find_first_of(kLineEndsAndNul);
        if (end == std::string_view::npos) {
            m_carry.append(rest);
            m_begin = m_end;
            continue;
        }
        const char ending = rest[end];
        m_begin += end + 1;
        if (ending == '\0') {
            m_finished = true;  // whatever follows a NUL is no part of the script
            if (m_carry.empty() && end == 0) {
                break;
            }
        } else {
            m_skipLf = ending == '\r';
        }
        if (m_carry.empty()) {
            line = rest.substr(0, end);  // the common case: the line lies within the block
        } else {
            m_carry.append(rest.substr(0, end));
            line = m_carry;
        }
        return true;
    }
    // The end of the text: a last line without a line end.
    if (!m_carry.empty()) {
        line = m_carry;
        return true;
    }
    return false;
}

size_t CountScriptLines(const std::string& path) {
    CScriptReader reader(path);
    size_t count = 0;
    std::string_view line;
    while (reader.NextLine(line)) {
        ++count;
    }
    return count;
}

size_t CountScriptStatements(const std::string& path) {
    CScriptReader reader(path);
    CStatementSplitter splitter;
    std::string_view line;
    while (reader.NextLine(line)) {
        splitter.Feed(line, reader.LongLine());
        reader.ReleaseLine();
    }
    return splitter.CompletedCount();
}
