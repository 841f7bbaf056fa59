#include "db/Statement.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <variant>

#include "db/Blob.h"
#include "db/Client.h"
#include "db/Database.h"
#include "platform/Text.h"

using namespace Firebird;

namespace {

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
    // Copies text[i, end) unchanged, `end` being npos when the quote or comment is not closed.
    const auto copyTo = [&](size_t end) {
        end = end == std::string::npos ? n : end;
        out.append(text, i, end - i);
        i = end;
    };
    while (i < n) {
        const char c = text[i];
        if (c == '\'' || c == '"') {
            // A doubled quote inside closes and reopens: copying both halves gives the same text.
            const size_t close = text.find(c, i + 1);
            copyTo(close == std::string::npos ? close : close + 1);
        } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
            const size_t close = text.find("*/", i + 2);
            copyTo(close == std::string::npos ? close : close + 2);
        } else if (c == '-' && i + 1 < n && text[i + 1] == '-') {
            copyTo(text.find_first_of("\r\n", i));
        } else if (c == ':' && i + 1 < n && IsParamNameChar(text[i + 1])) {
            size_t end = i + 1;
            while (end < n && IsParamNameChar(text[end])) {
                ++end;
            }
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

struct CSqlStatement::Impl {
    // The scanned text for the server (with parameter scanning on) and the parameter names in
    // the order of their "?" markers.
    bool scanned = false;
    std::string scannedText;
    std::vector<std::string> names;

    CRef<IStatement> statement;
    CRef<IMessageMetadata> inputMetadata;
    unsigned flags = 0;  // IStatement::getFlags of the prepared statement
    // The value set for each "?" position; monostate leaves it NULL.
    std::vector<std::variant<std::monostate, int32_t, ISC_QUAD>> values;

    // The prepared statement yields rows and must be run through a cursor.
    bool HasCursor() const { return (flags & IStatement::FLAG_HAS_CURSOR) != 0; }

    // Scans the text for parameters once per text, when scanning is on.
    void Scan(const CSqlStatement& owner) {
        if (scanned) {
            return;
        }
        names.clear();
        scannedText.clear();
        if (owner.m_paramCheck) {
            scannedText = ScanParameters(owner.m_text, names);
        }
        scanned = true;
    }

    // The text the server gets: without scanning, the statement's own.
    const std::string& ServerText(const CSqlStatement& owner) const {
        return owner.m_paramCheck ? scannedText : owner.m_text;
    }

    // Drops the prepared statement, the values and the scanned text.
    void Forget() {
        inputMetadata.Reset();
        statement.Reset();
        values.clear();
        flags = 0;
        scannedText = std::string();
        scanned = false;
    }

    // Positions of the "?" markers that stand for `name`; CDbError when there is none.
    std::vector<unsigned> Positions(const std::string& name) const {
        std::vector<unsigned> positions;
        for (size_t i = 0; i < names.size() && i < values.size(); ++i) {
            if (EqualsIgnoreAsciiCase(names[i], name)) {
                positions.push_back(static_cast<unsigned>(i));
            }
        }
        if (positions.empty()) {
            throw CDbError("Parameter \"" + name + "\" not found in the statement");
        }
        return positions;
    }

    // Describes every set parameter as the type of its value; the server converts.
    CRef<IMessageMetadata> DescribeValues(CStatus& status) const {
        CRef<IMetadataBuilder> builder(inputMetadata->getBuilder(&status));
        for (unsigned i = 0; i < values.size(); ++i) {
            if (std::holds_alternative<int32_t>(values[i])) {
                builder->setType(&status, i, SQL_LONG);
                builder->setLength(&status, i, sizeof(int32_t));
                builder->setScale(&status, i, 0);
            } else if (std::holds_alternative<ISC_QUAD>(values[i])) {
                builder->setType(&status, i, SQL_BLOB);
                builder->setLength(&status, i, sizeof(ISC_QUAD));
                builder->setScale(&status, i, 0);
            }
        }
        return CRef<IMessageMetadata>(builder->getMetadata(&status));
    }

    // The input message in the layout of `metadata`: the set values, NULL for the others.
    std::vector<unsigned char> BuildMessage(CStatus& status, IMessageMetadata* metadata) const {
        std::vector<unsigned char> message(metadata->getMessageLength(&status));
        for (unsigned i = 0; i < values.size(); ++i) {
            unsigned char* data = &message[metadata->getOffset(&status, i)];
            int16_t isNull = -1;
            if (const auto* integer = std::get_if<int32_t>(&values[i])) {
                std::memcpy(data, integer, sizeof *integer);
                isNull = 0;
            } else if (const auto* blobId = std::get_if<ISC_QUAD>(&values[i])) {
                std::memcpy(data, blobId, sizeof *blobId);
                isNull = 0;
            }
            std::memcpy(&message[metadata->getNullOffset(&status, i)], &isNull, sizeof isNull);
        }
        return message;
    }

    // Runs a query to its end, as the interactive tool runs it, so that what its rows compute
    // (GEN_ID, selectable procedures) happens; the rows themselves are dropped.
    void FetchToEnd(CStatus& status, ITransaction* transaction, IMessageMetadata* metadata,
                    unsigned char* message) {
        CRef<IMessageMetadata> output(statement->getOutputMetadata(&status));
        std::vector<unsigned char> row(output->getMessageLength(&status));
        CRef<IResultSet> cursor(
            statement->openCursor(&status, transaction, metadata, message, output.Get(), 0));
        while (cursor->fetchNext(&status, row.data()) == IStatus::RESULT_OK) {
        }
        cursor->close(&status);  // releases the interface on success
        cursor.Release();
    }
};

CSqlStatement::CSqlStatement(CDatabase& database)
    : m_impl(std::make_unique<Impl>()), m_database(database) {}

CSqlStatement::~CSqlStatement() = default;

void CSqlStatement::SetParamCheck(bool on) {
    if (on == m_paramCheck) {
        return;
    }
    m_paramCheck = on;
    m_impl->Forget();
}

void CSqlStatement::SetText(std::string text) {
    m_impl->Forget();
    m_text = std::move(text);
    EndLinesWithCrLf(m_text);
}

void CSqlStatement::Prepare() {
    CTransaction& transaction = m_database.DefaultTransaction();
    transaction.RequireActive();
    Impl& impl = *m_impl;
    impl.Scan(*this);
    if (impl.statement) {
        return;
    }
    Guard([&] {
        CStatus status;
        impl.statement.Reset(m_database.Attachment().Handle()->prepare(
            &status, transaction.Handle(), static_cast<unsigned>(impl.ServerText(*this).size()),
            impl.ServerText(*this).c_str(), kSqlDialect, IStatement::PREPARE_PREFETCH_METADATA));
        impl.inputMetadata.Reset(impl.statement->getInputMetadata(&status));
        impl.flags = impl.statement->getFlags(&status);
        impl.values.assign(impl.inputMetadata->getCount(&status), std::monostate{});
    });
}

void CSqlStatement::SetInteger(const std::string& name, int32_t value) {
    Prepare();
    for (const unsigned i : m_impl->Positions(name)) {
        m_impl->values[i] = value;
    }
}

void CSqlStatement::SetBlobFromFile(const std::string& name, const std::string& path,
                                    const std::function<void()>& onProgress) {
    Prepare();
    const std::vector<unsigned> positions = m_impl->Positions(name);
    const ISC_QUAD id = WriteBlobFromFile(m_database.DefaultTransaction(), path, onProgress);
    for (const unsigned i : positions) {
        m_impl->values[i] = id;
    }
}

void CSqlStatement::Execute() {
    CTransaction& transaction = m_database.DefaultTransaction();
    transaction.RequireActive();
    Impl& impl = *m_impl;
    impl.Scan(*this);

    // Without parameters one call does it all; scripts run thousands of such statements.
    if (!impl.statement && impl.names.empty() && ExecuteUnprepared(transaction)) {
        return;
    }

    Prepare();
    Guard([&] {
        CStatus status;
        CRef<IMessageMetadata> metadata = impl.DescribeValues(status);
        std::vector<unsigned char> message = impl.BuildMessage(status, metadata.Get());
        if (impl.HasCursor()) {
            impl.FetchToEnd(status, transaction.Handle(), metadata.Get(), message.data());
            return;
        }
        transaction.AdoptAfterExecute(impl.statement->execute(
            &status, transaction.Handle(), metadata.Get(), message.data(), nullptr, nullptr));
    });
}

// Executes the text in one call, without preparing it. Returns false for a query, which must run
// through a cursor instead; the statement is then prepared.
bool CSqlStatement::ExecuteUnprepared(CTransaction& transaction) {
    const Impl& impl = *m_impl;
    try {
        Guard([&] {
            CStatus status;
            transaction.AdoptAfterExecute(m_database.Attachment().Handle()->execute(
                &status, transaction.Handle(), static_cast<unsigned>(impl.ServerText(*this).size()),
                impl.ServerText(*this).c_str(), kSqlDialect, nullptr, nullptr, nullptr, nullptr));
        });
        return true;
    } catch (const CDbError& error) {
        // A query (SELECT, a selectable procedure, EXECUTE BLOCK with SUSPEND) is refused here
        // for want of a place for its rows, before anything ran. Any other statement keeps its
        // error, and so does a query with "?" markers that scanning did not make parameters.
        if (!error.Has(isc_dsql_sqlda_err)) {
            throw;
        }
        Prepare();
        if (!impl.HasCursor() || !impl.values.empty()) {
            throw;
        }
        return false;
    }
}
