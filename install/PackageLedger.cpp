#include "install/PackageLedger.h"

#include <stdexcept>
#include <vector>

#include "db/Database.h"
#include "db/DbError.h"
#include "db/FetchRows.h"
#include "db/Statement.h"

namespace {

// Names are bytes as the file system gives them, so they are kept as octets: no character set
// of the database can refuse them.
const char kCreateTable[] =
    "create table UPD$LEDGER (\n"
    "PACKAGE_NO integer not null,\n"
    "PACKAGE_SHA256 varchar(64) character set octets,\n"
    "SCRIPT varchar(1024) character set octets,\n"
    "STATEMENT_NO integer)";

// A text as an SQL string literal.
std::string Quoted(const std::string& text) {
    std::string literal = "'";
    for (const char c : text) {
        literal += c;
        if (c == '\'') {
            literal += '\'';
        }
    }
    return literal + "'";
}

}  // namespace

CPackageLedger::CPackageLedger(CDatabase& database) : m_database(database) {}

CPackageLedger::~CPackageLedger() = default;

bool CPackageLedger::TableExists() {
    std::vector<CDbRow> rows;
    RunInOwnTransaction(m_database.DefaultTransaction(), [&] {
        rows = FetchRows(m_database.DefaultTransaction(),
                         "select 1 from RDB$RELATIONS where RDB$RELATION_NAME = 'UPD$LEDGER'");
    });
    return !rows.empty();
}

std::optional<LedgerPackage> CPackageLedger::Unfinished() {
    if (!TableExists()) {
        return std::nullopt;
    }
    std::vector<CDbRow> rows;
    RunInOwnTransaction(m_database.DefaultTransaction(), [&] {
        rows =
            FetchRows(m_database.DefaultTransaction(),
                      "select PACKAGE_NO, PACKAGE_SHA256 from UPD$LEDGER where SCRIPT is null", 1);
    });
    if (rows.empty()) {
        return std::nullopt;  // a ledger emptied by Finish whose table could not be dropped
    }
    return LedgerPackage{static_cast<int32_t>(rows[0][0].value.integer), rows[0][1].value.text};
}

bool CPackageLedger::Inspect(int32_t number) {
    const std::optional<LedgerPackage> unfinished = Unfinished();
    m_continued = unfinished.has_value() && unfinished->number == number;
    m_package = m_continued ? number : 0;
    return m_continued;
}

void CPackageLedger::Begin(const LedgerPackage& package) {
    const std::optional<LedgerPackage> unfinished = Unfinished();
    if (unfinished) {
        if (unfinished->number != package.number || unfinished->sha256 != package.sha256) {
            throw std::runtime_error("Package " + std::to_string(unfinished->number) +
                                     " was not finished; package " +
                                     std::to_string(package.number) + " cannot begin");
        }
    } else {
        CTransaction& transaction = m_database.DefaultTransaction();
        CSqlStatement prepare(m_database);
        prepare.SetParamCheck(false);
        if (!TableExists()) {
            // Created and committed on its own: a table can be filled once its creation is.
            prepare.SetText(kCreateTable);
        } else {
            // Rows of a finished package whose table could not be dropped.
            prepare.SetText("delete from UPD$LEDGER");
        }
        RunInOwnTransaction(transaction, [&] { prepare.Execute(); });
        CSqlStatement insert(m_database);
        insert.SetParamCheck(false);
        insert.SetText("insert into UPD$LEDGER (PACKAGE_NO, PACKAGE_SHA256) values (" +
                       std::to_string(package.number) + ", " + Quoted(package.sha256) + ")");
        RunInOwnTransaction(transaction, [&] { insert.Execute(); });
    }
    m_package = package.number;
    m_continued = unfinished.has_value();
    m_markScript.clear();
    m_mark.reset();
    m_unfail.reset();
}

int32_t CPackageLedger::Applied(const std::string& script) {
    if (!m_continued) {
        return 0;  // a scan of every row marked so far, at the start of each script, for nothing
    }
    std::vector<CDbRow> rows;
    RunInOwnTransaction(m_database.DefaultTransaction(), [&] {
        rows =
            FetchRows(m_database.DefaultTransaction(),
                      "select max(STATEMENT_NO) from UPD$LEDGER where SCRIPT = " + Quoted(script) +
                          " and STATEMENT_NO > 0");
    });
    return rows.empty() ? 0 : static_cast<int32_t>(rows[0][0].value.integer);
}

