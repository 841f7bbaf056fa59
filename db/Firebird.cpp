#include "db/Firebird.h"

#include <firebird/Interface.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <variant>

#include "platform/FileSystem.h"
#include "platform/Text.h"

using namespace Firebird;

namespace {

constexpr unsigned kDialect = 3;
// IBlob::putSegment refuses segments of 64 KiB and more.
constexpr size_t kMaxSegment = 65535;

IMaster* Master() {
    static IMaster* master = fb_get_master_interface();
    return master;
}

IUtil* Util() {
    return Master()->getUtilInterface();
}

// A throwing status wrapper that owns its status object.
class CStatus : public ThrowStatusWrapper {
  public:
    CStatus() : ThrowStatusWrapper(Master()->getStatus()) {}
    ~CStatus() { dispose(); }
    CStatus(const CStatus&) = delete;
    CStatus& operator=(const CStatus&) = delete;
};

std::string FormatStatus(IStatus* status) {
    char buffer[4096];
    unsigned length = Util()->formatStatus(buffer, sizeof buffer, status);
    std::string text(buffer, std::min<size_t>(length, sizeof buffer));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '\0'))
        text.pop_back();
    return text;
}

CDbError ToDbError(const FbException& e) {
    return CDbError(FormatStatus(e.getStatus()));
}

// True when the error vector of `status` holds `code` as one of its error codes.
bool HasErrorCode(IStatus* status, ISC_STATUS code) {
    const intptr_t* item = status->getErrors();
    while (item && *item != isc_arg_end) {
        if (item[0] == isc_arg_gds && item[1] == code)
            return true;
        item += item[0] == isc_arg_cstring ? 3 : 2;  // a counted string: length and pointer
    }
    return false;
}

// Calls `body`, turning the client library's exceptions into CDbError.
template <typename Body>
auto Guard(Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const FbException& e) {
        throw ToDbError(e);
    }
}

// The dispatcher that routes attachments to the remote or embedded provider.
struct CProvider {
    IProvider* handle = Master()->getDispatcher();
    ~CProvider() { handle->release(); }
};

// An attachment parameter block built by the client library's own builder.
class CDpb {
  public:
    explicit CDpb(CStatus& status)
        : m_builder(Util()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0)) {}
    ~CDpb() { m_builder->dispose(); }
    CDpb(const CDpb&) = delete;
    CDpb& operator=(const CDpb&) = delete;
    IXpbBuilder* operator->() const { return m_builder; }

  private:
    IXpbBuilder* m_builder;
};

// Releases a reference-counted interface when it goes out of scope.
template <typename T>
class CRef {
  public:
    explicit CRef(T* handle = nullptr) : m_handle(handle) {}
    ~CRef() { Reset(); }
    CRef(const CRef&) = delete;
    CRef& operator=(const CRef&) = delete;
    T* Get() const { return m_handle; }
    T* operator->() const { return m_handle; }
    T* Release() {
        T* handle = m_handle;
        m_handle = nullptr;
        return handle;
    }
    void Reset(T* handle = nullptr) {
        if (m_handle)
            m_handle->release();
        m_handle = handle;
    }

  private:
    T* m_handle;
};

// A blob being written; cancelled unless closed.
class CBlobWriter {
  public:
    CBlobWriter(IAttachment* attachment, ITransaction* transaction, ISC_QUAD& id, CStatus& status)
        : m_handle(attachment->createBlob(&status, transaction, &id, 0, nullptr)) {}
    ~CBlobWriter() {
        if (!m_handle)
            return;
        try {
            CStatus status;
            m_handle->cancel(&status);  // releases the interface on success
        } catch (const FbException&) {
            m_handle->release();
        }
    }
    CBlobWriter(const CBlobWriter&) = delete;
    CBlobWriter& operator=(const CBlobWriter&) = delete;

    void Put(CStatus& status, const void* data, unsigned size) {
        m_handle->putSegment(&status, size, data);
    }
    void Close(CStatus& status) {
        m_handle->close(&status);  // releases the interface on success
        m_handle = nullptr;
    }

  private:
    IBlob* m_handle;
};

void RequireActive(const CTransaction& transaction) {
    if (!transaction.IsActive())
        throw CDbError("The transaction is not active");
    if (!transaction.Attachment().IsOpen())
        throw CDbError("The database is not attached");
}

bool IsParamNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$';
}

