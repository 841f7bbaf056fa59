#include "app/FailedItems.h"

#include <exception>

#include "app/KeptLogs.h"
#include "install/UpdateLog.h"
#include "platform/FileSystem.h"

CFailedItems::CFailedItems() = default;
CFailedItems::~CFailedItems() = default;

void CFailedItems::KeepLogsIn(const std::string& programDirectory, const std::string& runStamp) {
    m_keptLogs = std::make_unique<CKeptLogs>(programDirectory, runStamp);
}

void CFailedItems::BeginRun() {
    m_logsOfRun.clear();
    m_logs.clear();
    m_copies.clear();
}

void CFailedItems::AddLog(const std::string& path) {
    for (RunLog& log : m_logsOfRun) {
        if (log.path != path) {
            continue;
        }
        // A script of an earlier package of this run had the same name, and its log would be
        // replaced by this script's: it is kept under that package's number.
        const std::string stem = path.ends_with(".log") ? path.substr(0, path.size() - 4) : path;
        const std::string kept = stem + "." + std::to_string(log.package) + ".log";
        if (log.package == m_installingPackage || !RenameFile(path, kept)) {
            return;
        }
        log.path = kept;
        break;
    }
    m_logsOfRun.push_back({path, m_installingPackage});
}

void CFailedItems::AddCopy(const std::string& destination, const std::string& errorLine) {
    m_copies.push_back({destination, errorLine});
}

void CFailedItems::Collect(const std::function<void(const std::string&)>& note) {
    for (const RunLog& log : m_logsOfRun) {
        const int count = CountLogEntries(log.path);
        if (count == 0) {
            continue;
        }
        // The next run empties the work directory: the log is kept beside the run record, and
        // everyone who points at it points at the copy.
        std::string path = log.path;
        try {
            if (m_keptLogs) {
                path = m_keptLogs->Keep(log.path, log.package);
            }
        } catch (const std::exception& error) {
            note("[note] the log " + log.path + " was not kept: " + error.what());
        }
        m_logs.push_back({path, count});
    }
}

int CountLogEntries(const std::string& logPath) {
    std::string text;
    try {
        text = ReadWholeFile(logPath);
    } catch (const std::exception&) {
        return 0;
    }
    const std::string separator = kLogSeparator;
    int separators = 0;
    for (size_t pos = text.find(separator); pos != std::string::npos;
         pos = text.find(separator, pos + separator.size())) {
        ++separators;
    }
    return (separators + 1) / 2;
}
