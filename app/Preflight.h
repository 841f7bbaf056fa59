#pragma once
// The checks made when the window is first shown, once the updater holds its locks: the suite
// not running here or elsewhere, the database's version, the packages the updater carries, and
// a package that an earlier run left unfinished. They end with btOK enabled or with the
// journal's "Оновлення не можливо!!!".

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/Outcome.h"
#include "app/PackageDiscovery.h"
#include "app/RunJournal.h"
#include "app/StartupPaths.h"
#include "app/UpdaterWindow.h"
#include "install/PackageLedger.h"
#include "install/Status.h"

class CEmbeddedItems;
class CGlobDB;
struct CAttachmentInfo;
class CPackageLedger;
struct LedgerPackage;

// An update needs to create and replace files in the suite's directory: without that right (a
// suite under Program Files started without administrator rights) it would change the database
// and then fail on every program file. Throws before anything is touched.
void RequireWritableDirectory(const std::string& directory);

// The warning about other updaters' connections to the server (and no suite's): each named by
// host, process and since when, what it means and what to do. Those from `localHost` whose
// process `isProcessRunning` denies can only be dead, since this run holds the suite's lock.
std::string EarlierUpdaterText(const std::vector<CAttachmentInfo>& updaters,
                               const std::string& localHost,
                               const std::function<bool(int)>& isProcessRunning);

class CPreflight {
  public:
    // `owner` takes the journal lines and runs the database calls; `journal` shows the boxes.
    // The session, ledger, paths and configuration are the driver's and outlive the checks.
    CPreflight(IOwner& owner, CRunJournal& journal, IUpdaterWindow& window, CGlobDB& session,
               CPackageLedger& ledger, const StartupPaths& paths, const CConfig& config);

    // Runs the checks after the locks; `connect` connects the session as configured.
    PreflightOutcome Run(const std::function<void()>& connect);
    // The journal lines and the error box of a lock that another updater holds.
    void RefuseLocked(const std::string& reason);
    // The run's look before it starts, since the window may have waited for hours: when the
    // suite runs by now, the warning box, and true.
    bool RefuseIfSuiteRunning();

    int32_t DatabaseVersion() const { return m_databaseVersion; }
    const PackageRange& Packages() const { return m_packages; }
    // The package the run begins with.
    int64_t FirstPackage() const { return m_firstPackage; }

  private:
    // The journal lines and the warning box of a suite that runs; `where` names where it runs
    // when it was seen attached to the database (empty for this machine).
    void RefuseSuiteRunning(const std::string& where);
    // The checks' last line when they admit nothing: "Оновлення не можливо!!!", and btOK
    // disabled.
    void RefuseUpdate();
    // In server mode: when the suite's main program or another updater is attached to the
    // database, the journal lines ("host (program), ...") and the warning box, and the outcome
    // that says which; Admitted when neither is.
    PreflightOutcome RefuseIfAttachedElsewhere();
    // The journal line of a ledger that a completed package left behind (dropped, or why not).
    void SayLeftoverCleared(const CPackageLedger::Leftover& leftover);
    // The version gate when the database's ledger holds a package that was not finished.
    PreflightOutcome ResumeGate(const LedgerPackage& unfinished, const CEmbeddedItems& items);

    IOwner& m_owner;
    CRunJournal& m_journal;
    IUpdaterWindow& m_window;
    CGlobDB& m_session;
    CPackageLedger& m_ledger;
    const StartupPaths& m_paths;
    const CConfig& m_config;
    int32_t m_databaseVersion = 0;
    PackageRange m_packages;
    int64_t m_firstPackage = 0;
};
