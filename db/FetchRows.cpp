#include "db/FetchRows.h"

#include <cstdio>
#include <cstring>
#include <utility>

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

// Decodes one non-NULL column of a fetched message.
CDbValue ReadValue(IMessageMetadata* metadata, unsigned index, const unsigned char* data,
                   CTransaction& transaction, CStatus& status) {
    CDbValue value;
    value.scale = metadata->getScale(&status, index);
    const auto integer = [&](int64_t number) {
        value.kind = Kind::Integer;
        value.integer = number;
    };
    const auto real = [&](double number) {
        value.kind = Kind::Real;
        value.real = number;
    };
    const auto text = [&](std::string bytes, Kind kind = Kind::Text) {
        value.kind = kind;
        value.text = std::move(bytes);
    };
    const auto* chars = reinterpret_cast<const char*>(data);
    switch (metadata->getType(&status, index)) {
        case SQL_SHORT:
            integer(Load<int16_t>(data));
            break;
        case SQL_LONG:
            integer(Load<int32_t>(data));
            break;
        case SQL_INT64:
            integer(Load<int64_t>(data));
            break;
        case SQL_FLOAT:
            real(Load<float>(data));
            break;
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            real(Load<double>(data));
            break;
        case SQL_TEXT:
            text(std::string(chars, metadata->getLength(&status, index)));
            value.fixedLength = true;
            break;
        case SQL_VARYING:
            text(std::string(chars + sizeof(uint16_t), Load<uint16_t>(data)));
            break;
        case SQL_BLOB:
            text(ReadBlob(transaction, Load<ISC_QUAD>(data)), Kind::Blob);
            break;
        case SQL_TYPE_DATE:
            text(DateText(Load<ISC_DATE>(data)));
            break;
        case SQL_TYPE_TIME:
            text(TimeText(Load<ISC_TIME>(data)));
            break;
        case SQL_TIMESTAMP: {
            const auto stamp = Load<ISC_TIMESTAMP>(data);
            text(DateText(stamp.timestamp_date) + " " + TimeText(stamp.timestamp_time));
            break;
        }
        case SQL_BOOLEAN:
            text(*data ? "TRUE" : "FALSE");
            break;
        default:
            text("<unsupported type>");
            break;
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
