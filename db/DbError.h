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
