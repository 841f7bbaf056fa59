#pragma once
// Firebird's services manager: the engine's own backup and restore (gbak's work done by the
// engine or the server that holds the database, so the backup file is written where the
// database is, also on a server that the client cannot reach by its file system).

#include <string>

namespace Firebird {
class IService;
}

// Move-only; the destructor detaches and swallows errors. Errors are CDbError with the client's
// (or the service's) text.
class CServiceManager {
  public:
    CServiceManager() = default;
    ~CServiceManager();
    CServiceManager(CServiceManager&& other) noexcept;
    CServiceManager& operator=(CServiceManager&& other) noexcept;
    CServiceManager(const CServiceManager&) = delete;
    CServiceManager& operator=(const CServiceManager&) = delete;

    // Attaches to the services manager of `serverName` ("host" or "host/port"), or of the
    // embedded engine in this process when it is empty. A `connectTimeoutSeconds` above 0 bounds
    // how long a server may take to answer.
    void Attach(const std::string& serverName, const std::string& userName,
                const std::string& password, int connectTimeoutSeconds = 0);
    void Detach();  // no-op when closed
    bool IsOpen() const { return m_handle != nullptr; }

    // Backs `databasePath` (the path as the engine sees it) up into `backupPath` (likewise; an
    // existing file is overwritten) and waits until the service has finished.
    void Backup(const std::string& databasePath, const std::string& backupPath);
    // Restores `backupPath` into a new database `databasePath`; `replace` overwrites a database
    // that is there (it must not be in use). Waits until the service has finished.
    void Restore(const std::string& backupPath, const std::string& databasePath, bool replace);

  private:
    Firebird::IService* m_handle = nullptr;
};
