#include "db/Transaction.h"

#include <exception>
#include <utility>

#include "db/Attachment.h"
#include "db/Client.h"

using namespace Firebird;

CTransaction::~CTransaction() {
    try {
        Rollback();
    } catch (const CDbError&) {
    }
}

void CTransaction::Start() {
    if (m_handle) {
        throw CDbError("The transaction is already active");
    }
    if (!m_attachment->IsOpen()) {
        throw CDbError("The database is not attached");
    }
    Guard([&] {
        CStatus status;
        if (m_lockTimeout <= 0) {
            m_handle = m_attachment->Handle()->startTransaction(&status, 0, nullptr);
            return;
        }
        // The server's defaults spelled out, with the wait bounded.
        CXpb tpb(status, IXpbBuilder::TPB);
        tpb->insertTag(&status, isc_tpb_concurrency);
        tpb->insertTag(&status, isc_tpb_write);
        tpb->insertTag(&status, isc_tpb_wait);
        tpb->insertInt(&status, isc_tpb_lock_timeout, m_lockTimeout);
        m_handle = m_attachment->Handle()->startTransaction(&status, tpb->getBufferLength(&status),
                                                            tpb->getBuffer(&status));
    });
}

void CTransaction::Commit() {
    if (!m_handle) {
        throw CDbError("The transaction is not active");
    }
    Guard([&] {
        CStatus status;
        m_handle->commit(&status);  // releases the interface on success
        m_handle = nullptr;
    });
}

void CTransaction::Rollback() {
    // A transaction whose rollback failed is left to the engine, which ends it with the
    // attachment.
    if (m_handle) {
        EndInterface(std::exchange(m_handle, nullptr),
                     [](ITransaction* handle, CStatus& status) { handle->rollback(&status); });
    }
}

void CTransaction::RequireActive() const {
    if (!m_handle) {
        throw CDbError("The transaction is not active");
    }
    if (!m_attachment->IsOpen()) {
        throw CDbError("The database is not attached");
    }
}

void CTransaction::AdoptAfterExecute(ITransaction* current) {
    // When the statement ended the transaction the client library has already released the
    // reference we held; releasing it here again would free it twice.
    m_handle = current;
}

void RunInOwnTransaction(CTransaction& transaction, const std::function<void()>& work) {
    if (!transaction.IsActive()) {
        transaction.Start();
    }
    try {
        work();
        if (transaction.IsActive()) {
            transaction.Commit();
        }
    } catch (...) {
        try {
            transaction.Rollback();
        } catch (const std::exception&) {
        }
        throw;
    }
}
