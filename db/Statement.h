#pragma once
// One SQL statement bound to a database and its default transaction.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CDatabase;
class CTransaction;

// It keeps one copy of its text, its lines (split at LF) each followed by CR LF: the form the
// server and the update log take. With parameter scanning on, ":name" outside quoted text and
// comments becomes a positional "?" in a scanned copy for the server and can be set by name;
// with it off the server gets the text itself. Errors of the client library are CDbError.
class CSqlStatement {
  public:
    explicit CSqlStatement(CDatabase& database);
    ~CSqlStatement();
    CSqlStatement(const CSqlStatement&) = delete;
    CSqlStatement& operator=(const CSqlStatement&) = delete;

    void SetParamCheck(bool on);
    // Takes the text (lines separated by LF; a final LF ends the last line) and drops any
    // prepared state. A statement of megabytes is best moved in: the line ends are then rewritten
    // in place, without a second buffer when the string has room for one more byte per LF and
    // two at the end.
    void SetText(std::string text);
    const std::string& Text() const { return m_text; }  // each line followed by CR LF

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
    std::string m_text;
};
