#pragma once
// The connection object the session hands to the installers.

#include "db/Attachment.h"
#include "db/Transaction.h"

// Sets the client library up: it changes state of the whole process (the character type of the
// locale on POSIX, the library search path on Windows), so the program's entry calls this before
// its own threads start rather than let the first connection do it on a helper thread beside the
// window. A client that cannot be loaded is no error here: connecting says so in its words.
void InitDatabaseClient();

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
