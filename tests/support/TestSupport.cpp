#include "tests/support/TestSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "db/Database.h"
#include "db/DbError.h"
#include "db/FetchRows.h"
#include "db/Statement.h"
#include "platform/FileSystem.h"
#include "platform/Sha256.h"

namespace {

// Embedded mode accepts any credentials; these are the usual administrator's.
const char kUser[] = "SYSDBA";
const char kPassword[] = "masterkey";

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
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error)
        base = "/tmp";
    std::string pattern = (base / "tessara-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    m_path = pattern;
}

CTempDir::~CTempDir() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}

std::string CTempDir::File(const std::string& name) const {
    return m_path + "/" + name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool MakeDirectory(const std::string& path) {
    std::error_code error;
    return std::filesystem::create_directory(path, error);
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
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
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

std::string BuiltProgram(const std::string& name) {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        throw std::runtime_error("cannot read /proc/self/exe: " + error.message());
    return self.parent_path().string() + "/" + name;
}
