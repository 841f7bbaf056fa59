#include "app/Plan.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "app/CommandLine.h"
#include "app/ConsoleMode.h"
#include "app/ErrorText.h"
#include "app/PackageUnpacker.h"
#include "app/Snapshot.h"
#include "app/UpdateDriver.h"
#include "db/Uglobdb.h"
#include "install/PackageLedger.h"
#include "install/ScriptFile.h"
#include "install/StatementSplitter.h"
#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Processes.h"

namespace {

constexpr char kReportsDirectory[] = "Reports";
constexpr int64_t kMegabyte = 1024 * 1024;

std::string Megabytes(int64_t bytes) {
    if (bytes < 0) {
        return "невідомо";
    }
    return std::to_string((bytes + kMegabyte - 1) / kMegabyte) + " МБ";
}

std::vector<std::string> Files(const std::string& directory, const char* mask) {
    std::vector<std::string> files;
    ListFiles(directory, mask, files);
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const std::string& file) {
                                   return InspectEntry(file) != EntryKind::Regular;
                               }),
                files.end());
    return files;
}

int64_t TotalSize(const std::vector<std::string>& files) {
    int64_t total = 0;
    for (const std::string& file : files) {
        total += std::max<int64_t>(0, FileSize(file));
    }
    return total;
}

// The script's line: its statement count and, for the interrupted package (`ledger` not null),
// how far the ledger says the interrupted run got and where the next run goes on. Sets
// `resumeShown` at the first script that the next run does not pass over whole.
std::string ScriptLine(const std::string& script, CPackageLedger* ledger, bool& resumeShown) {
    const std::string name = ExtractFileName(script);
    const size_t count = CountScriptStatements(script);
    std::string line = "  скрипт " + name + ": інструкцій " + std::to_string(count);
    if (ledger == nullptr) {
        return line;
    }
    const int32_t applied = ledger->Applied(name);
    const size_t failed = ledger->Failed(name).size();
    line += ", виконано " + std::to_string(applied);
    if (failed != 0) {
        line += ", з них відхилено " + std::to_string(failed) + " (їх буде повторено)";
    }
    if (!resumeShown && static_cast<size_t>(applied) < count) {
        line += "; продовження з інструкції " + std::to_string(applied + 1);
        resumeShown = true;
    }
    return line;
}

// What one unpacked package holds, said in the journal; returns the bytes it unpacked to.
// `ledger` is the interrupted package's ledger when this is that package, else null.
int64_t DescribePackage(IOwner& owner, const std::string& directory,
                        const std::string& programDirectory, CPackageLedger* ledger) {
    const std::vector<std::string> scripts = Files(directory, "*.lsql");
    bool resumeShown = false;
    for (const std::string& script : scripts) {
        owner.AppendLine(ScriptLine(script, ledger, resumeShown));
    }
    if (ledger != nullptr && !resumeShown) {
        owner.AppendLine("  усі інструкції скриптів уже виконано; продовження з документів");
    }
    const std::vector<std::string> documents = [&] {
        std::vector<std::string> both = Files(directory, "*.r");
        const std::vector<std::string> u = Files(directory, "*.u");
        both.insert(both.end(), u.begin(), u.end());
        return both;
    }();
    const std::vector<std::string> blobs = Files(directory, "*.blo");
    owner.AppendLine("  документів: " + std::to_string(documents.size()) +
                     ", файлів значень: " + std::to_string(blobs.size()));
    std::vector<std::string> programs = Files(directory, "*.exe");
    const std::vector<std::string> templates =
        Files(PathJoin(directory, kReportsDirectory), "*.fr3");
    programs.insert(programs.end(), templates.begin(), templates.end());
    for (const std::string& file : programs) {
        const std::string relative = file.substr(directory.size() + 1);
        const bool replaces =
            InspectEntry(PathJoin(programDirectory, relative)) != EntryKind::Missing;
        owner.AppendLine("  " + std::string(replaces ? "замінить " : "додасть ") + relative);
    }
    int64_t total =
        TotalSize(scripts) + TotalSize(documents) + TotalSize(blobs) + TotalSize(programs);
    return total;
}

}  // namespace

