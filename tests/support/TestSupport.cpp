#include "tests/support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <thread>

#include "db/Database.h"
#include "db/DbError.h"
#include "db/FetchRows.h"
#include "db/Statement.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "platform/SystemError.h"

namespace fs = std::filesystem;

namespace {

// Paths are UTF-8 here; on Windows a path made from a plain string would be read in the ANSI
// code page.
fs::path FsPath(const std::string& path) {
    return fs::path(std::u8string(path.begin(), path.end()));
}

// Eight random letters and digits, so that test programs running at the same time never meet.
std::string RandomName() {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
    std::string name(8, ' ');
    for (char& c : name) {
        c = kChars[pick(generator)];
    }
    return name;
}

// Embedded mode accepts any credentials; these are the administrator's of the tests' private
// servers (the session's default), so that the same helpers reach a database through them.
const char kUser[] = "SYSDBA";
const char kPassword[] = "pinewheat";

std::string ValueText(const CDbValue& value) {
    switch (value.kind) {
        case CDbValue::Kind::Null:
            return "<null>";
        case CDbValue::Kind::Integer: {
            if (value.scale >= 0) {
                return std::to_string(value.integer);
            }
            // Scaled numbers as decimal text: 1275 with scale -2 is "12.75".
            const bool negative = value.integer < 0;
            std::string digits = std::to_string(negative ? -value.integer : value.integer);
            const size_t places = static_cast<size_t>(-value.scale);
            if (digits.size() <= places) {
                digits.insert(0, places - digits.size() + 1, '0');
            }
            digits.insert(digits.size() - places, ".");
            return negative ? "-" + digits : digits;
        }
        case CDbValue::Kind::Real: {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%.15g", value.real);
            return buffer;
        }
        case CDbValue::Kind::Text:
        case CDbValue::Kind::Blob:
            return value.text;
    }
    return {};
}

// Runs each statement in a transaction of its own, committed at once.
void RunEach(CDatabase& database, const std::vector<std::string>& statements) {
    CSqlStatement statement(database);
    statement.SetParamCheck(false);
    for (const std::string& sql : statements) {
        statement.SetText(sql);
        try {
            RunInOwnTransaction(database.DefaultTransaction(), [&] { statement.Execute(); });
        } catch (const CDbError& e) {
            throw CDbError(std::string(e.what()) + "\nin statement: " + sql, e.Codes());
        }
    }
}

std::vector<CDbRow> Query(const std::string& path, const std::string& sql, size_t maxRows) {
    CDatabase database;
    database.Attachment().Attach(path, kUser, kPassword);
    CTransaction& transaction = database.DefaultTransaction();
    transaction.Start();
    std::vector<CDbRow> rows = FetchRows(transaction, sql, maxRows);
    transaction.Commit();
    return rows;
}

}  // namespace

CTempDir::CTempDir() {
    // Private, as mkdtemp makes it; a name that is taken (left behind by an earlier run) is
    // passed over.
    static std::atomic<int> counter{0};
    const std::string prefix = PathJoin(TempPath(), kScratchPrefix) + RandomName() + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_path = prefix + std::to_string(counter++);
        if (CreatePrivateDirectory(m_path)) {
            return;
        }
    }
    throw std::runtime_error("Cannot create a scratch directory " + m_path);
}

CTempDir::~CTempDir() {
    // Not fs::remove_all: under Wine it hangs on a link to a file, and on Windows it may follow
    // a junction. The platform's own walk deletes links themselves.
    DeleteDirectoryContents(m_path);
    std::error_code ignored;
    fs::remove(FsPath(m_path), ignored);
}

std::string CTempDir::File(const std::string& name) const {
    return PathJoin(m_path, name);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    CFile file(path, CFile::Mode::WriteTruncate);
    file.WriteAll(bytes.data(), bytes.size());
    file.Close();
}

std::string ReadFile(const std::string& path) {
    try {
        return ReadWholeFile(path);
    } catch (const CSystemError&) {
        return {};
    }
}

bool MakeDirectory(const std::string& path) {
    std::error_code error;
    return fs::create_directory(FsPath(path), error);
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

std::string Sha256OfFile(const std::string& path) {
    CFile file(path, CFile::Mode::Read);
    CSha256 sha;
    std::vector<char> buffer(1024 * 1024);
    while (const size_t got = file.Read(buffer.data(), buffer.size())) {
        sha.Update(buffer.data(), got);
    }
    return sha.FinishHex();
}

std::vector<std::string> DirectoryEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(FsPath(dir))) {
        const std::u8string name = entry.path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string BuiltProgram(const std::string& name) {
    return PathJoin(ProgramDirectory(), ProgramFileName(name));
}

void CreateDatabase(const std::string& path, const std::vector<std::string>& statements) {
    CDatabase database;
    database.Attachment().Create(path, kUser, kPassword);
    RunEach(database, statements);
}

void ExecuteStatements(const std::string& path, const std::vector<std::string>& statements) {
    CDatabase database;
    database.Attachment().Attach(path, kUser, kPassword);
    RunEach(database, statements);
}

std::vector<std::string> QueryColumn(const std::string& path, const std::string& sql) {
    std::vector<std::string> column;
    for (const CDbRow& row : Query(path, sql, SIZE_MAX)) {
        column.push_back(row.empty() ? std::string() : ValueText(row.front().value));
    }
    return column;
}

std::optional<std::string> QueryBlob(const std::string& path, const std::string& sql) {
    std::vector<CDbRow> rows = Query(path, sql, 1);
    if (rows.empty() || rows.front().empty() ||
        rows.front().front().value.kind == CDbValue::Kind::Null) {
        return std::nullopt;
    }
    return rows.front().front().value.text;
}

CHeldRow::CHeldRow(const std::string& database, const std::string& update)
    : m_database(std::make_unique<CDatabase>()) {
    m_database->Attachment().Attach(database, kUser, kPassword);
    m_database->DefaultTransaction().Start();
    CSqlStatement statement(*m_database);
    statement.SetParamCheck(false);
    statement.SetText(update);
    statement.Execute();
}

CHeldRow::~CHeldRow() {
    try {
        Release();
    } catch (const std::exception&) {
        // The connection goes with the test; a held row ends with it.
    }
}

void CHeldRow::Release() {
    if (!m_database->Attachment().IsOpen()) {
        return;
    }
    m_database->DefaultTransaction().Rollback();
    m_database->Attachment().Detach();
}

bool StatementRuns(const std::string& database, const std::string& text) {
    // Monitoring tables are a snapshot per transaction: each query starts its own.
    std::string quoted;
    for (const char c : text) {
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    }
    return QueryColumn(database,
                       "select count(*) from MON$STATEMENTS where MON$STATE = 1 and "
                       "MON$ATTACHMENT_ID <> CURRENT_CONNECTION and MON$SQL_TEXT containing '" +
                           quoted + "'") != std::vector<std::string>{"0"};
}

bool WaitForStatement(const std::string& database, const std::string& text, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!StatementRuns(database, text)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}
