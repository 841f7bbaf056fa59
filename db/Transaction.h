#pragma once
// A connection's default transaction, and the one way to run a unit of work in a transaction
// of its own.

#include <functional>

namespace Firebird {
class ITransaction;
}
class CAttachment;

// Started with an empty parameter block, so the server's default behaviour applies (snapshot,
// read-write, waiting for locks without limit), unless a lock timeout is set. Not active until
// Start(); Commit/Rollback end it. The destructor rolls back a still active transaction.
class CTransaction {
  public:
    explicit CTransaction(CAttachment& attachment) : m_attachment(&attachment) {}
    ~CTransaction();
    CTransaction(const CTransaction&) = delete;
    CTransaction& operator=(const CTransaction&) = delete;

    bool IsActive() const { return m_handle != nullptr; }
    // Transactions started from now on wait at most `seconds` for a lock that another connection
    // holds, then their statement fails with a lock conflict; 0 waits without limit.
    void SetLockTimeout(int seconds) { m_lockTimeout = seconds; }
    void Start();
    void Commit();    // a failed commit leaves the transaction active
    void Rollback();  // no-op when not active; not active afterwards, even when it failed
    // Throws CDbError unless the transaction is active on an open attachment.
    void RequireActive() const;
    // IAttachment::execute returns the transaction current after a statement: null after a
    // script's own COMMIT or ROLLBACK. The statement layer hands that answer back here.
    void AdoptAfterExecute(Firebird::ITransaction* current);
    Firebird::ITransaction* Handle() const { return m_handle; }
    CAttachment& Attachment() const { return *m_attachment; }

  private:
    CAttachment* m_attachment;
    Firebird::ITransaction* m_handle = nullptr;
    int m_lockTimeout = 0;
};

// One statement, one transaction: starts the transaction unless it is active already (as it is
// after connecting), runs `work` and commits, unless the work ended the transaction itself (a
// script's COMMIT or ROLLBACK). When anything fails the transaction is rolled back before the
// error goes on to the caller; an error of that rollback is dropped, because the first error is
// the one that says what went wrong (on a lost connection both fail).
void RunInOwnTransaction(CTransaction& transaction, const std::function<void()>& work);
