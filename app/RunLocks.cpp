#include "app/RunLocks.h"

#include "app/ErrorText.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"

bool CRunLocks::TakeSuiteLock(const std::string& programDirectory) {
    const std::string path = PathJoin(programDirectory, kSuiteLockName);
    // The suite's directory is shared by its users: any of them may update it, one at a time.
    if (TryLock(m_suiteLock, path, CFileLock::Holders::DirectoryUsers)) {
        return true;
    }
    m_refusal = "Інша програма оновлення вже працює з цим комплексом (" + path + ")";
    return false;
}

bool CRunLocks::TakeWorkLock(const std::string& workDirectory) {
    // Updaters of other suites share the temporary directory and its fixed work directory.
    const std::string path = workDirectory + kLockFileEnding;
    if (TryLock(m_workLock, path, CFileLock::Holders::CurrentUser)) {
        return true;
    }
    m_refusal =
        "Інша програма оновлення вже працює у спільному тимчасовому каталозі (" + path + ")";
    return false;
}

bool CRunLocks::TryLock(CFileLock& lock, const std::string& path, CFileLock::Holders holders) {
    try {
        return lock.TryAcquire(path, holders);
    } catch (const CSystemError& error) {
        throw CSystemError(error.Code(), "Не вдалося відкрити файл блокування " + path + ": " +
                                             WhyNotOpened(path, error));
    }
}
