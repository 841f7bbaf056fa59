#pragma once
// The run record: every run of the updater (window or console, the pre-flight included) appends
// to one text file in the suite's directory, since the journal disappears with the window.
//
//   === 2026-05-03 14:22:05 console ivan@ws-12 /srv/tessara/tessara-updater
//   2026-05-03 14:22:05 Перевірка запущенної програми...OK
//   2026-05-03 14:22:06 [message] <the text of a message box>
//   2026-05-03 14:23:10 [packages] 238 239
//   2026-05-03 14:23:10 [outcome] succeeded with failed items, exit status 4
//   2026-05-03 14:23:10 [failed] 2 in /tmp/lib.kvr/up.2026.05.03.lsql.log
//   2026-05-03 14:23:10 [failed] copy /srv/tessara/Reports/list.fr3: error (20) Not a directory
//
// The header names the user and the machine that ran the update: a suite's directory is shared
// by its workstations. Lines end with CR LF on Windows (Notepad before Windows 10 shows a file
// of LF line ends as one line), with LF elsewhere; both are read back. Journal lines carry the
// time they were begun. Each line is appended as soon as it is final, so
// a crash loses at most the line in hand; the next run notes a run that ended without its
// outcome. A record that cannot be written is skipped: it never stops an update.
//
// The suite's directory may be writable by every user of the suite, so the record is opened as
// itself: a link, a directory or a FIFO at its name is refused (Problem() says so), never
// written or read through.

#include <cstddef>
#include <string>

#include "platform/FileSystem.h"

inline constexpr char kRunRecordName[] = "tessara-updater.log";
// A record that has grown beyond this is cut, when a run starts, to the newest whole runs that
// fit in half of it.
inline constexpr size_t kRunRecordLimit = 1024 * 1024;
// The start of a run's header line; no other line of the record starts with it.
inline constexpr char kRunHeaderMark[] = "=== ";

class CRunRecord {
  public:
    // Starts the record of a run in `path` (cut first when it is over `limit` bytes) with the
    // header line: date, time, mode ("window" or "console"), user@host (RunBy) and the
    // updater's path. The file
    // stays open until the record is destroyed.
    void Begin(const std::string& path, const std::string& mode, const std::string& updaterPath,
               size_t limit = kRunRecordLimit);
    // Begin was called: the run owns the record, whether it could be opened or not.
    bool IsStarted() const { return m_started; }
    // Why the record is not written (for the journal), or empty.
    const std::string& Problem() const { return m_problem; }

    // The journal as the window shows it: a line goes to the record once it can no longer
    // change, when the next line comes or at Flush. Nothing is recorded before Begin.
    void AppendLine(const std::string& text);
    void MarkLastLine(const std::string& suffix);
    // The line in hand is final (a message pump, a message box, the end of the run).
    void Flush();
    // A line of the record's own ("[message] ...", "[outcome] ..."), after the line in hand.
    void Note(const std::string& text);

  private:
    // Opens the record, cut to fit `limit`, for appending; returns the text of its last run
    // when that run ended without an outcome line, else an empty string.
    std::string Open(const std::string& path, size_t limit);
    void Write(const std::string& text);

    CFile m_file;
    bool m_started = false;
    std::string m_problem;
    std::string m_openLine;
    std::string m_openTime;
    bool m_hasOpenLine = false;
};

// The end of every line the record writes.
#ifdef _WIN32
inline constexpr char kRecordLineEnd[] = "\r\n";
#else
inline constexpr char kRecordLineEnd[] = "\n";
#endif

// Who runs this update, as the header names it: "user@host".
std::string RunBy();

// Marks of the record's own lines.
inline constexpr char kOutcomeMark[] = "[outcome] ";

// The newest whole runs of a record's text that fit in `limit` bytes together; text before the
// first header is dropped with the runs that do not fit. When the newest run alone does not
// fit, its last whole lines that do.
std::string NewestRuns(const std::string& text, size_t limit);
// The header line of the last run in `text` (without its line end) when that run has no
// outcome line (it was killed or the machine stopped), else empty.
std::string UnfinishedRunHeader(const std::string& text);
