#pragma once
// Turns the lines of an SQL script into statements, one line at a time. No database and no I/O:
// the statement runner feeds it the lines and executes what it completes.
//
// A statement ends on the line whose last character (after trimming) is the terminator, ";" at
// the start. Its trimmed lines are joined by LF; blank lines add nothing, and the terminator
// that ends it is no part of it. A line that is the terminator alone ends the statement
// gathered so far, even an empty one.
//
// Client commands of the interactive tool are no part of any statement. "SET TERM" is one
// wherever it stands and sets the terminator; other lines beginning with "SET " are only between
// statements, since inside a statement they are its SET clauses (UPDATE, procedure bodies).
// "SET GENERATOR" and "SET STATISTICS" are server statements.

#include <cstddef>
#include <string>
#include <string_view>

class CStatementSplitter {
  public:
    enum class LineKind { ClientCommand, StatementLine };

    // Takes the next line of the script, without its line end, and says what it was. When the
    // line lies in a string of its own (`storage`, a line of megabytes), a statement that begins
    // with it takes that string over rather than copying it.
    LineKind Feed(std::string_view line, std::string* storage = nullptr);

    // True when the line just fed ended a statement. Statement() is then that statement's text
    // (possibly empty), valid until the next Feed.
    bool Completed() const { return m_completed; }
    const std::string& Statement() const { return m_pending; }
    // The statement just ended, moved out rather than copied (a statement may be megabytes). Its
    // buffer has room for a CR before every LF and a CR LF at the end, so that the statement
    // object turns its line ends into CR LF in place instead of copying it once more.
    std::string TakeStatement();
    // The number of statements ended so far, the one just ended included.
    size_t CompletedCount() const { return m_completedCount; }
    // The statement begun and not yet ended; after the last line, the text that never met its
    // terminator. Empty when there is none.
    std::string_view Tail() const { return m_completed ? std::string_view() : m_pending; }
    char Terminator() const { return m_terminator; }

  private:
    bool IsClientCommand(std::string_view trimmed) const;

    char m_terminator = ';';
    // The statement being gathered; once completed, the statement ended (the one copy of its
    // text), cleared by the next Feed.
    std::string m_pending;
    size_t m_pendingLineFeeds = 0;  // the LFs that join m_pending's lines
    bool m_completed = false;
    size_t m_completedCount = 0;
};
