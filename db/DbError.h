#pragma once
// The one exception type for database errors.

#include <ibase.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// An error of the Firebird client library or server; what() is the text of
// IUtil::formatStatus (its lines joined by LF, leading "-" kept as the library gives them). It
// keeps the error codes of the status vector (the isc_... constants of ibase.h), so callers can
// tell a lost connection or a lock conflict from a statement the server refused. Errors this
// layer raises itself (a transaction that is not active) carry no code.
class CDbError : public std::runtime_error {
  public:
    explicit CDbError(const std::string& message, std::vector<ISC_STATUS> codes = {})
        : std::runtime_error(message), m_codes(std::move(codes)) {}

    // The first error code, the one that names the kind of failure; 0 when there is none.
    ISC_STATUS Code() const { return m_codes.empty() ? 0 : m_codes.front(); }
    // True when `code` is any of the error codes.
    bool Has(ISC_STATUS code) const {
        return std::find(m_codes.begin(), m_codes.end(), code) != m_codes.end();
    }
    const std::vector<ISC_STATUS>& Codes() const { return m_codes; }

  private:
    std::vector<ISC_STATUS> m_codes;
};

// True for errors after which this session cannot use the database any more: the connection is
// lost, the server or the database is shut down, or the database cannot be read or written (an
// I/O error, such as a full disk). Every later statement would fail the same way, so an update
// stops at such an error instead of logging one failure after another; a later run continues.
inline bool IsLostDatabase(const CDbError& error) {
    for (const ISC_STATUS code :
         {isc_network_error, isc_net_read_err, isc_net_write_err, isc_net_connect_err,
          isc_lost_db_connection, isc_conn_lost, isc_shutdown, isc_shutinprog, isc_att_shutdown,
          isc_io_error, isc_io_write_err, isc_bad_db_handle}) {
        if (error.Has(code)) {
            return true;
        }
    }
    return false;
}
