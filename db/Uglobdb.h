#pragma once
// The program's one database session: one connection with one default transaction.

#include <cstdint>
#include <string>

#include "db/Database.h"

class CGlobDB {
  public:
    // `programDirectory` gives the place of the default database "velmora.fdb" when Connect gets
    // a blank path. Does not connect.
    explicit CGlobDB(std::string programDirectory);

    // (Re)connects: a trimmed non-empty server name gives "server:path", otherwise the path
    // alone; an empty user name means "sysdba" with the default password. Starts the
    // transaction. Errors of the client library propagate as CDbError.
    void Connect(const std::string& serverName, const std::string& databasePath,
                 const std::string& userName, const std::string& password);
    // Column `data` of the newest row of `versions`; 0 for no row or NULL.
    int32_t GetVersion();
    CDatabase& GetDatabase() { return m_database; }

    // The connection string the last Connect used (for messages and tests).
    const std::string& ConnectionString() const { return m_connectionString; }

  private:
    std::string m_programDirectory;
    std::string m_connectionString;
    CDatabase m_database;
};

// The session, reachable process-wide; set once by the main window (tests set their own).
CGlobDB* GlobDB();
void SetGlobDB(CGlobDB* session);