std::set<int32_t> CPackageLedger::Failed(const std::string& script) {
    std::set<int32_t> failed;
    if (!m_continued) {
        return failed;
    }
    std::vector<CDbRow> rows;
    RunInOwnTransaction(m_database.DefaultTransaction(), [&] {
        rows = FetchRows(m_database.DefaultTransaction(),
                         "select STATEMENT_NO from UPD$LEDGER where SCRIPT = " + Quoted(script) +
                             " and STATEMENT_NO < 0");
    });
    for (const CDbRow& row : rows) {
        failed.insert(-static_cast<int32_t>(row[0].value.integer));
    }
    return failed;
}

void CPackageLedger::RunForScript(std::unique_ptr<CSqlStatement>& statement,
                                  const std::string& script, const std::string& text,
                                  int32_t ordinal) {
    if (m_markScript != script) {
        m_mark.reset();
        m_unfail.reset();
        m_markScript = script;
    }
    if (!statement) {
        statement = std::make_unique<CSqlStatement>(m_database);
        statement->SetParamCheck(true);
        statement->SetText(text);
    }
    statement->SetInteger("ordinal", ordinal);
    statement->Execute();
}

void CPackageLedger::Insert(const std::string& script, int32_t number) {
    RunForScript(m_mark, script,
                 "insert into UPD$LEDGER (PACKAGE_NO, SCRIPT, STATEMENT_NO) values (" +
                     std::to_string(m_package) + ", " + Quoted(script) + ", :ordinal)",
                 number);
}

void CPackageLedger::Mark(const std::string& script, int32_t ordinal) {
    Insert(script, ordinal);
}

void CPackageLedger::MarkRetried(const std::string& script, int32_t ordinal) {
    Insert(script, ordinal);
    RunForScript(
        m_unfail, script,
        "delete from UPD$LEDGER where SCRIPT = " + Quoted(script) + " and STATEMENT_NO = :ordinal",
        -ordinal);
}

void CPackageLedger::MarkFailed(const std::string& script, int32_t ordinal) {
    // Stored as the negative ordinal: the highest positive one still says how far the script
    // went.
    Insert(script, -ordinal);
}

std::string CPackageLedger::Finish() {
    // The prepared marks hold the table in use; it would refuse to be dropped.
    m_mark.reset();
    m_unfail.reset();
    m_markScript.clear();
    CTransaction& transaction = m_database.DefaultTransaction();
    CSqlStatement statement(m_database);
    statement.SetParamCheck(false);
    // Once its row is gone, no run takes the package for unfinished. Deleting the statements'
    // rows as well would double the time the window waits for.
    statement.SetText("delete from UPD$LEDGER where SCRIPT is null");
    RunInOwnTransaction(transaction, [&] { statement.Execute(); });
    return DropTable();
}

std::optional<CPackageLedger::Leftover> CPackageLedger::ClearLeftover() {
    if (!TableExists()) {
        return std::nullopt;
    }
    std::vector<CDbRow> rows;
    RunInOwnTransaction(m_database.DefaultTransaction(), [&] {
        rows = FetchRows(m_database.DefaultTransaction(),
                         "select count(*), max(PACKAGE_NO) from UPD$LEDGER where SCRIPT is null "
                         "union all select 0, max(PACKAGE_NO) from UPD$LEDGER");
    });
    if (rows.size() != 2 || rows[0][0].value.integer != 0) {
        return std::nullopt;  // a package row: the package is unfinished
    }
    Leftover leftover;
    if (rows[1][1].value.kind == CDbValue::Kind::Integer) {
        leftover.package = static_cast<int32_t>(rows[1][1].value.integer);
    }
    leftover.notDropped = DropTable();
    return leftover;
}

std::string CPackageLedger::DropTable() {
    CSqlStatement statement(m_database);
    statement.SetParamCheck(false);
    statement.SetText("drop table UPD$LEDGER");
    try {
        RunInOwnTransaction(m_database.DefaultTransaction(), [&] { statement.Execute(); });
    } catch (const CDbError& error) {
        // A ledger without a package row is harmless: the next run clears it, and so does the
        // next package.
        return error.what();
    }
    return {};
}
