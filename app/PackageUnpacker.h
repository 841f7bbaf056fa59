#pragma once
// The work directory and the archiver: a package is written out of the updater into the work
// directory and unpacked there by the suite's archiver, for the installers to take from.

#include <cstdint>
#include <string>

#include "install/Status.h"

class CPackageUnpacker {
  public:
    // `owner` gets the journal lines and pumps the window while packages are written and
    // unpacked; the archiver is the one in `programDirectory`, the packages are embedded in
    // `executablePath`.
    CPackageUnpacker(IOwner& owner, std::string workDirectory, std::string programDirectory,
                     std::string executablePath);

    const std::string& WorkDirectory() const { return m_workDirectory; }
    // Makes the work directory ready for a run: creates it private to this user, or restricts
    // and empties one of ours. False when what stands at its name is not ours to touch.
    bool PrepareWorkDirectory();
    // Why PrepareWorkDirectory refused the work directory, for the error box.
    std::string WhyNotUsable() const;

    std::string ArchiverPath() const;
    // Where package `number` is written in the work directory.
    std::string PackageFile(int64_t number) const;
    // Writes package `number` out of the executable into `packageFile`, checking its SHA-256
    // and pumping the window between blocks, and returns that SHA-256.
    std::string WritePackage(int64_t number, const std::string& packageFile);
    // Starts the archiver on the package file and waits for it, pumping meanwhile. Returns 0 when
    // it ran and succeeded, otherwise the failure code, after "error (code)" lines that give the
    // archiver's own message (its standard error) or why it could not be started; then
    // `failureReason` gets the journal's words for it.
    int Unpack(const std::string& packageFile, std::string& failureReason);

  private:
    IOwner& m_owner;
    std::string m_workDirectory;
    std::string m_programDirectory;
    std::string m_executablePath;
};

// The archiver's command line that unpacks `packageFile` into the current directory, replacing
// what is there: rar x -o+ "<package>".
std::string ArchiverCommandLine(const std::string& archiverPath, const std::string& packageFile);
