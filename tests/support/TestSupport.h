#pragma once
// Helpers shared by the tests of every system: scratch directories, whole files by UTF-8 path,
// the programs built beside the tests, and real (embedded) Firebird databases. What differs
// between the systems is in TestSupportPosix.cpp and TestSupportWin32.cpp.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/SystemError.h"

class CDatabase;

// A fresh private directory under the temp path, removed with everything in it on destruction.
class CTempDir {
  public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const;  // PathJoin(Path(), name)

  private:
    std::string m_path;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);  // empty when missing
// A new directory (on POSIX mode 0777 less the umask); false when it exists or cannot be made.
bool MakeDirectory(const std::string& path);
// `size` bytes of reproducible pseudo-random data.
std::string RandomBytes(size_t size, unsigned seed);
// SHA-256 of a file in lower-case hex, streamed; throws CSystemError when it cannot be read.
std::string Sha256OfFile(const std::string& path);
// The names in a directory in byte order, "." and ".." left out (shows leftover files).
std::vector<std::string> DirectoryEntries(const std::string& dir);

// The start of the scratch directories' names. On Windows it carries Cyrillic letters, so that
// every path a test touches needs the W functions.
extern const char kScratchPrefix[];

// The system error that `start` throws; nullopt when it throws none.
template <typename Start>
std::optional<CSystemError> StartError(Start start) {
    try {
        start();
    } catch (const CSystemError& error) {
        return error;
    }
    return std::nullopt;
}

// The path of a program built beside the test programs (bin/<name>, on Windows bin\<name>.exe).
std::string BuiltProgram(const std::string& name);

// The system's codes of the errors the tests provoke: a missing file, and a path through a
// directory that is missing (POSIX says ENOENT for both).
extern const int kErrorFileNotFound;
extern const int kErrorPathNotFound;

// Makes a file read-only the system's way: no write permission, on Windows the attribute.
void MakeReadOnly(const std::string& path);

// True under Wine, where some of Windows' behaviour cannot be shown; false on Linux and Windows.
bool RunningUnderWine();

// Sets an environment variable of this process for one scope and restores it afterwards.
class CEnvironmentVariable {
  public:
    CEnvironmentVariable(const std::string& name, const std::string& value);
    ~CEnvironmentVariable();
    CEnvironmentVariable(const CEnvironmentVariable&) = delete;
    CEnvironmentVariable& operator=(const CEnvironmentVariable&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Creates an embedded database file and runs the statements, each committed by itself.
void CreateDatabase(const std::string& path, const std::vector<std::string>& statements);

// Runs statements against an existing database, each committed by itself.
void ExecuteStatements(const std::string& path, const std::vector<std::string>& statements);

// The first column of every row of a query, as text ("<null>" for NULL; blobs as their bytes).
std::vector<std::string> QueryColumn(const std::string& path, const std::string& sql);

// The first column of the first row as blob bytes; nullopt for NULL or no row.
std::optional<std::string> QueryBlob(const std::string& path, const std::string& sql);

// A row that the test's own connection holds: it runs `update` (a statement that changes the
// row) in a transaction that it keeps open, so another connection's statement on that row waits
// for it (the updater's at most its lock timeout) until Release rolls it back. `database` is a
// path (embedded: the same process only) or a server's connection string.
class CHeldRow {
  public:
    CHeldRow(const std::string& database, const std::string& update);
    ~CHeldRow();
    CHeldRow(const CHeldRow&) = delete;
    CHeldRow& operator=(const CHeldRow&) = delete;
    void Release();  // nothing when released already

  private:
    std::unique_ptr<CDatabase> m_database;
};

// Another connection runs a statement whose text contains `text` right now (MON$STATEMENTS).
bool StatementRuns(const std::string& database, const std::string& text);
// Looks for that statement until it runs or `seconds` pass; false then.
bool WaitForStatement(const std::string& database, const std::string& text, double seconds = 300);