// Replaces ":name" outside string literals, quoted identifiers and comments by "?" and collects
// the names in order of appearance.
std::string ScanParameters(const std::string& text, std::vector<std::string>& names) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        char c = text[i];
        if (c == '\'' || c == '"') {
            // A doubled quote inside closes and reopens: copying both halves gives the same text.
            size_t end = text.find(c, i + 1);
            end = end == std::string::npos ? n : end + 1;
            out.append(text, i, end - i);
            i = end;
        } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
            size_t end = text.find("*/", i + 2);
            end = end == std::string::npos ? n : end + 2;
            out.append(text, i, end - i);
            i = end;
        } else if (c == '-' && i + 1 < n && text[i + 1] == '-') {
            size_t end = text.find_first_of("\r\n", i);
            end = end == std::string::npos ? n : end;
            out.append(text, i, end - i);
            i = end;
        } else if (c == ':' && i + 1 < n && IsParamNameChar(text[i + 1])) {
            size_t end = i + 1;
            while (end < n && IsParamNameChar(text[end]))
                ++end;
            names.push_back(text.substr(i + 1, end - i - 1));
            out += '?';
            i = end;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CAttachment

CAttachment::~CAttachment() {
    try {
        Detach();
    } catch (const CDbError&) {
    }
}

CAttachment::CAttachment(CAttachment&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = nullptr;
}

CAttachment& CAttachment::operator=(CAttachment&& other) noexcept {
    if (this != &other) {
        try {
            Detach();
        } catch (const CDbError&) {
        }
        m_handle = other.m_handle;
        other.m_handle = nullptr;
    }
    return *this;
}

void CAttachment::Attach(const std::string& connectionString, const std::string& userName,
                         const std::string& password) {
    Detach();
    Guard([&] {
        CStatus status;
        CDpb dpb(status);
        dpb->insertString(&status, isc_dpb_user_name, userName.c_str());
        dpb->insertString(&status, isc_dpb_password, password.c_str());
        CProvider provider;
        m_handle =
            provider.handle->attachDatabase(&status, connectionString.c_str(),
                                            dpb->getBufferLength(&status), dpb->getBuffer(&status));
    });
}

void CAttachment::Create(const std::string& connectionString, const std::string& userName,
                         const std::string& password, int pageSize) {
    Detach();
    Guard([&] {
        CStatus status;
        CDpb dpb(status);
        dpb->insertString(&status, isc_dpb_user_name, userName.c_str());
        dpb->insertString(&status, isc_dpb_password, password.c_str());
        dpb->insertInt(&status, isc_dpb_page_size, pageSize);
        // Without it the engine would create a dialect 1 database.
        dpb->insertInt(&status, isc_dpb_sql_dialect, kDialect);
        CProvider provider;
        m_handle =
            provider.handle->createDatabase(&status, connectionString.c_str(),
                                            dpb->getBufferLength(&status), dpb->getBuffer(&status));
    });
}

void CAttachment::Detach() {
    if (!m_handle)
        return;
    IAttachment* handle = m_handle;
    m_handle = nullptr;
    try {
        CStatus status;
        handle->detach(&status);  // releases the interface on success
    } catch (const FbException& e) {
        handle->release();
        throw ToDbError(e);
    }
}

void CAttachment::Drop() {
    if (!m_handle)
        throw CDbError("The database is not attached");
    IAttachment* handle = m_handle;
    m_handle = nullptr;
    try {
        CStatus status;
        handle->dropDatabase(&status);  // releases the interface on success
    } catch (const FbException& e) {
        handle->release();
        throw ToDbError(e);
    }
}

// ---------------------------------------------------------------------------------------------
// CTransaction

CTransaction::~CTransaction() {
    try {
        Rollback();
    } catch (const CDbError&) {
    }
}

void CTransaction::Start() {
    if (m_handle)
        throw CDbError("The transaction is already active");
    if (!m_attachment->IsOpen())
        throw CDbError("The database is not attached");
    Guard([&] {
        CStatus status;
        m_handle = m_attachment->Handle()->startTransaction(&status, 0, nullptr);
    });
}

void CTransaction::Commit() {
    if (!m_handle)
        throw CDbError("The transaction is not active");
    // A failed commit leaves the transaction active, so the caller can still roll it back.
    Guard([&] {
        CStatus status;
        m_handle->commit(&status);  // releases the interface on success
        m_handle = nullptr;
    });
}

void CTransaction::Rollback() {
    if (!m_handle)
        return;
    ITransaction* handle = m_handle;
    m_handle = nullptr;
    try {
        CStatus status;
        handle->rollback(&status);  // releases the interface on success
    } catch (const FbException& e) {
        // Nothing more can be done with it; the engine ends it with the attachment.
        handle->release();
        throw ToDbError(e);
    }
}

void CTransaction::AdoptAfterExecute(ITransaction* current) {
    // When the statement ended the transaction the client library has already released the
    // reference we held; releasing it here again would free it twice.
    m_handle = current;
}

// ---------------------------------------------------------------------------------------------
// CSqlStatement

struct CSqlStatement::Impl {
    // Text sent to the server and the parameter names in the order of their "?" markers.
    bool scanned = false;
    std::string serverText;
    std::vector<std::string> names;

    IStatement* statement = nullptr;
    IMessageMetadata* inputMetadata = nullptr;
    unsigned flags = 0;  // IStatement::getFlags of the prepared statement
    // The value set for each "?" position; monostate leaves it NULL.
    std::vector<std::variant<std::monostate, int32_t, ISC_QUAD>> values;

    ~Impl() { Free(); }

    // The prepared statement yields rows and must be run through a cursor.
    bool HasCursor() const { return (flags & IStatement::FLAG_HAS_CURSOR) != 0; }

    // Builds the server's text once per text.
    void Scan(const CSqlStatement& owner) {
        if (scanned)
            return;
        names.clear();
        serverText = owner.m_paramCheck ? ScanParameters(owner.Text(), names) : owner.Text();
        scanned = true;
    }

    void Free() {
        if (inputMetadata) {
            inputMetadata->release();
            inputMetadata = nullptr;
        }
        if (statement) {
            try {
                CStatus status;
                statement->free(&status);  // releases the interface on success
            } catch (const FbException&) {
                statement->release();
            }
            statement = nullptr;
        }
        values.clear();
        flags = 0;
    }
};

CSqlStatement::CSqlStatement(CDatabase& database)
    : m_impl(std::make_unique<Impl>()), m_database(database) {}

CSqlStatement::~CSqlStatement() = default;

void CSqlStatement::SetParamCheck(bool on) {
    if (on == m_paramCheck)
        return;
    m_paramCheck = on;
    m_impl->Free();
    m_impl->scanned = false;
}

void CSqlStatement::SetText(const std::string& text) {
    m_impl->Free();
    m_impl->scanned = false;
    m_lines.clear();
    // Like a string list: a final LF ends the last line rather than starting an empty one.
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            m_lines.push_back(text.substr(start));
            break;
        }
        m_lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::string CSqlStatement::Text() const {
    std::string text;
    size_t size = 0;
    for (const auto& line : m_lines)
        size += line.size() + 2;
    text.reserve(size);
    for (const auto& line : m_lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void CSqlStatement::Prepare() {
    CTransaction& transaction = m_database.DefaultTransaction();
    RequireActive(transaction);
    Impl& impl = *m_impl;
    impl.Scan(*this);
    if (impl.statement)
        return;
    Guard([&] {
        CStatus status;
        IAttachment* attachment = m_database.Attachment().Handle();
        impl.statement = attachment->prepare(
            &status, transaction.Handle(), static_cast<unsigned>(impl.serverText.size()),
            impl.serverText.c_str(), kDialect, IStatement::PREPARE_PREFETCH_METADATA);
        impl.inputMetadata = impl.statement->getInputMetadata(&status);
        impl.flags = impl.statement->getFlags(&status);
        impl.values.assign(impl.inputMetadata->getCount(&status), std::monostate{});
    });
}

namespace {

// Positions of the "?" markers that stand for `name`; CDbError when there is none.
std::vector<unsigned> FindParameter(const std::vector<std::string>& names, size_t count,
                                    const std::string& name) {
    std::vector<unsigned> positions;
    for (size_t i = 0; i < names.size() && i < count; ++i)
        if (EqualsIgnoreAsciiCase(names[i], name))
            positions.push_back(static_cast<unsigned>(i));
    if (positions.empty())
        throw CDbError("Parameter \"" + name + "\" not found in the statement");
    return positions;
}

}  // namespace

void CSqlStatement::SetInteger(const std::string& name, int32_t value) {
    Prepare();
    for (unsigned i : FindParameter(m_impl->names, m_impl->values.size(), name))
        m_impl->values[i] = value;
}

void CSqlStatement::SetBlobFromFile(const std::string& name, const std::string& path) {
    Prepare();
    std::vector<unsigned> positions = FindParameter(m_impl->names, m_impl->values.size(), name);
    CFile file(path, CFile::Mode::Read);

    ISC_QUAD id{};
    Guard([&] {
        CStatus status;
        CBlobWriter blob(m_database.Attachment().Handle(), m_database.DefaultTransaction().Handle(),
                         id, status);
        std::vector<char> buffer(kMaxSegment);
        while (size_t count = file.Read(buffer.data(), buffer.size()))
            blob.Put(status, buffer.data(), static_cast<unsigned>(count));
        blob.Close(status);
    });
    for (unsigned i : positions)
        m_impl->values[i] = id;
}

void CSqlStatement::Execute() {
    CTransaction& transaction = m_database.DefaultTransaction();
    RequireActive(transaction);
    Impl& impl = *m_impl;
    impl.Scan(*this);

    // Without parameters one call does it all; scripts run thousands of such statements.
    if (!impl.statement && impl.names.empty()) {
        try {
            CStatus status;
            ITransaction* current = m_database.Attachment().Handle()->execute(
                &status, transaction.Handle(), static_cast<unsigned>(impl.serverText.size()),
                impl.serverText.c_str(), kDialect, nullptr, nullptr, nullptr, nullptr);
            transaction.AdoptAfterExecute(current);
            return;
        } catch (const FbException& e) {
            // A query (SELECT, a selectable procedure, EXECUTE BLOCK with SUSPEND) is refused
            // here for want of a place for its rows, before anything ran. It runs through a
            // cursor below; any other statement keeps its error.
            if (!HasErrorCode(e.getStatus(), isc_dsql_sqlda_err))
                throw ToDbError(e);
            const CDbError refused = ToDbError(e);
            Prepare();
            if (!impl.HasCursor() || !impl.values.empty())
                throw refused;
        }
    }

    Prepare();
    Guard([&] {
        CStatus status;
        // Describe every set parameter as the type of its value; the server converts.
        CRef<IMetadataBuilder> builder(impl.inputMetadata->getBuilder(&status));
        for (unsigned i = 0; i < impl.values.size(); ++i) {
            if (std::holds_alternative<int32_t>(impl.values[i])) {
                builder->setType(&status, i, SQL_LONG);
                builder->setLength(&status, i, sizeof(int32_t));
                builder->setScale(&status, i, 0);
            } else if (std::holds_alternative<ISC_QUAD>(impl.values[i])) {
                builder->setType(&status, i, SQL_BLOB);
                builder->setLength(&status, i, sizeof(ISC_QUAD));
                builder->setScale(&status, i, 0);
            }
        }
        CRef<IMessageMetadata> metadata(builder->getMetadata(&status));
        std::vector<unsigned char> message(metadata->getMessageLength(&status));
        for (unsigned i = 0; i < impl.values.size(); ++i) {
            unsigned char* data = &message[metadata->getOffset(&status, i)];
            int16_t isNull = -1;
            if (const auto* integer = std::get_if<int32_t>(&impl.values[i])) {
                std::memcpy(data, integer, sizeof *integer);
                isNull = 0;
            } else if (const auto* blobId = std::get_if<ISC_QUAD>(&impl.values[i])) {
                std::memcpy(data, blobId, sizeof *blobId);
                isNull = 0;
            }
            std::memcpy(&message[metadata->getNullOffset(&status, i)], &isNull, sizeof isNull);
        }

        if (impl.HasCursor()) {
            // A query runs to its end, as the interactive tool runs it, so that what its rows
            // compute (GEN_ID, selectable procedures) happens; the rows themselves are dropped.
            CRef<IMessageMetadata> output(impl.statement->getOutputMetadata(&status));
            std::vector<unsigned char> row(output->getMessageLength(&status));
            CRef<IResultSet> cursor(impl.statement->openCursor(
                &status, transaction.Handle(), metadata.Get(), message.data(), output.Get(), 0));
            while (cursor->fetchNext(&status, row.data()) == IStatus::RESULT_OK) {
            }
            cursor->close(&status);  // releases the interface on success
            cursor.Release();
            return;
        }
        ITransaction* current = impl.statement->execute(
            &status, transaction.Handle(), metadata.Get(), message.data(), nullptr, nullptr);
        transaction.AdoptAfterExecute(current);
    });
}

// ---------------------------------------------------------------------------------------------
// Queries

namespace {

std::string ReadBlob(IAttachment* attachment, ITransaction* transaction, ISC_QUAD id,
                     CStatus& status) {
    CRef<IBlob> blob(attachment->openBlob(&status, transaction, &id, 0, nullptr));
    std::string bytes;
    std::vector<char> buffer(kMaxSegment);
    for (;;) {
        unsigned length = 0;
        int result =
            blob->getSegment(&status, static_cast<unsigned>(buffer.size()), buffer.data(), &length);
        if (result != IStatus::RESULT_OK && result != IStatus::RESULT_SEGMENT)
            break;
        bytes.append(buffer.data(), length);
    }
    blob->close(&status);  // releases the interface on success
    blob.Release();
    return bytes;
}

template <typename T>
T Load(const unsigned char* data) {
    T value;
    std::memcpy(&value, data, sizeof value);
    return value;
}

// Dates and times in the form a dialect 3 CAST to VARCHAR gives: "2024-05-03 10:11:12.0000".
std::string DateText(ISC_DATE date) {
    unsigned year = 0, month = 0, day = 0;
    Util()->decodeDate(date, &year, &month, &day);
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", year, month, day);
    return text;
}

std::string TimeText(ISC_TIME time) {
    unsigned hours = 0, minutes = 0, seconds = 0, fractions = 0;
    Util()->decodeTime(time, &hours, &minutes, &seconds, &fractions);
    char text[24];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%04u", hours, minutes, seconds, fractions);
    return text;
}

// Decodes one non-NULL column of a fetched message.
CDbValue ReadValue(IMessageMetadata* metadata, unsigned index, const unsigned char* data,
                   IAttachment* attachment, ITransaction* transaction, CStatus& status) {
    CDbValue value;
    value.scale = metadata->getScale(&status, index);
    switch (metadata->getType(&status, index)) {
        case SQL_SHORT:
            value.kind = CDbValue::Kind::Integer;
            value.integer = Load<int16_t>(data);
            break;
        case SQL_LONG:
            value.kind = CDbValue::Kind::Integer;
            value.integer = Load<int32_t>(data);
            break;
        case SQL_INT64:
            value.kind = CDbValue::Kind::Integer;
            value.integer = Load<int64_t>(data);
            break;
        case SQL_FLOAT:
            value.kind = CDbValue::Kind::Real;
            value.real = Load<float>(data);
            break;
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            value.kind = CDbValue::Kind::Real;
            value.real = Load<double>(data);
            break;
        case SQL_TEXT:
            value.kind = CDbValue::Kind::Text;
            value.fixedLength = true;
            value.text.assign(reinterpret_cast<const char*>(data),
                              metadata->getLength(&status, index));
            break;
        case SQL_VARYING:
            value.kind = CDbValue::Kind::Text;
            value.text.assign(reinterpret_cast<const char*>(data) + sizeof(uint16_t),
                              Load<uint16_t>(data));
            break;
        case SQL_BLOB:
            value.kind = CDbValue::Kind::Blob;
            value.text = ReadBlob(attachment, transaction, Load<ISC_QUAD>(data), status);
            break;
        case SQL_TYPE_DATE:
            value.kind = CDbValue::Kind::Text;
            value.text = DateText(Load<ISC_DATE>(data));
            break;
        case SQL_TYPE_TIME:
            value.kind = CDbValue::Kind::Text;
            value.text = TimeText(Load<ISC_TIME>(data));
            break;
        case SQL_TIMESTAMP: {
            auto stamp = Load<ISC_TIMESTAMP>(data);
            value.kind = CDbValue::Kind::Text;
            value.text = DateText(stamp.timestamp_date) + " " + TimeText(stamp.timestamp_time);
            break;
        }
        case SQL_BOOLEAN:
            value.kind = CDbValue::Kind::Text;
            value.text = *data ? "TRUE" : "FALSE";
            break;
        default:
            value.kind = CDbValue::Kind::Text;
            value.text = "<unsupported type>";
            break;
    }
    return value;
}

}  // namespace

std::vector<CDbRow> FetchRows(CTransaction& transaction, const std::string& sql, size_t maxRows) {
    RequireActive(transaction);
    IAttachment* attachment = transaction.Attachment().Handle();
    return Guard([&] {
        CStatus status;
        CRef<IStatement> statement(
            attachment->prepare(&status, transaction.Handle(), static_cast<unsigned>(sql.size()),
                                sql.c_str(), kDialect, IStatement::PREPARE_PREFETCH_METADATA));
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
                if (!Load<int16_t>(&message[metadata->getNullOffset(&status, i)]))
                    row[i].value =
                        ReadValue(metadata.Get(), i, &message[metadata->getOffset(&status, i)],
                                  attachment, transaction.Handle(), status);
            }
        }
        cursor->close(&status);  // releases the interface on success
        cursor.Release();
        return rows;
    });
}
