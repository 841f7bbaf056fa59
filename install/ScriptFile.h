#pragma once
// Reading an SQL script file line by line, without holding the whole file: 8-bit bytes as they
// are, lines ending at CR LF, LF or CR, the text ending at a NUL byte.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

// Large enough that a script is read in a few calls, small enough to stay out of the way of
// memory: the reader never holds more than a block and the line that spans two blocks.
inline constexpr size_t kScriptBlockSize = 64 * 1024;

class CScriptReader {
  public:
    // Opens the script; throws CSystemError when it cannot be read. `blockSize`: how much is read
    // at a time (tests move the block boundary with it).
    explicit CScriptReader(const std::string& path, size_t blockSize = kScriptBlockSize);

    // The next line without its line end, valid until the next call; false after the last
    // line. A last line without a line end counts; the line end after it adds no empty line.
    bool NextLine(std::string_view& line);
    // The caller is done with the line: one of megabytes, gathered across blocks, is freed now
    // rather than at the next call (before its statement runs, not beside it).
    void ReleaseLine();
    // The buffer of the line just handed out when it spanned blocks (it is then `line`), moved
    // out so that a statement of one long line can take it over instead of copying it; null for
    // a line that lies within a block.
    std::string* LongLine() { return m_carry.empty() ? nullptr : &m_carry; }

  private:
    // Reads the next block; false at the end of the file.
    bool Refill();

    CFile m_file;
    std::vector<char> m_block;
    size_t m_begin = 0;  // the unread part of m_block
    size_t m_end = 0;
    std::string m_carry;      // the start of a line that runs on into the next block
    bool m_skipLf = false;    // the last line ended with CR: a LF right after it is its end too
    bool m_finished = false;  // the end of the file or a NUL byte was reached
};

// The number of lines a CScriptReader yields for the file, counted in one pass without keeping
// any of them. Throws CSystemError when the file cannot be read.
size_t CountScriptLines(const std::string& path);

// The number of statements the script holds, as CStatementSplitter ends them (a last statement
// without its terminator is not counted), in one pass. Throws CSystemError when the file cannot
// be read.
size_t CountScriptStatements(const std::string& path);
