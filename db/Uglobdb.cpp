#include "db/Uglobdb.h"

#include <ibase.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "db/DbError.h"
#include "db/FetchRows.h"
#include "platform/Clock.h"
#include "platform/Network.h"
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
    "select MON$REMOTE_PROCESS, MON$REMOTE_HOST, MON$REMOTE_ADDRESS, MON$ATTACHMENT_ID, "
    "MON$REMOTE_PID, cast(MON$TIMESTAMP as varchar(24)) from MON$ATTACHMENTS "
    "where MON$ATTACHMENT_ID <> CURRENT_CONNECTION";
const char kCurrentConnectionQuery[] = "select CURRENT_CONNECTION from RDB$DATABASE";

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

// The host and the port of a server name as the client reads it: "host", "host/port" or
// "host/service", an IPv6 address in brackets with or without "/port". Nothing for a name of
// another form (a URL such as "inet://...", a Windows share): it is left to the client.
std::optional<std::pair<std::string, std::string>> TcpAddressOf(const std::string& server) {
    if (server.empty() || server.find("://") != std::string::npos ||
        server.find('\\') != std::string::npos) {
        return std::nullopt;
    }
    std::string host = server;
    std::string port = "3050";  // the client's default, gds_db
    std::string rest;
    if (host.front() == '[') {
        const size_t close = host.find(']');
        if (close == std::string::npos) {
            return std::nullopt;
        }
        rest = host.substr(close + 1);
        host = host.substr(1, close - 1);
    } else if (const size_t slash = host.find('/'); slash != std::string::npos) {
        rest = host.substr(slash);
        host.resize(slash);
    }
    if (!rest.empty()) {
        if (rest.front() != '/' || rest.size() == 1) {
            return std::nullopt;
        }
        port = rest.substr(1);
    }
    if (host.empty()) {
        return std::nullopt;
    }
    return std::make_pair(host, port);
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
    m_serverName = server;
    m_connectionString = server.empty() ? path : server + ":" + path;

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
    RequireServerAddressAnswers();
    attachment.Attach(m_connectionString, m_userName, m_password,
                      CClientIdentity{kUpdaterProcessName, CurrentProcessId()}, pageBuffers,
                      m_connectTimeout);
    // A row that another connection holds locked fails its statement after a while instead of
    // stopping the update for ever.
    transaction.SetLockTimeout(kLockTimeoutSeconds);
    transaction.Start();
    // The probe of a silent call looks this attachment up from a connection of its own. Asked in
    // the transaction just started, which the version's question then uses too: a transaction
    // of its own would cost a synchronous write of the header page at every start.
    m_idleAtLastProbe.reset();
    m_attachmentId = 0;
    const std::vector<CDbRow> rows = FetchRows(transaction, kCurrentConnectionQuery, 1);
    if (!rows.empty() && !rows.front().empty() &&
        rows.front().front().value.kind == CDbValue::Kind::Integer) {
        m_attachmentId = rows.front().front().value.integer;
    }
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

bool CGlobDB::ServerAnswers() {
    const double start = MonotonicSeconds();
    CAttachment probe;
    try {
        RequireServerAddressAnswers();
        probe.Attach(m_connectionString, m_userName, m_password,
                     CClientIdentity{kUpdaterProcessName, CurrentProcessId()}, 0, m_connectTimeout);
    } catch (const CDbError& error) {
        return !IsLostDatabase(error) && !IsConnectTimeout(error, MonotonicSeconds() - start);
    }
    if (m_attachmentId == 0) {
        return true;
    }
    // The server answered. A server that then hangs must not hold the probe for ever: its
    // question has the connect timeout too, after which its connection is closed.
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    bool silent = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!answered.wait_for(lock, std::chrono::seconds(m_connectTimeout),
                               [&] { return done; })) {
            silent = true;
            probe.CancelCall(true);
        }
    });
    std::optional<CActivity> now;
    try {
        now = ActivityOf(probe);
    } catch (const CDbError&) {
        // Cut by the watchdog: no answer. Any other error: the server answers, and cannot tell.
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    answered.notify_all();
    watchdog.join();
    if (silent) {
        return false;
    }
    if (!now) {
        return true;
    }
    if (!now->attached) {
        return false;  // the server has dropped this connection; the client has not noticed
    }
    if (now->active) {
        m_idleAtLastProbe.reset();
        return true;
    }
    // Idle while the client waits: the request, or its answer, may be on its way. Idle again at
    // the next probe with nothing done between them, the connection carries nothing.
    const bool stalled = m_idleAtLastProbe && m_idleAtLastProbe->pages == now->pages;
    m_idleAtLastProbe = now;
    return !stalled;
}

CGlobDB::CActivity CGlobDB::ActivityOf(CAttachment& probe) const {
    // Monitoring tables are a snapshot per transaction, taken when it first reads one.
    const std::string id = std::to_string(m_attachmentId);
    CTransaction reader(probe);
    std::vector<CDbRow> rows;
    RunInOwnTransaction(reader, [&] {
        rows = FetchRows(
            reader,
            "select a.MON$STATE, (select count(*) from MON$STATEMENTS s where "
            "s.MON$ATTACHMENT_ID = a.MON$ATTACHMENT_ID and s.MON$STATE = 1), i.MON$PAGE_READS, "
            "i.MON$PAGE_WRITES, i.MON$PAGE_FETCHES, i.MON$PAGE_MARKS from MON$ATTACHMENTS a "
            "left join MON$IO_STATS i on i.MON$STAT_ID = a.MON$STAT_ID where "
            "a.MON$ATTACHMENT_ID = " +
                id,
            1);
    });
    CActivity activity;
    if (rows.empty()) {
        return activity;
    }
    const CDbRow& row = rows.front();
    const auto integer = [&row](size_t column) {
        return row.at(column).value.kind == CDbValue::Kind::Integer ? row.at(column).value.integer
                                                                    : int64_t{-1};
    };
    activity.attached = true;
    activity.active = integer(0) == 1 || integer(1) > 0;
    for (size_t column = 2; column < row.size(); ++column) {
        activity.pages.push_back(integer(column));
    }
    return activity;
}

void CGlobDB::RequireServerAddressAnswers() const {
    const auto address = TcpAddressOf(m_serverName);
    if (m_connectTimeout > 0 && address &&
        !TcpAddressAnswers(address->first, address->second, m_connectTimeout)) {
        throw CDbError("Nothing answers at " + address->first + " port " + address->second +
                           " within " + std::to_string(m_connectTimeout) + " s",
                       {isc_connect_reject});
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
        const auto integer = [](const CDbColumn& column) {
            return column.value.kind == CDbValue::Kind::Integer ? column.value.integer : int64_t{0};
        };
        info.id = integer(row.at(3));
        info.processId = static_cast<int>(integer(row.at(4)));
        info.since = text(row.at(5)).substr(0, 19);
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
