#pragma once
// The attachment to one database.

#include <string>

namespace Firebird {
class IAttachment;
}

// How a client names itself to the server: what other connections read as
// MON$REMOTE_PROCESS and MON$REMOTE_PID. An empty name leaves both to the client library.
struct CClientIdentity {
    std::string processName;
    int processId = 0;
};

// Move-only; the destructor detaches and swallows errors. Errors are CDbError.
class CAttachment {
  public:
    CAttachment() = default;
    ~CAttachment();
    CAttachment(CAttachment&& other) noexcept;
    CAttachment& operator=(CAttachment&& other) noexcept;
    CAttachment(const CAttachment&) = delete;
    CAttachment& operator=(const CAttachment&) = delete;

    // Attaches with exactly the entries user name and password, in that order, followed by the
    // process name and id when `identity` names one. A `pageBuffers` above 0 sizes the page
    // cache, in pages, of a database that this attachment opens (the embedded engine's first
    // attachment to it); otherwise the engine's default or the database's own. A
    // `connectTimeoutSeconds` above 0 bounds how long a server may take to answer the
    // connection (the client's default is 180 seconds).
    void Attach(const std::string& connectionString, const std::string& userName,
                const std::string& password, const CClientIdentity& identity = {},
                int pageBuffers = 0, int connectTimeoutSeconds = 0);
    // Creates a new database (tests and tools); the attachment stays open.
    void Create(const std::string& connectionString, const std::string& userName,
                const std::string& password, int pageSize = 8192);
    void Detach();  // no-op when closed
    // Called from another thread while a call on this attachment is in progress: `abort` false
    // makes the server end the statement it runs (fb_cancel_raise), true closes the connection on
    // the client's side (fb_cancel_abort), which also ends a call waiting for a server that does
    // not answer. Errors are ignored: the call in progress tells what happened.
    void CancelCall(bool abort);
    bool IsOpen() const { return m_handle != nullptr; }
    Firebird::IAttachment* Handle() const { return m_handle; }

  private:
    Firebird::IAttachment* m_handle = nullptr;
};
