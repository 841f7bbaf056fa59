#pragma once
// The account of a run's failed items: the update logs that its packages' scripts wrote, counted
// once the run is over and kept beside the run record (CKeptLogs), and the program files and
// templates that could not be copied.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/UpdaterWindow.h"

class CKeptLogs;

class CFailedItems {
  public:
    CFailedItems();
    ~CFailedItems();
    CFailedItems(const CFailedItems&) = delete;
    CFailedItems& operator=(const CFailedItems&) = delete;

    // From now on logs with failed items are kept in `programDirectory`'s folder of kept logs,
    // under names that begin with `runStamp`. Made once the updater owns the suite: an updater
    // that another one refused leaves nothing there.
    void KeepLogsIn(const std::string& programDirectory, const std::string& runStamp);
    // Starts the account of a run afresh.
    void BeginRun();
    // Package `number` is being installed: the logs that its scripts begin are its own.
    void BeginPackage(int64_t number) { m_installingPackage = number; }
    // A script begins writing the update log `path`. A log of the same name that an earlier
    // package of this run wrote is renamed first, with that package's number before ".log".
    void AddLog(const std::string& path);
    void AddCopy(const std::string& destination, const std::string& errorLine);
    size_t CopyCount() const { return m_copies.size(); }

    // Counts the entries of each log of the run and keeps the logs that have any; the account
    // then points at the kept copies. `note` gets a line for the run record about a log that
    // could not be kept.
    void Collect(const std::function<void(const std::string&)>& note);

    // The logs with failed items after Collect, and the copies that failed.
    const std::vector<FailedItemsLog>& Logs() const { return m_logs; }
    const std::vector<FailedCopy>& Copies() const { return m_copies; }
    // Failed items in all: log entries and failed copies.
    int Count() const { return FailedItemsTotal(m_logs, m_copies); }
    bool Empty() const { return m_logs.empty() && m_copies.empty(); }

  private:
    // A log of the run, with the package whose script wrote it.
    struct RunLog {
        std::string path;
        int64_t package = 0;
    };
    std::vector<RunLog> m_logsOfRun;
    int64_t m_installingPackage = 0;
    std::vector<FailedItemsLog> m_logs;
    std::vector<FailedCopy> m_copies;
    std::unique_ptr<CKeptLogs> m_keptLogs;
};

// Number of failed items in an update log: each entry is framed by two separator lines.
int CountLogEntries(const std::string& logPath);
