#pragma once
// A Tessara installation for one test: a program directory with lib.ini, the database, the
// archiver and a packed updater, and a temp directory of its own for the work directory.

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/UpdateDriver.h"
#include "tests/support/TestSupport.h"

// Relative path ('/' separated) -> bytes.
using PackageFiles = std::map<std::string, std::string>;

// A package N with everything a package can hold: a date-named script that adds two ARTICLE
// rows (ids N*100+1 and N*100+2), the version script, ".r"/".u" documents for the first row
// and an empty ".r" for the second, a blob file for INFO_DOC row 10, "tessara.exe" and
// "Reports/list.fr3".
PackageFiles ContentPackage(int number);

class CSuite;

// The journal lines of the snapshot that a run of `suite` took last, before its first package,
// of a database at `version`: the step, the backup beside the database, the program files, and
// how to undo. Empty when the suite has no snapshot of that version.
std::vector<std::string> SnapshotLines(const CSuite& suite, int version);

class CSuite {
  public:
    CSuite();

    const std::string& Dir() const { return m_dir; }
    std::string File(const std::string& name) const { return m_dir + "/" + name; }
    const std::string& Tmp() const { return m_tmp; }  // ends with '/'
    std::string WorkDir() const { return m_tmp + kWorkDirectoryName; }
    std::string Database() const { return File("lib.gdb"); }
    std::string Scratch(const std::string& name) const { return m_root.File(name); }

    // lib.gdb with a table versions holding one row (data = version) and the tables that the
    // content packages fill (ARTICLE, INFO_DOC with row 10).
    void CreateDatabase(int version);
    void WriteIni(const std::string& text) const;
    void InstallArchiver() const;  // the built rar beside the updater
    // Writes the files into a new directory under the scratch area and returns it.
    std::string MakePackageDir(const std::string& name, const PackageFiles& files) const;
    // Packs `base` with the items (number, path of a directory or a file) into Dir()/`name`.
    std::string Pack(const std::vector<std::pair<int, std::string>>& packages,
                     const std::string& base, const std::string& name = "updater") const;
    std::string Pack(const std::vector<std::pair<int, std::string>>& packages) const;
    // Writes every package into a directory of its own and packs them all with `base`.
    std::string PackDirectories(const std::vector<std::pair<int, PackageFiles>>& packages,
                                const std::string& base) const;

    // The copy of the update log `logName` of package `package` that a run kept beside the run
    // record; empty when there is none or more than one.
    std::string KeptLog(int package, const std::string& logName) const;

    // Paths for a driver running the packed updater; the suite check looks for a name that no
    // neighbouring test starts.
    StartupPaths Paths() const;

  private:
    CTempDir m_root;
    std::string m_dir;
    std::string m_tmp;
};

// A private Firebird server on loopback for one test (scripts/firebird_server.sh), stopped by
// its PID when destroyed. Its administrator has the session's default password, so the updater
// and the helpers of TestSupport.h reach its databases alike.
class CPrivateServer {
  public:
    CPrivateServer();  // throws when no port could be had
    ~CPrivateServer();
    CPrivateServer(const CPrivateServer&) = delete;
    CPrivateServer& operator=(const CPrivateServer&) = delete;

    // "localhost/<port>", as lib.ini names it.
    std::string Name() const { return "localhost/" + std::to_string(m_port); }
    // The connection string of the database file `path` on this server.
    std::string Database(const std::string& path) const { return Name() + ":" + path; }

  private:
    CTempDir m_dir;
    int m_port = 0;
};

// Runs a shell command; returns its exit status (or -1 when it did not exit normally).
int RunShell(const std::string& command);
std::string ShellQuote(const std::string& text);
void MakeExecutable(const std::string& path);
// `head` followed by `tail`.
std::vector<std::string> Concat(std::vector<std::string> head,
                                const std::vector<std::string>& tail);
