#pragma once
// The one exception type for database errors. Firebird's headers stay inside db/: the layers
// above tell failures apart by the predicates below, not by the library's error constants.

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// One error code of a Firebird status vector (an isc_... constant of ibase.h, whose ISC_STATUS
// is this type; db/DbError.cpp checks that they stay the same).
using DbErrorCode = std::intptr_t;

// An error of the Firebird client library or server; what() is the text of
// IUtil::formatStatus (its lines joined by LF, leading "-" kept as the library gives them). It
// keeps the error codes of the status vector, so that db/ can tell a lost connection or a lock
// conflict from a statement the server refused. Errors this layer raises itself (a transaction
// that is not active) carry no code.
class CDbError : public std::runtime_error {
  public:
    explicit CDbError(const std::string& message, std::vector<DbErrorCode> codes = {},
                      int windowsError = 0)
        : std::runtime_error(message), m_codes(std::move(codes)), m_windowsError(windowsError) {}

    // The first error code, the one that names the kind of failure; 0 when there is none.
    DbErrorCode Code() const { return m_codes.empty() ? 0 : m_codes.front(); }
    // True when `code` is any of the error codes.
    bool Has(DbErrorCode code) const {
        return std::find(m_codes.begin(), m_codes.end(), code) != m_codes.end();
    }
    const std::vector<DbErrorCode>& Codes() const { return m_codes; }
    // The Windows system error that a Windows engine put into the status vector beside an I/O
    // error (its isc_arg_win32 item); 0 when there is none.
    int WindowsError() const { return m_windowsError; }

  private:
    std::vector<DbErrorCode> m_codes;
    int m_windowsError = 0;
};

// True for errors after which this session cannot use the database any more: the connection is
// lost, the server or the database is shut down, or the database cannot be read or written (an
// I/O error, such as a full disk). Every later statement would fail the same way, so an update
// stops at such an error instead of logging one failure after another; a later run continues.
bool IsLostDatabase(const CDbError& error);

// True when a Windows engine could not open the database file because another process has it
// open: Firebird's embedded engine opens a local database for its own process alone, so a second
// program gets a sharing violation.
bool IsDatabaseOpenElsewhere(const CDbError& error);
