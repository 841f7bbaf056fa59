// rar: the archiver the updater starts as `rar x -o+ "<archive>"` in its work directory.
//
// It extracts every entry of a RAR archive into the current directory with its stored path,
// replacing existing files, and succeeds only when every entry arrived whole. Decoding is done by
// Debian's unar, which reads every RAR 2.9/4.x variant; this program adds what it lacks for
// installing packages: hostile entries (absolute paths, "..", links) refuse the whole archive
// before anything is written, the block chain is checked before extraction, sizes are checked
// after it, and files reach their place only once all of them were extracted correctly. The walk
// over the block chain also lists the archive; lsar lists only what the walk cannot (RAR 5,
// self-extracting archives, names only unar's own rules decode). The cost over bare unar is one
// pass over the headers, one status per file and one rename per file or new directory. A full
// disk is reported as such (write-error status), not as a damaged archive.

#include <sys/stat.h>

#include <cerrno>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "tools/rar/RarBlocks.h"
#include "tools/rar/SafeExtract.h"
#include "tools/rar/XadArchive.h"

namespace {

// Exit statuses, following the RAR archiver's own where one fits.
constexpr int kExitFatal = 2;      // refused archive, missing unar, other failures
constexpr int kExitDamaged = 3;    // damaged or truncated archive (CRC or size mismatch)
constexpr int kExitWrite = 5;      // a file could not be written
constexpr int kExitOpen = 6;       // the archive cannot be opened
constexpr int kExitUsage = 7;      // command line not understood
constexpr int kExitPassword = 11;  // password-protected entries

// lsar and unar end with 2 when an entry needs a password.
constexpr int kXadPasswordStatus = 2;

class CFailure : public std::runtime_error {
  public:
    CFailure(int code, const std::string& message) : std::runtime_error(message), m_code(code) {}
    int Code() const { return m_code; }

