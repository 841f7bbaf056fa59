// The transaction against real embedded databases: its states, and the transaction that a
// script's own COMMIT or ROLLBACK ends.

#include <gtest/gtest.h>

#include "db/DbError.h"
#include "tests/db/ScratchDatabase.h"

namespace {

class TransactionTest : public ScratchDatabaseTest {};

TEST_F(TransactionTest, ScriptCommitAndRollbackEndTheTransaction) {
    CSqlStatement statement(m_database);
    statement.SetParamCheck(false);
    auto execute = [&](const std::string& sql) {
        statement.SetText(sql);
        statement.Execute();
    };

    Transaction().Start();
    execute("insert into t (id) values (1)");
    execute("COMMIT;");
    EXPECT_FALSE(Transaction().IsActive());

    Transaction().Start();
    execute("insert into t (id) values (2)");
    execute("ROLLBACK");
    EXPECT_FALSE(Transaction().IsActive());

    // The session goes on normally, also with a prepared statement that commits.
    Transaction().Start();
    execute("insert into t (id) values (3)");
    Transaction().Commit();

    CSqlStatement prepared(m_database);
    prepared.SetText("insert into t (id) values (:id)");
    Transaction().Start();
    prepared.SetInteger("id", 4);
    prepared.Execute();
    CSqlStatement commit(m_database);
    commit.SetText("commit");
    commit.Prepare();
    commit.Execute();
    EXPECT_FALSE(Transaction().IsActive());

    EXPECT_EQ(QueryColumn(m_path, "select id from t order by id"),
              (std::vector<std::string>{"1", "3", "4"}));
}

TEST_F(TransactionTest, ExecuteNeedsAnActiveTransaction) {
    CSqlStatement statement(m_database);
    statement.SetText("insert into t (id) values (1)");
    EXPECT_THROW(statement.Execute(), CDbError);
    EXPECT_THROW(statement.Prepare(), CDbError);

    EXPECT_THROW(Transaction().Commit(), CDbError);
    EXPECT_NO_THROW(Transaction().Rollback());
}

TEST_F(TransactionTest, FailedStatementLeavesTransactionToRollBack) {
    CSqlStatement statement(m_database);
    statement.SetParamCheck(false);
    Transaction().Start();
    statement.SetText("insert into t (id) values (1)");
    statement.Execute();
    statement.SetText("insert into nowhere values (1)");
    try {
        statement.Execute();
        FAIL() << "no error for an unknown table";
    } catch (const CDbError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Dynamic SQL Error\n-SQL error code = -204\n-Table unknown\n-NOWHERE\n"
                  "-At line 1, column 13");
    }
    EXPECT_TRUE(Transaction().IsActive());
    Transaction().Rollback();
    EXPECT_FALSE(Transaction().IsActive());

    statement.SetText("");
    Transaction().Start();
    EXPECT_THROW(statement.Execute(), CDbError);  // an empty statement is the server's error
    Transaction().Rollback();

    EXPECT_TRUE(QueryColumn(m_path, "select id from t").empty());
}

TEST_F(TransactionTest, DestroyedTransactionRollsBack) {
    {
        CDatabase database;
        database.Attachment().Attach(m_path, "SYSDBA", "masterkey");
        database.DefaultTransaction().Start();
        CSqlStatement statement(database);
        statement.SetText("insert into t (id) values (1)");
        statement.Execute();
    }
    EXPECT_TRUE(QueryColumn(m_path, "select id from t").empty());
}

}  // namespace
