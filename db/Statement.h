#pragma once
// One SQL statement bound to a database and its default transaction.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CDatabase;
class CTransaction;

// It keeps its text as lines (split at LF) and hands the server these lines each followed by
// CR LF. With parameter scanning on, ":name" outside quoted text and comments becomes a
// positional "?" and can be set by name; with it off the text reaches the server unchanged.
// Errors of the client library are CDbError.
class CSqlStatement {
  public:
    explicit CSqlStatement(CDatabase& database);
    ~CSqlStatement();
    CSqlStatement(const CSqlStatement&) = delete;
    CSqlStatement& operator=(const CSqlStatement&) = delete;

    void SetParamCheck(bool on);
    void SetText(std::string_view text);  // splits at LF; drops any prepared state
    const std::vector<std::string>& Lines() const { return m_lines; }
    std::string Text() const;  // each line followed by CR LF

    // Prepares in the default transaction (which must be active). Done by the parameter setters
    // and Execute when needed.
    void Prepare();
    // Parameter setters, by name (ASCII case ignored); every occurrence of the name is set.
    // Throw CDbError for an unknown name.
    void SetInteger(const std::string& name, int32_t value);
    // Creates a blob in the default transaction, writes the file into it from its first byte in
    // segments of at most 65,535 bytes (an empty file gives a blob of length 0) and binds it.
    // `onProgress` (when given) is called after about every megabyte, so that a caller can keep
    // its window alive through a large file. Throws CSystemError when the file cannot be opened
    // or read.
    void SetBlobFromFile(const std::string& name, const std::string& path,
                         const std::function<void()>& onProgress = {});

    // Executes in the default transaction (which must be active). A statement without parameters
    // goes to the server in one call; the transaction reported back by the server is adopted.
    void Execute();

  private:
    struct Impl;
    bool ExecuteUnprepared(CTransaction& transaction);

    std::unique_ptr<Impl> m_impl;
    CDatabase& m_database;
    bool m_paramCheck = true;
    std::vector<std::string> m_lines;
};
