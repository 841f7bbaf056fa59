#pragma once
// The fixture of the wrapper's tests: a fresh embedded database with table t, attached.

#include <gtest/gtest.h>

#include <string>

#include "db/Database.h"
#include "db/Statement.h"
#include "tests/support/TestSupport.h"

class ScratchDatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateDatabase(m_path, {"create table t (id integer, n numeric(10,2), big bigint, "
                                "s varchar(20), b blob sub_type 0)"});
        m_database.Attachment().Attach(m_path, "SYSDBA", "masterkey");
    }

    CTransaction& Transaction() { return m_database.DefaultTransaction(); }

    // Runs one statement without parameters in its own committed transaction.
    void Run(const std::string& sql) {
        CSqlStatement statement(m_database);
        statement.SetParamCheck(false);
        statement.SetText(sql);
        RunInOwnTransaction(Transaction(), [&] { statement.Execute(); });
    }

    CTempDir m_dir;
    std::string m_path = m_dir.File("test.fdb");
    CDatabase m_database;
};