int RunPlan(const StartupPaths& paths, std::ostream& out, std::ostream& err) {
    CConsoleWindow window(out, err);
    const std::unique_ptr<CUpdateDriver> driver = MakeConsoleDriver(window, paths, err);
    if (!driver) {
        return kExitNotStarted;
    }
    driver->FormShow();
    int status = driver->ExitStatus();
    if (driver->LastPreflight() == PreflightOutcome::Admitted) {
        status = kExitUpdated;
        const std::string privateDirectory =
            PathJoin(paths.tempPath, "tessara-updater-plan-" + std::to_string(CurrentProcessId()));
        try {
            driver->AppendLine("План оновлення (нічого не змінено):");
            if (!CreatePrivateDirectory(privateDirectory)) {
                throw std::runtime_error("Не вдалося створити каталог " + privateDirectory);
            }
            CPackageUnpacker unpacker(*driver, privateDirectory, paths.programDirectory,
                                      paths.executablePath);
            int64_t workNeeded = 0;
            // The package an interrupted run left, and where in it the next run goes on.
            CPackageLedger ledger(GlobDB()->GetDatabase());
            const std::optional<LedgerPackage> unfinished = ledger.Unfinished();
            if (unfinished) {
                ledger.Inspect(unfinished->number);
                driver->AppendLine("Перерваний пакет " + std::to_string(unfinished->number) +
                                   " чекає продовження (SHA-256 " + unfinished->sha256 + ")");
            }
            for (int64_t number = driver->FirstPackage(); number <= driver->HighestPackage();
                 ++number) {
                const std::string file = unpacker.PackageFile(number);
                const std::string sha256 = unpacker.WritePackage(number, file);
                const int64_t size = FileSize(file);
                driver->AppendLine("Розпаковка пакету " + std::to_string(number) + "...");
                std::string reason;
                if (unpacker.Unpack(file, reason) != 0) {
                    throw std::runtime_error("Пакет " + std::to_string(number) +
                                             " не розпаковано: " + reason);
                }
                driver->AppendLine("Пакет " + std::to_string(number) + ": " + std::to_string(size) +
                                   " байт, SHA-256 " + sha256 + " перевірено");
                const int64_t unpacked =
                    DescribePackage(*driver, privateDirectory, paths.programDirectory,
                                    unfinished && unfinished->number == number ? &ledger : nullptr);
                workNeeded = std::max(workNeeded, size + unpacked);
                DeleteDirectoryContents(privateDirectory);
            }
            driver->AppendLine("Місце для робочого каталогу: потрібно " + Megabytes(workNeeded) +
                               ", вільно " + Megabytes(AvailableSpace(paths.tempPath)));
            const CConfig& config = driver->Config();
            if (!config.snapshot) {
                driver->AppendLine("Знімок перед оновленням вимкнено в " +
                                   std::string(kConfigFileName));
            } else if (unfinished) {
                driver->AppendLine("Знімок не потрібен: продовжується перерваний пакет");
            } else {
                const std::vector<std::string> programFiles =
                    SuiteProgramFiles(paths.programDirectory, paths.executablePath);
                int64_t filesSize = 0;
                for (const std::string& relative : programFiles) {
                    filesSize +=
                        std::max<int64_t>(0, FileSize(PathJoin(paths.programDirectory, relative)));
                }
                if (config.serverType != 0) {
                    driver->AppendLine("Місце для знімка бази даних: на сервері " +
                                       config.serverName + ", звідси не перевіряється");
                } else {
                    driver->AppendLine(
                        "Місце для знімка бази даних: потрібно до " +
                        Megabytes(FileSize(config.databasePath)) + ", вільно " +
                        Megabytes(AvailableSpace(ExtractFileDir(config.databasePath))));
                }
                driver->AppendLine("Місце для знімка програм: потрібно " + Megabytes(filesSize) +
                                   ", вільно " + Megabytes(AvailableSpace(paths.programDirectory)));
            }
        } catch (const std::exception& error) {
            driver->AppendLine("error: " + OneLine(error.what()));
            status = kExitRunFailed;
        }
        DeleteDirectoryContents(privateDirectory);
        RemoveEmptyDirectory(privateDirectory);
    }
    driver->AppendLine("Код завершення, з яким почнеться оновлення: " + std::to_string(status));
    window.Finish();
    if (status != kExitUpdated) {
        err << ExitLine(status,
                        status == kExitRunFailed ? "план не складено" : driver->ExitReason())
            << std::endl;
    }
    return status;
}
