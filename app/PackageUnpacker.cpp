#include "app/PackageUnpacker.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "app/ErrorText.h"
#include "app/PackageDiscovery.h"
#include "app/SuiteFiles.h"
#include "platform/ChildProcess.h"
#include "platform/EmbeddedItems.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SystemCodePage.h"
#include "platform/SystemError.h"
#include "platform/Text.h"
#include "platform/WorkDirectory.h"

namespace {

// Failure code of a run whose archiver could not be started at all; an archiver that ran and
// failed gives its own (positive) exit status instead.
constexpr int kArchiverStartFailure = -1;
// While the archiver runs the window is pumped this often (milliseconds).
constexpr int kArchiverPollInterval = 50;
// At most this many lines of the archiver's standard error go to the journal.
constexpr size_t kArchiverErrorLines = 20;

// The non-blank lines of a program's output, CR LF or LF ended.
std::vector<std::string> OutputLines(const std::string& text) {
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(text)) {
        const std::string_view trimmed = TrimControl(line);
        if (!trimmed.empty()) {
            lines.emplace_back(trimmed);
        }
    }
    return lines;
}

}  // namespace

CPackageUnpacker::CPackageUnpacker(IOwner& owner, std::string workDirectory,
                                   std::string programDirectory, std::string executablePath)
    : m_owner(owner),
      m_workDirectory(std::move(workDirectory)),
      m_programDirectory(std::move(programDirectory)),
      m_executablePath(std::move(executablePath)) {}

bool CPackageUnpacker::PrepareWorkDirectory() {
    // Another user could plant a link or a directory of their own at the fixed name under the
    // shared temporary directory: then nothing there is touched.
    switch (InspectWorkDirectory(m_workDirectory)) {
        case WorkDirectoryState::Unsafe:
            return false;
        case WorkDirectoryState::Owned:
            RestrictToOwner(m_workDirectory);
            if (DirectoryExists(m_workDirectory)) {
                // The directory is private to the updater: whatever an earlier run left goes,
                // subdirectories included (templates of an earlier package must not be
                // installed again as if the new one held them, a directory named like the
                // package file must not block it). A link inside is removed, never followed.
                DeleteDirectoryContents(m_workDirectory);
            }
            return true;
        case WorkDirectoryState::Missing:
            CreatePrivateDirectory(m_workDirectory);
            // Someone may have planted a link at the name between the look and the creation
            // (which then failed): that is no directory of ours either.
            return InspectWorkDirectory(m_workDirectory) != WorkDirectoryState::Unsafe;
    }
    return false;
}

std::string CPackageUnpacker::WhyNotUsable() const {
    return IsSymbolicLink(m_workDirectory)
               ? "Робочий каталог " + m_workDirectory +
                     " є посиланням, тому оновлення його не використовує"
               : "Робочий каталог " + m_workDirectory +
                     " належить іншому користувачеві, тому оновлення його не використовує";
}

std::string CPackageUnpacker::ArchiverPath() const {
    return PathJoin(m_programDirectory, ProgramFileName(kArchiverProgram));
}

std::string CPackageUnpacker::PackageFile(int64_t number) const {
    return PathJoin(m_workDirectory, std::to_string(number) + ".rar");
}

std::string CPackageUnpacker::WritePackage(int64_t number, const std::string& packageFile) {
    const std::string name = PackageItemName(number);
    const CEmbeddedItems items(m_executablePath);
    const EmbeddedItem* item = items.Find(name);
    if (item == nullptr) {
        throw std::runtime_error("Resource " + name + " not found");
    }
    // Hundreds of megabytes take a while to write: the window is pumped between the blocks.
    m_owner.ShowOpenLine();
    CPumpThrottle throttle(m_owner);
    try {
        items.ExtractTo(name, packageFile, [&] { throttle.Tick(); });
    } catch (const CEmbeddedItemsError& error) {
        // A damaged package must not be unpacked by a later run either.
        RemoveFile(packageFile);
        const std::string text = error.what();
        throw CEmbeddedItemsError(text.find(name) != std::string::npos
                                      ? text
                                      : "Package " + name + " is damaged: " + text);
    }
    return item->sha256;
}

int CPackageUnpacker::Unpack(const std::string& packageFile, std::string& failureReason) {
    CChildProcess archiver;
    try {
        // Captured: the archiver's own message says why it failed.
        archiver.Start(ArchiverPath(), ArchiverCommandLine(ArchiverPath(), packageFile),
                       m_workDirectory, CChildProcess::Output::Capture);
    } catch (const CSystemError& error) {
        const std::string line =
            "error (" + std::to_string(kArchiverStartFailure) + ") " + OneLine(error.what());
        m_owner.AppendLine(line);
        failureReason = "архіватор не запущено: " + line;
        return kArchiverStartFailure;
    }
    m_owner.MarkLastLine("[OK]");
    m_owner.ShowOpenLine();
    // Waiting in slices keeps the window painted; btCancel is disabled, so pumping cannot
    // start or end anything.
    try {
        while (!archiver.Wait(kArchiverPollInterval)) {
            m_owner.PumpMessages();
        }
    } catch (...) {
        // The run ends here (the program was asked to end): the archiver is ended rather than
        // waited for. The next run empties the work directory and unpacks the package again.
        archiver.Terminate();
        throw;
    }
    // An archiver that failed left a damaged or partial package behind: install nothing of it.
    if (archiver.ExitCode() != 0) {
        const std::string prefix = "error (" + std::to_string(archiver.ExitCode()) + ")";
        std::vector<std::string> lines =
            OutputLines(FromConsoleCodePage(archiver.CapturedErrors()));
        if (lines.empty()) {
            m_owner.AppendLine(prefix);
        }
        lines.resize(std::min(lines.size(), kArchiverErrorLines));
        for (const std::string& line : lines) {
            m_owner.AppendLine(prefix + " " + line);
        }
        failureReason = "архіватор не розпакував пакет: " +
                        (lines.empty() ? prefix : prefix + " " + lines.front());
        return archiver.ExitCode();
    }
    return 0;
}

std::string ArchiverCommandLine(const std::string& archiverPath, const std::string& packageFile) {
    // The paths are quoted: the suite's directory may hold blanks.
    return "\"" + archiverPath + "\" x -o+ \"" + packageFile + "\" ";
}
