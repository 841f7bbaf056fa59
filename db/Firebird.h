#pragma once
// A small RAII layer over Firebird's C++ interface (firebird/Interface.h): one owner per handle,
// errors as CDbError carrying the client library's formatted message.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace Firebird {
class IAttachment;
class ITransaction;
class IStatement;
class IMessageMetadata;
}  // namespace Firebird

// An error of the Firebird client library or server; what() is the text of
// IUtil::formatStatus (its lines joined by LF, leading "-" kept as the library gives them).
class CDbError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The attachment to one database. Move-only; the destructor detaches and swallows errors.
class CAttachment {
  public:
    CAttachment() = default;
    ~CAttachment();
    CAttachment(CAttachment&& other) noexcept;
    CAttachment& operator=(CAttachment&& other) noexcept;
    CAttachment(const CAttachment&) = delete;
    CAttachment& operator=(const CAttachment&) = delete;

    // Attaches with exactly the entries user name and password, in that order.
    void Attach(const std::string& connectionString, const std::string& userName,
                const std::string& password);
    // Creates a new database (tests and tools); the attachment stays open.
    void Create(const std::string& connectionString, const std::string& userName,
                const std::string& password, int pageSize = 8192);
    void Detach();  // no-op when closed
    void Drop();    // drops the attached database
    bool IsOpen() const { return m_handle != nullptr; }
    Firebird::IAttachment* Handle() const { return m_handle; }

  private:
    Firebird::IAttachment* m_handle = nullptr;
};

// A connection's default transaction, started with an empty parameter block. Not active until
// Start(); Commit/Rollback end it. The destructor rolls back a still active transaction.
class CTransaction {
  public:
    explicit CTransaction(CAttachment& attachment) : m_attachment(&attachment) {}
    ~CTransaction();
    CTransaction(const CTransaction&) = delete;
    CTransaction& operator=(const CTransaction&) = delete;

    bool IsActive() const { return m_handle != nullptr; }
    void Start();
    void Commit();
    void Rollback();  // no-op when not active
    // IAttachment::execute returns the transaction current after a statement: null after a
    // script's own COMMIT or ROLLBACK. The statement layer hands that answer back here.
    void AdoptAfterExecute(Firebird::ITransaction* current);
    Firebird::ITransaction* Handle() const { return m_handle; }
    CAttachment& Attachment() const { return *m_attachment; }

  private:
    CAttachment* m_attachment;
    Firebird::ITransaction* m_handle = nullptr;
};

// The connection object the session hands to the installers: the attachment and its default
// transaction, in which every statement bound to it runs.
class CDatabase {
  public:
    CDatabase() : m_transaction(m_attachment) {}
    CAttachment& Attachment() { return m_attachment; }
    CTransaction& DefaultTransaction() { return m_transaction; }

  private:
    CAttachment m_attachment;
    CTransaction m_transaction;
};

// One SQL statement bound to a database and its default transaction. It keeps its text as lines
// (split at LF) and hands the server these lines each followed by CR LF. With parameter scanning
// on, ":name" outside quoted text and comments becomes a positional "?" and can be set by name;
// with it off the text reaches the server unchanged.
class CSqlStatement {
  public:
    explicit CSqlStatement(CDatabase& database);
    ~CSqlStatement();
    CSqlStatement(const CSqlStatement&) = delete;
    CSqlStatement& operator=(const CSqlStatement&) = delete;

    void SetParamCheck(bool on);
    void SetText(const std::string& text);  // splits at LF; drops any prepared state
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
    // Throws CSystemError when the file cannot be opened or read.
    void SetBlobFromFile(const std::string& name, const std::string& path);

    // Executes in the default transaction (which must be active). A statement without parameters
    // goes to the server in one call; the transaction reported back by the server is adopted.
    void Execute();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    CDatabase& m_database;
    bool m_paramCheck = true;
    std::vector<std::string> m_lines;
};

// One column of a fetched row. Integers keep their unscaled value and scale (NUMERIC(10,2)
// 12.75 is 1275 with scale -2); CHAR and VARCHAR values and blob bytes are in `text`; other
// types (dates, times, booleans) come as the server's text form.
struct CDbValue {
    enum class Kind { Null, Integer, Real, Text, Blob };
    Kind kind = Kind::Null;
    int64_t integer = 0;
    int scale = 0;
    double real = 0;
    std::string text;
    bool fixedLength = false;  // CHAR: `text` is padded with blanks to the column's length
};

struct CDbColumn {
    std::string name;  // the column's alias as the server describes it
    CDbValue value;
};
using CDbRow = std::vector<CDbColumn>;

// Runs a query in the transaction (which must be active) and returns its first `maxRows` rows.
std::vector<CDbRow> FetchRows(CTransaction& transaction, const std::string& sql,
                              size_t maxRows = SIZE_MAX);
