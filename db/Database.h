#pragma once
// The connection object the session hands to the installers.

#include "db/Attachment.h"
#include "db/Transaction.h"

// The attachment and its default transaction, in which every statement bound to it runs.
class CDatabase {
  public:
    CDatabase() : m_transaction(m_attachment) {}
    CAttachment& Attachment() { return m_attachment; }
    CTransaction& DefaultTransaction() { return m_transaction; }

  private:
    CAttachment m_attachment;
    CTransaction m_transaction;
};