  private:
    int m_code;
};

const char kUnarMissing[] = "unar is not installed (Debian package unar)";

const char kUsage[] =
    "usage: rar x -o+ <archive>\n"
    "Extracts every entry of the RAR archive into the current directory with its stored path,\n"
    "overwriting existing files. No other command or switch is supported.\n"
    "Exit status: 0 every entry extracted whole; 2 archive refused (absolute or \"..\" paths,\n"
    "links) or other failure; 3 damaged or truncated archive; 5 write error; 6 cannot open the\n"
    "archive; 7 usage error; 11 password-protected archive.\n";

// The tools' own diagnostics are shown only when they failed.
std::string ToolOutput(const ProgramResult& result) {
    std::string text = result.output + result.errors;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text.empty() ? std::string() : "\n" + text;
}

struct PlannedEntry {
    std::vector<std::string> components;
    bool isDirectory = false;
    uint64_t size = 0;
};

// Checks every listed entry; any hostile, linked or encrypted entry refuses the whole archive.
std::vector<PlannedEntry> PlanEntries(const ArchiveListing& listing) {
    if (listing.formatName.rfind("RAR", 0) != 0) {
        throw CFailure(kExitDamaged, "Not a RAR archive (" +
                                         (listing.formatName.empty() ? std::string("unknown format")
                                                                     : listing.formatName) +
                                         ")");
    }
    if (listing.isEncrypted) {
        throw CFailure(kExitPassword, "The archive is password-protected");
    }
    std::vector<PlannedEntry> planned;
    for (const ArchiveEntry& entry : listing.entries) {
        PlannedEntry plan;
        try {
            plan.components = SafeComponents(entry.name);
        } catch (const CArchiveError& error) {
            throw CFailure(kExitFatal, error.what());
        }
        if (entry.isLink) {
            throw CFailure(kExitFatal, "Refusing the archive: entry \"" + entry.name +
                                           "\" is a link or a special file");
        }
        if (entry.isEncrypted) {
            throw CFailure(kExitPassword, "Entry \"" + entry.name + "\" is password-protected");
        }
        if (!entry.isDirectory && !entry.hasSize) {
            throw CFailure(kExitDamaged, "Entry \"" + entry.name + "\" has no size");
        }
        plan.isDirectory = entry.isDirectory;
        plan.size = entry.size;
        planned.push_back(std::move(plan));
    }
    return planned;
}

// The archive as lsar and unar are given it; fails for anything but an existing file.
std::string CheckedArchivePath(const std::string& archiveArgument) {
    // A name starting with '-' must not be taken for an option by lsar or unar.
    const std::string archive =
        archiveArgument[0] == '/' ? archiveArgument : "./" + archiveArgument;
    struct stat info {};
    if (stat(archive.c_str(), &info) != 0) {
        throw CFailure(kExitOpen, "Cannot open " + archiveArgument + ": " + SystemMessage(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        throw CFailure(kExitOpen, "Cannot open " + archiveArgument + ": not a file");
    }
    return archive;
}

// Step 1: checks the block chain, then lists and checks every entry, before anything is
// written.
std::vector<PlannedEntry> ListArchive(const std::string& archive,
                                      const std::string& archiveArgument) {
    try {
        if (const std::optional<ArchiveListing> walked = ReadRar4Listing(archive)) {
            return PlanEntries(*walked);
        }
    } catch (const CArchiveError& error) {
        throw CFailure(kExitDamaged, archiveArgument + ": " + error.what());
    }
    const std::string lsar = FindInPath("lsar");
    if (lsar.empty()) {
        throw CFailure(kExitFatal, kUnarMissing);
    }
    const ProgramResult list = RunProgram(lsar, {"-nr", "-j", archive});
    ArchiveListing listing;
    try {
        listing = ParseLsarJson(list.output);
    } catch (const CArchiveError& error) {
        throw CFailure(list.exitCode == kXadPasswordStatus ? kExitPassword : kExitDamaged,
                       archiveArgument + ": " + error.what() + ToolOutput({0, "", list.errors}));
    }
    if (list.exitCode != 0) {
        throw CFailure(kExitDamaged,
                       archiveArgument + ": the archive cannot be listed" + ToolOutput(list));
    }
    return PlanEntries(listing);
}

// The planned entries as a tree; when a path is stored twice, the later entry is the one
// extracted.
CEntryTree BuildTree(const std::vector<PlannedEntry>& planned, const std::string& archiveArgument) {
    CEntryTree tree;
    try {
        for (const PlannedEntry& plan : planned) {
            tree.Add(plan.components, plan.isDirectory, plan.size);
        }
    } catch (const CArchiveError& error) {
        throw CFailure(kExitDamaged, archiveArgument + ": " + error.what());
    }
    return tree;
}

[[noreturn]] void ThrowNoSpace(const std::string& archiveArgument, const std::string& detail) {
    throw CFailure(kExitWrite, archiveArgument + ": cannot write the extracted files: " +
                                   SystemMessage(ENOSPC) + detail);
}

// unar reports a full disk as "Failed to write to file" or not at all: the file system tells
// whether the files that did not arrive whole can still fit.
bool RanOutOfSpace(const CStagingDir& staging, const CEntryTree& tree) {
    const FreeSpace space = FreeSpaceOf(staging.Directory());
    if (space.countsFiles && space.files == 0) {
        return true;
    }
    return tree.MissingBytes(staging.Directory()) > space.bytes;
}

// Step 2: extracts into the private directory inside the current one. unar checks the CRC of
// every entry it writes, STORE ones included, and fails on a mismatch.
void ExtractToStaging(const std::string& unar, const std::string& archive,
                      const std::string& archiveArgument, const CStagingDir& staging,
                      const std::vector<PlannedEntry>& planned, const CEntryTree& tree) {
    for (const PlannedEntry& plan : planned) {
        if (plan.components.front() == staging.Name()) {
            throw CFailure(kExitFatal, "Entry \"" + JoinComponents(plan.components) +
                                           "\" collides with the working directory");
        }
    }
    // An archive that cannot fit is refused before it fills the disk that the database and
    // everything else on the machine share.
    const uint64_t needed = tree.FileBytes();
    const uint64_t available = FreeSpaceOf(staging.Directory()).bytes;
    if (needed > available) {
        ThrowNoSpace(archiveArgument, " (" + std::to_string(needed) + " bytes to extract, " +
                                          std::to_string(available) + " bytes free)");
    }
    const ProgramResult unpack =
        RunProgram(unar, {"-q", "-f", "-D", "-nr", "-o", staging.Name(), archive});
    if (unpack.exitCode == 0) {
        return;
    }
    if (unpack.exitCode != kXadPasswordStatus && RanOutOfSpace(staging, tree)) {
        ThrowNoSpace(archiveArgument, ToolOutput(unpack));
    }
    throw CFailure(unpack.exitCode == kXadPasswordStatus ? kExitPassword : kExitDamaged,
                   archiveArgument + ": extraction failed" + ToolOutput(unpack));
}

// Step 3: every file must be there, as a regular file of its declared size: unar reports
// success for an entry whose data ends early (it writes a short file and checks no CRC), and
// also when the disk filled up while it wrote small files.
void VerifyStagedFiles(const CStagingDir& staging, const CEntryTree& tree,
                       const std::string& archiveArgument) {
    try {
        tree.VerifyFiles(staging.Directory());
    } catch (const CArchiveError& error) {
        if (RanOutOfSpace(staging, tree)) {
            ThrowNoSpace(archiveArgument, std::string("\n") + error.what());
        }
        throw CFailure(kExitDamaged, archiveArgument + ": " + error.what());
    }
}

// Step 4: moves everything into place.
void PlaceEntries(const CStagingDir& staging, const CEntryTree& tree) {
    CFile target;
    try {
        target = CFile(".", CFile::Mode::Directory);
    } catch (const CSystemError& error) {
        throw CFailure(kExitWrite,
                       "Cannot open the current directory: " + SystemMessage(error.Code()));
    }
    try {
        tree.MoveInto(staging.Directory(), target);
    } catch (const CArchiveError& error) {
        throw CFailure(kExitWrite, error.what());
    }
}

int Extract(const std::string& archiveArgument) {
    const std::string archive = CheckedArchivePath(archiveArgument);
    const std::string unar = FindInPath("unar");
    if (unar.empty()) {
        throw CFailure(kExitFatal, kUnarMissing);
    }
    const std::vector<PlannedEntry> planned = ListArchive(archive, archiveArgument);
    const CEntryTree tree = BuildTree(planned, archiveArgument);
    CStagingDir staging;
    ExtractToStaging(unar, archive, archiveArgument, staging, planned, tree);
    VerifyStagedFiles(staging, tree, archiveArgument);
    PlaceEntries(staging, tree);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() != 3 || args[0] != "x" || args[1] != "-o+" || args[2].empty()) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    try {
        return Extract(args[2]);
    } catch (const CFailure& failure) {
        std::cerr << "rar: " << failure.what() << "\n";
        return failure.Code();
    } catch (const std::exception& error) {
        std::cerr << "rar: " << error.what() << "\n";
        return kExitFatal;
    }
}
