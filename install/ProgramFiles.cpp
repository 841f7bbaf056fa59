#include "install/ProgramFiles.h"

#include <optional>
#include <vector>

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

}  // namespace

int InstallProgramFiles(IOwner& owner, const std::string& workDir, IProgressBar* overallBar,
                        ILabel* fileLabel, ILabel* timeLabel) {
    // Executables and templates in one list; ListFiles sorts the whole list, so they interleave
    // by path.
    std::vector<std::string> files;
    const std::string workReports = PathJoin(workDir, kReportsDirectory);
    ListFiles(workDir, "*.exe", files);
    ListFiles(workReports, "*.fr3", files);

    const int count = static_cast<int>(files.size());
    StartPhase(overallBar, count);
    SetVisible(timeLabel, true);

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
        ShowItem(fileLabel, name, k + 1, count);
        // An executable may be large: the window is pumped between the blocks of its copy.
        CPumpThrottle throttle(owner);
        const bool isTemplate = ExtractFileDir(source) == workReports;
        const CopyResult result =
            isTemplate && !reportsProblem.Ok()
                ? reportsProblem
                : CopyFileReplace(source, destination, [&] { throttle.Tick(); });
        if (result.Ok()) {
            owner.MarkLastLine("[OK]");
        } else {
            const std::string errorLine =
                "error (" + std::to_string(result.code) + ") " + TrimMessage(result.message);
            owner.AppendLine(errorLine);
            owner.ReportFailedCopy(destination, errorLine);
        }
        StepBar(overallBar);
        owner.PumpMessages();
    }

    SetVisible(timeLabel, false);
    return count;
}
