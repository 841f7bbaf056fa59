#include "install/ProgramFiles.h"

#include <optional>
#include <vector>

#include "platform/Text.h"

#include "platform/Directory.h"
#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"

namespace {

constexpr char kReportsDirectory[] = "Reports";

// The system text without its trailing blanks, line breaks and full stops, so that it reads as
// the end of a journal line.
std::string TrimMessage(std::string message) {
    while (!message.empty()) {
        const char last = message.back();
        if (last != ' ' && last != '\t' && last != '\r' && last != '\n' && last != '.') {
            break;
        }
        message.pop_back();
    }
    return message;
}

std::string ErrorLine(const CopyResult& result) {
    std::string line = "error (" + std::to_string(result.code) + ") " + TrimMessage(result.message);
    if (result.held) {
        line += "; файл зайнятий понад " + std::to_string(kHeldFileWaitSeconds) + " с";
        if (result.holders.empty()) {
            line += ", а програму, яка його тримає, система не назвала";
        }
        for (size_t i = 0; i < result.holders.size(); ++i) {
            const FileHolder& holder = result.holders[i];
            line += (i == 0 ? ": його тримає " : ", ") + holder.name + " (процес " +
                    std::to_string(holder.processId) + ")";
        }
    }
    return line;
}

// The same file, as names in the program directory compare on Windows.
bool SameFile(const std::string& a, const std::string& b) {
    return !a.empty() && EqualsIgnoreAsciiCase(a, b);
}

// A package's archiver that waited beside the old one, put in its place; nothing when none waits.
void PutPendingArchiverInPlace(IOwner& owner, const std::string& archiverPath) {
    const std::string pending = PendingArchiverPath(archiverPath);
    if (archiverPath.empty() || InspectEntry(pending) != EntryKind::Regular) {
        return;
    }
    owner.AppendLine("Заміна архіватора " + ExtractFileName(archiverPath) + " з пакета...");
    if (RenameFile(pending, archiverPath)) {
        owner.MarkLastLine("[OK]");
    } else {
        const int code = LastSystemError();
        const std::string errorLine =
            "error (" + std::to_string(code) + ") " + TrimMessage(SystemMessage(code));
        owner.AppendLine(errorLine);
        owner.ReportFailedCopy(archiverPath, errorLine);
    }
}

}  // namespace

std::string PendingArchiverPath(const std::string& archiverPath) {
    return archiverPath + ".pending";
}

int InstallProgramFiles(IOwner& owner, const std::string& workDir, const ProgressView& view,
                        const ArchiverUse& archiver) {
    // Executables and templates in one list; ListFiles sorts the whole list, so they interleave
    // by path.
    std::vector<std::string> files;
    const std::string workReports = PathJoin(workDir, kReportsDirectory);
    ListFiles(workDir, "*.exe", files);
    ListFiles(workReports, "*.fr3", files);

    const int count = static_cast<int>(files.size());
    StartPhase(view.overall, count);
    SetVisible(view.timeLeft, true);

    const std::string programDirectory = owner.ProgramDirectory();
    // A suite without its "Reports" directory gets one rather than losing the templates for
    // good; one that is a link or a file refuses every template.
    const std::string reportsDirectory = PathJoin(programDirectory, kReportsDirectory);
    std::optional<CDirectory> reports;
    CopyResult reportsProblem;
    for (const std::string& source : files) {
        if (ExtractFileDir(source) != workReports || reports || !reportsProblem.Ok()) {
            continue;
        }
        try {
            reports.emplace(reportsDirectory);
        } catch (const CSystemError& error) {
            reportsProblem = {error.Code(), SystemMessage(error.Code())};
        }
    }
    for (int k = 0; k < count; ++k) {
        const std::string& source = files[static_cast<size_t>(k)];
        // The part below the work directory ("tessara.exe", "Reports/list.fr3") is the same
        // below the program directory.
        std::string relative = source.substr(workDir.size());
        while (!relative.empty() && relative.front() == kPathSeparator) {
            relative.erase(0, 1);
        }
        const std::string destination = PathJoin(programDirectory, relative);
        const std::string name = ExtractFileName(source);

        owner.AppendLine(name + "...");
        owner.ShowOpenLine();  // a large file, a slow disk: the copy in hand is shown
        ShowItem(view.file, name, k + 1, count);
        // An executable may be large: the window is pumped between the blocks of its copy.
        CPumpThrottle throttle(owner);
        const bool isTemplate = ExtractFileDir(source) == workReports;
        const bool isArchiver = SameFile(destination, archiver.path);
        // The archiver that a later package needs stays; the package's own waits beside it.
        const bool deferred = isArchiver && archiver.neededLater;
        const CopyResult result =
            isTemplate && !reportsProblem.Ok()
                ? reportsProblem
                : CopyFileReplace(source,
                                  deferred ? PendingArchiverPath(archiver.path) : destination,
                                  [&] { throttle.Tick(); });
        if (result.Ok()) {
            owner.MarkLastLine("[OK]");
            if (deferred) {
                owner.AppendLine(name +
                                 " буде замінено після останнього пакета: архіватор "
                                 "потрібен для наступних пакетів");
            } else if (isArchiver) {
                // The package's own archiver is newer than one an earlier package left waiting.
                RemoveFile(PendingArchiverPath(archiver.path));
            }
            if (!result.movedAside.empty()) {
                owner.AppendLine(name + " використовується: його перейменовано на " +
                                 ExtractFileName(result.movedAside) +
                                 ", а новий файл встановлено; старий буде видалено під час "
                                 "наступного запуску оновлення");
            }
        } else {
            const std::string errorLine = ErrorLine(result);
            owner.AppendLine(errorLine);
            owner.ReportFailedCopy(destination, errorLine);
        }
        StepBar(view.overall);
        owner.PumpMessages();
    }

    if (!archiver.neededLater) {
        // The run's last package: an earlier package's archiver waits no longer.
        PutPendingArchiverInPlace(owner, archiver.path);
    }
    SetVisible(view.timeLeft, false);
    return count;
}

void CleanUpReplacedFiles(IOwner& owner, const std::string& archiverPath) {
    PutPendingArchiverInPlace(owner, archiverPath);
    const std::string programDirectory = owner.ProgramDirectory();
    for (const std::string& directory :
         {programDirectory, PathJoin(programDirectory, kReportsDirectory)}) {
        for (const MovedAsideFile& file : CleanUpMovedAside(directory)) {
            switch (file.fate) {
                case MovedAsideFile::Fate::Removed:
                    owner.AppendLine("Видалено файл, замінений попереднім оновленням: " +
                                     file.path);
                    break;
                case MovedAsideFile::Fate::Restored:
                    owner.AppendLine("Відновлено " + file.original + " з " +
                                     ExtractFileName(file.path) +
                                     ": попереднє оновлення перервано під час його заміни");
                    break;
                case MovedAsideFile::Fate::Left:
                    owner.AppendLine("Файл " + file.path + ", замінений попереднім оновленням, " +
                                     "не видалено (" + TrimMessage(SystemMessage(file.error)) +
                                     "): його буде видалено під час наступного запуску");
                    break;
            }
        }
    }
}
