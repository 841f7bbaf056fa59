// database_dump: the whole content of a database as sorted text, so that two databases that
// took the same update can be compared with diff. For every user table its columns and its rows
// (each row one line, the lines sorted, so the physical order does not count), blobs by length
// and SHA-256; then the procedures and triggers with their source, and the generators with
// their values.
//
//   database_dump <connection string> [user password]

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "db/Database.h"
#include "db/FetchRows.h"
#include "platform/Sha256.h"

namespace {

// Control characters and the separator escaped, so a value stays on its line.
std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || c == '\\' || c == '|') {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

std::string Shown(const CDbValue& value) {
    switch (value.kind) {
        case CDbValue::Kind::Null:
            return "<null>";
        case CDbValue::Kind::Integer:
            return value.scale == 0
                       ? std::to_string(value.integer)
                       : std::to_string(value.integer) + "e" + std::to_string(value.scale);
        case CDbValue::Kind::Real: {
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", value.real);
            return text;
        }
        case CDbValue::Kind::Text:
            return "'" + Escaped(value.text) + "'";
        case CDbValue::Kind::Blob:
            return "<blob " + std::to_string(value.text.size()) + " " + Sha256Hex(value.text) + ">";
    }
    return {};
}

std::string Trimmed(const std::string& text) {
    const size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

// The first column of every row, blanks at the end removed (system tables pad CHAR names).
std::vector<std::string> Names(CTransaction& transaction, const std::string& sql) {
    std::vector<std::string> names;
    for (const CDbRow& row : FetchRows(transaction, sql)) {
        names.push_back(Trimmed(row.at(0).value.text));
    }
    return names;
}

void PrintRows(CTransaction& transaction, const std::string& sql) {
    std::vector<std::string> lines;
    for (const CDbRow& row : FetchRows(transaction, sql)) {
        std::string line;
        for (const CDbColumn& column : row) {
            line += (line.empty() ? "" : " | ") + Shown(column.value);
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines) {
        std::cout << line << "\n";
    }
}

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::cerr << "usage: database_dump <connection string> [user password]\n";
        return 2;
    }
    try {
        CDatabase database;
        database.Attachment().Attach(argv[1], argc == 4 ? argv[2] : "SYSDBA",
                                     argc == 4 ? argv[3] : "pinewheat");
        CTransaction& transaction = database.DefaultTransaction();
        transaction.Start();

        const std::vector<std::string> tables =
            Names(transaction,
                  "select RDB$RELATION_NAME from RDB$RELATIONS where coalesce(RDB$SYSTEM_FLAG, 0) "
                  "= 0 and RDB$VIEW_BLR is null order by 1");
        for (const std::string& table : tables) {
            const std::vector<std::string> columns =
                Names(transaction,
                      "select RDB$FIELD_NAME from RDB$RELATION_FIELDS where RDB$RELATION_NAME = '" +
                          table + "' order by RDB$FIELD_POSITION");
            std::string list;
            for (const std::string& column : columns) {
                list += (list.empty() ? "" : ", ") + Quoted(column);
            }
            std::cout << "== table " << table << " (" << list << ")\n";
            PrintRows(transaction, "select " + list + " from " + Quoted(table));
        }
        std::cout << "== procedures\n";
        PrintRows(transaction,
                  "select RDB$PROCEDURE_NAME, RDB$PROCEDURE_SOURCE from RDB$PROCEDURES where "
                  "coalesce(RDB$SYSTEM_FLAG, 0) = 0");
        std::cout << "== triggers\n";
        PrintRows(transaction,
                  "select RDB$TRIGGER_NAME, RDB$RELATION_NAME, RDB$TRIGGER_TYPE, "
                  "RDB$TRIGGER_SOURCE from RDB$TRIGGERS where coalesce(RDB$SYSTEM_FLAG, 0) = 0");
        std::cout << "== generators\n";
        for (const std::string& generator :
             Names(transaction,
                   "select RDB$GENERATOR_NAME from RDB$GENERATORS where "
                   "coalesce(RDB$SYSTEM_FLAG, 0) = 0 order by 1")) {
            std::cout << generator << " ";
            PrintRows(transaction, "select gen_id(" + Quoted(generator) + ", 0) from RDB$DATABASE");
        }
        transaction.Commit();
    } catch (const std::exception& error) {
        std::cerr << "database_dump: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
