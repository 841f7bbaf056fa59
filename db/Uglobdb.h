#pragma once
// The program's one database session: one connection with one default transaction.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/Database.h"
#include "db/DbError.h"
#include "db/ServiceManager.h"

// How the updater names its attachment to the server (MON$REMOTE_PROCESS), so that another
// updater's pre-flight recognises it.
inline constexpr char kUpdaterProcessName[] = "tessara-updater";
// How long a statement of the session waits for a row that another connection has locked
// before it fails with a lock conflict (seconds).
inline constexpr int kLockTimeoutSeconds = 10;
// How long a server may take to answer a new connection (seconds; the client's own default is
// 180): a handshake on a working network takes well under a second, and a server that accepts
// the connection and never answers must not hold the suite's locks for minutes.
inline constexpr int kConnectTimeoutSeconds = 20;

// Another connection to the session's database, as MON$ATTACHMENTS shows it.
struct CAttachmentInfo {
    std::string process;  // MON$REMOTE_PROCESS: the client program's path or name; may be empty
    std::string host;     // MON$REMOTE_HOST, else MON$REMOTE_ADDRESS; empty when neither is known
    int64_t id = 0;       // MON$ATTACHMENT_ID
    int processId = 0;    // MON$REMOTE_PID: the client's process id on its host; 0 when unknown
    std::string since;    // MON$TIMESTAMP, "YYYY-MM-DD hh:mm:ss" in the server's time
};

// Size of the page cache, in pages, of a session on a local database: the embedded engine's cache
// is the updater's own memory (2,048 pages of 8 KB by default), and a commit writes out what it
// holds without a pause for the window. Package 238's content sequence on a busy machine, last of
// 3 rounds: 64 pages 12.6 s, 128: 12.7 s, 256: 15.5 s, 512: 15.9 s, 2,048: 17.1 s (some 13,600
// writes at every size); longest stretch without a pump 0.25, 0.27, 0.38, 0.64 and 2.56 s.
inline constexpr int kEmbeddedPageBuffers = 128;

class CGlobDB {
  public:
    // `programDirectory` gives the place of the default database "velmora.fdb" when Connect gets
    // a blank path. Does not connect.
    explicit CGlobDB(std::string programDirectory);

    // (Re)connects: a trimmed non-empty server name gives "server:path", otherwise the path
    // alone; an empty user name means "sysdba" with the default password. The attachment is
    // named kUpdaterProcessName with this process's id, a server has ConnectTimeout() seconds to
    // answer, and the transactions wait at most kLockTimeoutSeconds for a lock. Starts the
    // transaction. Errors of the client library propagate as CDbError.
    void Connect(const std::string& serverName, const std::string& databasePath,
                 const std::string& userName, const std::string& password);
    // Column `data` of the newest row of `versions`; 0 for no row or NULL.
    int32_t GetVersion();
    // The same, read in a transaction of its own: the default transaction is a snapshot taken
    // when it started and would not show what has been committed since.
    int32_t ReadCommittedVersion();
    // The database's attachments other than this one (system ones included, without process).
    std::vector<CAttachmentInfo> OtherAttachments();
    CDatabase& GetDatabase() { return m_database; }

    int ConnectTimeout() const { return m_connectTimeout; }
    void SetConnectTimeout(int seconds) { m_connectTimeout = seconds; }
    // Ends the call in progress on another thread (CAttachment::CancelCall).
    void CancelCall(bool abort) { m_database.Attachment().CancelCall(abort); }
    // Whether the server of the last Connect still serves the session's connection, asked while
    // a call on it has been silent for a while. False when the server cannot be reached or does
    // not answer a new connection within ConnectTimeout(); false too when it answers but no
    // longer serves this one (a firewall or NAT that dropped the flow, a half-open socket after
    // a network change: new connections work, this one carries nothing): its attachment is gone
    // from MON$ATTACHMENTS, or it was found idle (no statement active) at two probes in a row
    // with no page read, write, fetch or mark between them. True when it answers with an error
    // of its own, or cannot tell. It uses an attachment of its own, so it may run while a call
    // is in progress on the session; one probe at a time.
    bool ServerAnswers();
    // Whether a failed Connect (or probe) that waited `waitedSeconds` failed because the server
    // did not answer within ConnectTimeout().
    bool IsConnectTimeout(const CDbError& error, double waitedSeconds) const;

    // The database's file as its engine sees it (MON$DATABASE_NAME): the full path on the
    // server, also when the connection string names an alias.
    std::string DatabaseFile();
    // The services manager of the last Connect's engine (the server, or the embedded engine for
    // a local path), attached with the session's user name and password.
    CServiceManager AttachServices() const;
    // The server of the last Connect; empty for a local database.
    const std::string& ServerName() const { return m_serverName; }
    // The connection string the last Connect used (for messages and tests).
    const std::string& ConnectionString() const { return m_connectionString; }

  private:
    // What the server shows of the session's attachment at one probe.
    struct CActivity {
        bool attached = false;
        bool active = false;         // a statement of it runs
        std::vector<int64_t> pages;  // reads, writes, fetches, marks
    };
    // The session's attachment as the probe's connection `probe` sees it.
    CActivity ActivityOf(CAttachment& probe) const;
    int32_t VersionIn(CTransaction& transaction);
    // Before an attachment to the server: when nothing at all answers at its address within
    // ConnectTimeout(), throws what the client throws for its connect timeout. The client itself
    // would wait for the system's own connect timeout then (about two minutes on Linux).
    void RequireServerAddressAnswers() const;

    std::string m_programDirectory;
    std::string m_serverName;  // trimmed; empty for the embedded engine
    std::string m_connectionString;
    std::string m_userName;
    std::string m_password;
    int m_connectTimeout = kConnectTimeoutSeconds;
    CDatabase m_database;
    // The session's MON$ATTACHMENT_ID (CURRENT_CONNECTION), read at Connect; 0 when unknown.
    int64_t m_attachmentId = 0;
    // The last probe's view of it, while it was idle.
    std::optional<CActivity> m_idleAtLastProbe;
};

// The session, reachable process-wide; set once by the main window (tests set their own).
CGlobDB* GlobDB();
void SetGlobDB(CGlobDB* session);
