// The transaction against real embedded databases: its states, the transaction that a script's
// own COMMIT or ROLLBACK ends, and RunInOwnTransaction.

#include <gtest/gtest.h>
#include <ibase.h>

#include <chrono>
#include <stdexcept>

#include "db/DbError.h"
#include "tests/db/ScratchDatabase.h"

namespace {

using Rows = std::vector<std::string>;

class TransactionTest : public ScratchDatabaseTest {
  protected:
    // Executes one statement in the default transaction, which must be active.
    void Execute(const std::string& sql) {
        CSqlStatement statement(m_database);
        statement.SetText(sql);
        statement.Execute();
    }
    // The ids in the database as another attachment sees them: committed rows only.
    Rows CommittedIds() const { return QueryColumn(m_path, "select id from t order by id"); }
};

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

TEST_F(TransactionTest, OwnTransactionCommitsTheWork) {
    RunInOwnTransaction(Transaction(), [&] { Execute("insert into t (id) values (1)"); });
    EXPECT_FALSE(Transaction().IsActive());
    EXPECT_EQ(CommittedIds(), Rows{"1"});

    // A transaction left active (as the session's is after connecting) takes the work, and what
    // it held already is committed with it.
    Transaction().Start();
    Execute("insert into t (id) values (2)");
    RunInOwnTransaction(Transaction(), [&] { Execute("insert into t (id) values (3)"); });
    EXPECT_FALSE(Transaction().IsActive());
    EXPECT_EQ(CommittedIds(), (Rows{"1", "2", "3"}));
}

TEST_F(TransactionTest, WorkThatEndsTheTransactionItselfIsNotCommittedAgain) {
    RunInOwnTransaction(Transaction(), [&] {
        Execute("insert into t (id) values (1)");
        Execute("commit");
    });
    RunInOwnTransaction(Transaction(), [&] {
        Execute("insert into t (id) values (2)");
        Execute("rollback");
    });
    EXPECT_FALSE(Transaction().IsActive());
    EXPECT_EQ(CommittedIds(), Rows{"1"});
}

TEST_F(TransactionTest, FailedWorkIsRolledBackAndItsErrorGoesOn) {
    try {
        RunInOwnTransaction(Transaction(), [&] {
            Execute("insert into t (id) values (1)");
            Execute("insert into nowhere values (1)");
        });
        FAIL() << "no error for an unknown table";
    } catch (const CDbError& e) {
        EXPECT_TRUE(e.Has(isc_dsql_relation_err)) << e.what();
    }
    EXPECT_FALSE(Transaction().IsActive());

    // Errors that are not the database's (a file that cannot be read) roll back as well.
    EXPECT_THROW(RunInOwnTransaction(Transaction(),
                                     [&] {
                                         Execute("insert into t (id) values (2)");
                                         throw std::runtime_error("file gone");
                                     }),
                 std::runtime_error);
    EXPECT_FALSE(Transaction().IsActive());
    EXPECT_TRUE(CommittedIds().empty());

    RunInOwnTransaction(Transaction(), [&] { Execute("insert into t (id) values (3)"); });
    EXPECT_EQ(CommittedIds(), Rows{"3"});
}

TEST_F(TransactionTest, FailedRollbackLeavesTheWorkErrorToTheCaller) {
    // A second attachment in the same state shows that the rollback fails once the connection
    // is gone; the caller must still see what the work raised.
    CDatabase witness;
    witness.Attachment().Attach(m_path, "SYSDBA", "masterkey");
    witness.DefaultTransaction().Start();
    Transaction().Start();
    try {
        RunInOwnTransaction(Transaction(), [&] {
            ExecuteStatements(m_path, {"delete from mon$attachments "
                                       "where mon$attachment_id <> current_connection"});
            throw std::runtime_error("work failed");
        });
        FAIL() << "the work's error was lost";
    } catch (const std::runtime_error& e) {  // CDbError is one as well
        EXPECT_STREQ(e.what(), "work failed");
    }
    EXPECT_FALSE(Transaction().IsActive());
    EXPECT_THROW(witness.DefaultTransaction().Rollback(), CDbError);
}

}  // namespace

TEST_F(TransactionTest, LockTimeoutBoundsTheWaitForAnotherConnectionsRow) {
    Run("insert into t (id, s) values (1, 'a')");
    // Another attachment changes the row and keeps its transaction open.
    CDatabase holder;
    holder.Attachment().Attach(m_path, "SYSDBA", "masterkey");
    holder.DefaultTransaction().Start();
    CSqlStatement hold(holder);
    hold.SetText("update t set s = 'held' where id = 1");
    hold.Execute();

    // The engine counts the timeout in whole seconds on a clock of its own: 2 s wait at least 1.
    Transaction().SetLockTimeout(2);
    const auto start = std::chrono::steady_clock::now();
    try {
        Run("update t set s = 'ours' where id = 1");
        ADD_FAILURE() << "the update went through a row locked by another transaction";
    } catch (const CDbError& e) {
        EXPECT_TRUE(e.Has(isc_update_conflict)) << e.what();
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::seconds(1));
    EXPECT_LT(waited, std::chrono::seconds(6));
    EXPECT_FALSE(Transaction().IsActive());  // rolled back, ready for the next statement

    // Once the other transaction has ended, the same statement goes through.
    holder.DefaultTransaction().Rollback();
    Run("update t set s = 'ours' where id = 1");
    EXPECT_EQ(QueryColumn(m_path, "select s from t"), Rows{"ours"});
}
