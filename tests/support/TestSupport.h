#pragma once
// Helpers shared by the tests: scratch directories and real (embedded) Firebird databases.

#include <optional>
#include <string>
#include <vector>

// A fresh directory under the temp path, removed with everything in it on destruction.
class CTempDir {
  public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const;  // Path() + "/" + name

  private:
    std::string m_path;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);  // empty when missing
// A new directory (mode 0777 less the umask); false when it exists or cannot be made.
bool MakeDirectory(const std::string& path);
// `size` bytes of reproducible pseudo-random data.
std::string RandomBytes(size_t size, unsigned seed);
// SHA-256 of a file in lower-case hex, streamed; throws CSystemError when it cannot be read.
std::string Sha256OfFile(const std::string& path);
// The names in a directory in byte order, "." and ".." left out (shows leftover files).
std::vector<std::string> DirectoryEntries(const std::string& dir);

// Creates an embedded database file and runs the statements, each committed by itself.
void CreateDatabase(const std::string& path, const std::vector<std::string>& statements);

// Runs statements against an existing database, each committed by itself.
void ExecuteStatements(const std::string& path, const std::vector<std::string>& statements);

// The first column of every row of a query, as text ("<null>" for NULL; blobs as their bytes).
std::vector<std::string> QueryColumn(const std::string& path, const std::string& sql);

// The first column of the first row as blob bytes; nullopt for NULL or no row.
std::optional<std::string> QueryBlob(const std::string& path, const std::string& sql);

// The path of a built program beside the test binaries (build/bin/<name>).
std::string BuiltProgram(const std::string& name);
