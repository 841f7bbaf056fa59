#include "db/FetchRows.h"

#include <cstdio>
#include <cstring>

#include "db/Attachment.h"
#include "db/Blob.h"
#include "db/Client.h"
#include "db/Transaction.h"

using namespace Firebird;

namespace {

using Kind = CDbValue::Kind;

template <typename T>
T Load(const unsigned char* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

// Dates and times in the form a dialect 3 CAST to VARCHAR gives: "2024-05-03 10:11:12.0000".
std::string DateText(ISC_DATE date) {
    unsigned year = 0, month = 0, day = 0;
    FbUtil()->decodeDate(date, &year, &month, &day);
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", year, month, day);
    return text;
}

std::string TimeText(ISC_TIME time) {
    unsigned hours = 0, minutes = 0, seconds = 0, fractions = 0;
    FbUtil()->decodeTime(time, &hours, &minutes, &seconds, &fractions);
    char text[24];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%04u", hours, minutes, seconds, fractions);
    return text;
}

// The text of a column that is not a number: the bytes of CHAR, VARCHAR and blob columns, the
// server's text form of the other types.
std::string TextOf(unsigned type, unsigned length, const unsigned char* data,
                   CTransaction& transaction) {
    const auto* chars = reinterpret_cast<const char*>(data);
    switch (type) {
        case SQL_TEXT:
            return std::string(chars, length);
        case SQL_VARYING:
            return std::string(chars + sizeof(uint16_t), Load<uint16_t>(data));
        case SQL_BLOB:
            return ReadBlob(transaction, Load<ISC_QUAD>(data));
        case SQL_TYPE_DATE:
            return DateText(Load<ISC_DATE>(data));
        case SQL_TYPE_TIME:
            return TimeText(Load<ISC_TIME>(data));
        case SQL_TIMESTAMP: {
            const auto stamp = Load<ISC_TIMESTAMP>(data);
            return DateText(stamp.timestamp_date) + " " + TimeText(stamp.timestamp_time);
        }
        case SQL_BOOLEAN:
            return *data ? "TRUE" : "FALSE";
        default:
            return "<unsupported type>";
    }
}

// Decodes one non-NULL column of a fetched message.
CDbValue ReadValue(IMessageMetadata* metadata, unsigned index, const unsigned char* data,
                   CTransaction& transaction, CStatus& status) {
    CDbValue value;
    value.scale = metadata->getScale(&status, index);
    const unsigned type = metadata->getType(&status, index);
    if (type == SQL_SHORT || type == SQL_LONG || type == SQL_INT64) {
        value.kind = Kind::Integer;
        value.integer = type == SQL_SHORT  ? Load<int16_t>(data)
                        : type == SQL_LONG ? Load<int32_t>(data)
                                           : Load<int64_t>(data);
    } else if (type == SQL_FLOAT || type == SQL_DOUBLE || type == SQL_D_FLOAT) {
        value.kind = Kind::Real;
        value.real = type == SQL_FLOAT ? Load<float>(data) : Load<double>(data);
    } else {
        value.kind = type == SQL_BLOB ? Kind::Blob : Kind::Text;
        value.fixedLength = type == SQL_TEXT;  // padded with blanks to the column's length
        value.text = TextOf(type, metadata->getLength(&status, index), data, transaction);
    }
    return value;
}

}  // namespace

std::vector<CDbRow> FetchRows(CTransaction& transaction, const std::string& sql, size_t maxRows) {
    transaction.RequireActive();
    return Guard([&] {
        CStatus status;
        CRef<IStatement> statement(transaction.Attachment().Handle()->prepare(
            &status, transaction.Handle(), static_cast<unsigned>(sql.size()), sql.c_str(),
            kSqlDialect, IStatement::PREPARE_PREFETCH_METADATA));
        CRef<IMessageMetadata> metadata(statement->getOutputMetadata(&status));
        const unsigned count = metadata->getCount(&status);
        std::vector<unsigned char> message(metadata->getMessageLength(&status));

        CRef<IResultSet> cursor(statement->openCursor(&status, transaction.Handle(), nullptr,
                                                      nullptr, metadata.Get(), 0));
        std::vector<CDbRow> rows;
        while (rows.size() < maxRows &&
               cursor->fetchNext(&status, message.data()) == IStatus::RESULT_OK) {
            CDbRow& row = rows.emplace_back(count);
            for (unsigned i = 0; i < count; ++i) {
                row[i].name = metadata->getAlias(&status, i);
                if (!Load<int16_t>(&message[metadata->getNullOffset(&status, i)])) {
                    row[i].value =
                        ReadValue(metadata.Get(), i, &message[metadata->getOffset(&status, i)],
                                  transaction, status);
                }
            }
        }
        cursor->close(&status);  // releases the interface on success
        cursor.Release();
        return rows;
    });
}
