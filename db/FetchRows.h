#pragma once
// Reading rows: the version query of the session and the checks of the tests.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CTransaction;

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
// Errors of the client library are CDbError.
std::vector<CDbRow> FetchRows(CTransaction& transaction, const std::string& sql,
                              size_t maxRows = SIZE_MAX);
