#include "db/Uglobdb.h"

#include <ibase.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "db/DbError.h"
#include "db/FetchRows.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/Text.h"

namespace {

const char kDefaultDatabaseFile[] = "velmora.fdb";
const char kDefaultUser[] = "sysdba";
const char kDefaultPassword[] = "pinewheat";
const char kVersionQuery[] = "select * from versions order by update_date desc";
const char kVersionColumn[] = "data";
const char kAttachmentsQuery[] =
    "select MON$REMOTE_PROCESS, MON$REMOTE_HOST, MON$REMOTE_ADDRESS from MON$ATTACHMENTS "
    "where MON$ATTACHMENT_ID <> CURRENT_CONNECTION";

CGlobDB* g_session = nullptr;

CDbError NotAnInteger(const std::string& text) {
    return CDbError(NotAnIntegerMessage(text));
}

int32_t CheckedInt32(int64_t value, const std::string& shown) {
    if (value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max()) {
        throw NotAnInteger(shown);
    }
    return static_cast<int32_t>(value);
}

// A text column read as a 32-bit integer: leading blanks are accepted, nothing after the digits.
int32_t TextToInteger(const std::string& text) {
    std::string_view digits(text);
    while (!digits.empty() && static_cast<unsigned char>(digits.front()) <= ' ') {
        digits.remove_prefix(1);
    }
    if (const std::optional<int32_t> value = TryParseInteger(digits)) {
        return *value;
    }
    throw NotAnInteger(text);
}

int32_t ToInteger(const CDbValue& value) {
    switch (value.kind) {
        case CDbValue::Kind::Null:
            return 0;
        case CDbValue::Kind::Integer: {
            // NUMERIC/DECIMAL: drop the fraction; C++ division truncates toward zero.
            int64_t integer = value.integer;
            for (int scale = value.scale; scale < 0; ++scale) {
                integer /= 10;
            }
            return CheckedInt32(integer, std::to_string(value.integer));
        }
        case CDbValue::Kind::Real: {
            double truncated = std::trunc(value.real);
            if (!(truncated >= std::numeric_limits<int32_t>::min() &&
                  truncated <= std::numeric_limits<int32_t>::max())) {
                throw NotAnInteger(std::to_string(value.real));
            }
            return static_cast<int32_t>(truncated);
        }
        case CDbValue::Kind::Text:
        case CDbValue::Kind::Blob: {
            std::string text = value.text;
            if (value.fixedLength) {  // CHAR pads with blanks; they are no part of the value
                while (!text.empty() && text.back() == ' ') {
                    text.pop_back();
                }
            }
            return TextToInteger(text);
        }
    }
    return 0;
}

}  // namespace

CGlobDB::CGlobDB(std::string programDirectory) : m_programDirectory(std::move(programDirectory)) {}

void CGlobDB::Connect(const std::string& serverName, const std::string& databasePath,
                      const std::string& userName, const std::string& password) {
    std::string path = databasePath;
    if (TrimControl(path).empty()) {
        path = PathJoin(m_programDirectory, kDefaultDatabaseFile);
    }
    const std::string server(TrimControl(serverName));
    m_connectionString = server.empty() ? path : server + ":" + path;
    m_serverName = server;

    CTransaction& transaction = m_database.DefaultTransaction();
    CAttachment& attachment = m_database.Attachment();
    // Ending the old transaction and attachment may fail on a broken connection; the new one
    // does not depend on them.
    try {
        transaction.Rollback();
    } catch (const CDbError&) {
    }
    try {
        attachment.Detach();
    } catch (const CDbError&) {
    }

    const bool useDefaults = userName.empty();
    m_userName = useDefaults ? kDefaultUser : userName;
    m_password = useDefaults ? kDefaultPassword : password;
    // The embedded engine runs in this process: its page cache is our memory. A server shares
    // its cache between all its attachments, and is left to its own setting.
    const int pageBuffers = server.empty() ? kEmbeddedPageBuffers : 0;
    attachment.Attach(m_connectionString, m_userName, m_password,
                      CClientIdentity{kUpdaterProcessName, CurrentProcessId()}, pageBuffers,
                      m_connectTimeout);
    // A row that another connection holds locked fails its statement after a while instead of
    // stopping the update for ever.
    transaction.SetLockTimeout(kLockTimeoutSeconds);
    transaction.Start();
}

std::string CGlobDB::DatabaseFile() {
    CTransaction reader(m_database.Attachment());
    std::vector<CDbRow> rows;
    RunInOwnTransaction(
        reader, [&] { rows = FetchRows(reader, "select mon$database_name from mon$database", 1); });
    if (rows.empty() || rows[0].empty()) {
        throw CDbError("MON$DATABASE has no row");
    }
    return std::string(TrimControl(rows[0][0].value.text));
}

CServiceManager CGlobDB::AttachServices() const {
    CServiceManager services;
    services.Attach(m_serverName, m_userName, m_password, m_connectTimeout);
    return services;
}

bool CGlobDB::ServerAnswers() const {
    const double start = MonotonicSeconds();
    try {
        CAttachment probe;
        probe.Attach(m_connectionString, m_userName, m_password,
                     CClientIdentity{kUpdaterProcessName, CurrentProcessId()}, 0, m_connectTimeout);
        return true;
    } catch (const CDbError& error) {
        return !IsLostDatabase(error) && !IsConnectTimeout(error, MonotonicSeconds() - start);
    }
}

bool CGlobDB::IsConnectTimeout(const CDbError& error, double waitedSeconds) const {
    // The client reports a server that did not answer in time as a rejected connection; a real
    // rejection comes at once.
    return error.Has(isc_connect_reject) && waitedSeconds >= m_connectTimeout - 0.5;
}

int32_t CGlobDB::GetVersion() {
    return VersionIn(m_database.DefaultTransaction());
}

int32_t CGlobDB::ReadCommittedVersion() {
    CTransaction reader(m_database.Attachment());
    int32_t version = 0;
    RunInOwnTransaction(reader, [&] { version = VersionIn(reader); });
    return version;
}

std::vector<CAttachmentInfo> CGlobDB::OtherAttachments() {
    // Monitoring tables are a snapshot per transaction: a fresh one shows who is attached now.
    CTransaction reader(m_database.Attachment());
    std::vector<CDbRow> rows;
    RunInOwnTransaction(reader, [&] { rows = FetchRows(reader, kAttachmentsQuery); });
    const auto text = [](const CDbColumn& column) {
        return column.value.kind == CDbValue::Kind::Null
                   ? std::string()
                   : std::string(TrimControl(column.value.text));
    };
    std::vector<CAttachmentInfo> attachments;
    for (const CDbRow& row : rows) {
        CAttachmentInfo info;
        info.process = text(row.at(0));
        info.host = text(row.at(1));
        if (info.host.empty()) {
            info.host = text(row.at(2));
        }
        attachments.push_back(std::move(info));
    }
    return attachments;
}

int32_t CGlobDB::VersionIn(CTransaction& transaction) {
    std::vector<CDbRow> rows = FetchRows(transaction, kVersionQuery, 1);
    if (rows.empty()) {
        return 0;
    }
    for (const CDbColumn& column : rows.front()) {
        if (EqualsIgnoreAsciiCase(column.name, kVersionColumn)) {
            return ToInteger(column.value);
        }
    }
    throw CDbError(std::string("Field '") + kVersionColumn + "' not found");
}

CGlobDB* GlobDB() {
    return g_session;
}

void SetGlobDB(CGlobDB* session) {
    g_session = session;
}
