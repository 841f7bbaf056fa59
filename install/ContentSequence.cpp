#include "install/ContentSequence.h"

#include <vector>

#include "install/BlobFiles.h"
#include "install/Documents.h"
#include "install/ScriptFile.h"
#include "install/ScriptRunner.h"
#include "platform/Clock.h"
#include "platform/FileSearch.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

// One kind of package file: its search mask and how a handled file of it is renamed.
struct FileKind {
    const char* mask;
    int cut;
    const char* ending;
};

constexpr FileKind kScripts{"*.lsql", 3, "~lsql"};
constexpr FileKind kPlainDocuments{"*.r", 1, "~r"};
constexpr FileKind kUDocuments{"*.u", 1, "~u"};
constexpr FileKind kBlobFiles{"*.blo", 3, "~blo"};

// The new name no longer matches any mask, so a later call (or the next package unpacked into
// the same directory) does not handle the file again. A same-named file of an earlier package
// is replaced.
void RenameHandled(const std::string& path, const FileKind& kind) {
    const std::string target = HandledName(path, kind.cut, kind.ending);
    if (FileExists(target)) {
        RemoveFile(target);
    }
    RenameFile(path, target);
}

void ListKind(const std::string& workDir, const FileKind& kind, std::vector<std::string>& files) {
    files.clear();
    ListFiles(workDir, kind.mask, files);
}

void RunScriptPass(CDatabase& database, IOwner& owner, const std::vector<std::string>& files,
                   const ProgressView& view, CPackageLedger* ledger) {
    // The bar spans the lines of all scripts, so the time estimate covers the whole pass. A
    // script that cannot be read ends the sequence here, before any script has run.
    if (view.overall != nullptr) {
        view.overall->SetPosition(0);
        size_t lines = 0;
        for (const std::string& path : files) {
            lines += CountScriptLines(path);
        }
        view.overall->SetMaximum(static_cast<int>(lines));
    }
    const double startTime = TimeOfDay();
    SetVisible(view.timeLeft, true);

    const int count = static_cast<int>(files.size());
    for (int i = 0; i < count; ++i) {
        const std::string& path = files[static_cast<size_t>(i)];
        const std::string name = ExtractFileName(path);
        owner.AppendLine(name);
        ShowItem(view.file, name, i + 1, count);
        RunScript(database, owner, path, view, startTime, ledger);
        RenameHandled(path, kScripts);
        StepBar(view.overall);
        owner.PumpMessages();
    }
    SetVisible(view.timeLeft, false);
}

// Document and blob passes: no journal lines, one step per file.
template <typename Install>
void RunFilePass(IOwner& owner, const std::vector<std::string>& files, const FileKind& kind,
                 const ProgressView& view, Install install) {
    const int count = static_cast<int>(files.size());
    for (int i = 0; i < count; ++i) {
        const std::string& path = files[static_cast<size_t>(i)];
        ShowItem(view.file, ExtractFileName(path), i + 1, count);
        install(path);
        RenameHandled(path, kind);
        StepBar(view.overall);
        owner.PumpMessages();
    }
}

}  // namespace

std::string HandledName(const std::string& path, int cut, const std::string& ending) {
    const auto cutSize = static_cast<size_t>(cut);
    const size_t keep = path.size() > cutSize ? path.size() - cutSize : 0;
    return path.substr(0, keep) + ending;
}

int InstallDatabaseContents(CDatabase& database, IOwner& owner, const std::string& workDir,
                            const ProgressView& view, CPackageLedger* ledger) {
    std::vector<std::string> files;  // one list, emptied before every pass
    int total = 0;

    ListKind(workDir, kScripts, files);
    total += static_cast<int>(files.size());
    RunScriptPass(database, owner, files, view, ledger);

    for (const FileKind* kind : {&kPlainDocuments, &kUDocuments}) {
        ListKind(workDir, *kind, files);
        total += static_cast<int>(files.size());
        StartPhase(view.overall, static_cast<int>(files.size()));
        RunFilePass(owner, files, *kind, view,
                    [&](const std::string& path) { StoreDocumentFile(database, owner, path); });
    }

    // The bar keeps the range and position the document passes left.
    ListKind(workDir, kBlobFiles, files);
    total += static_cast<int>(files.size());
    RunFilePass(owner, files, kBlobFiles, view,
                [&](const std::string& path) { LoadBlobFile(database, owner, path); });

    return total;
}
