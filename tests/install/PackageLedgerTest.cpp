// The database's ledger of the package being installed, and the statement runner continuing a
// script from it: every statement takes effect once across runs, whatever stopped the first.

#include "install/PackageLedger.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>

#include "db/Database.h"
#include "db/DbError.h"
#include "db/Statement.h"
#include "db/Uglobdb.h"
#include "install/ScriptRunner.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "tests/install/RecordingOwner.h"
#include "tests/support/TestSupport.h"

namespace {

using Rows = std::vector<std::string>;

const std::string kSha(64, 'a');
const std::string kOtherSha(64, 'b');

class PackageLedgerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_db = m_dir.File("test.fdb");
        CreateDatabase(m_db, {"CREATE TABLE LOG_ROWS (N INTEGER)"});
        Connect();
    }
    void TearDown() override {
        SetGlobDB(nullptr);
        m_ledger.reset();
        m_session.reset();
    }

    // A new session and ledger, as the next run of the updater has them.
    void Connect() {
        SetGlobDB(nullptr);
        m_ledger.reset();
        m_session = std::make_unique<CGlobDB>(m_dir.Path());
        m_session->Connect("", m_db, "", "");
        SetGlobDB(m_session.get());
        m_ledger = std::make_unique<CPackageLedger>(m_session->GetDatabase());
    }

    CTransaction& Transaction() { return m_session->GetDatabase().DefaultTransaction(); }

    bool TableExists() const {
        return !QueryColumn(m_db,
                            "select 1 from RDB$RELATIONS "
                            "where RDB$RELATION_NAME = 'UPD$LEDGER'")
                    .empty();
    }

    // The highest statement of `script` marked in the committed ledger; 0 for none.
    int32_t Marked(std::string script) const {
        for (size_t quote = 0; (quote = script.find('\'', quote)) != std::string::npos;
             quote += 2) {
            script.insert(quote, 1, '\'');
        }
        return ParseInteger(QueryColumn(m_db,
                                        "select coalesce(max(STATEMENT_NO), 0) from UPD$LEDGER "
                                        "where SCRIPT = '" +
                                            script + "'")
                                .at(0));
    }

    // Runs `script` with the ledger and returns the rows of LOG_ROWS afterwards.
    Rows RunWithLedger(IOwner& owner, const std::string& script) {
        WriteFile(m_dir.File("up.01.lsql"), script);
        RunScript(m_session->GetDatabase(), owner, m_dir.File("up.01.lsql"), {}, TimeOfDay(),
                  m_ledger.get());
        return LoggedRows();
    }
    Rows LoggedRows() const { return QueryColumn(m_db, "SELECT N FROM LOG_ROWS ORDER BY N"); }

    CTempDir m_dir;
    std::string m_db;
    std::unique_ptr<CGlobDB> m_session;
    std::unique_ptr<CPackageLedger> m_ledger;
};

// Ten inserts into a table without a key, so that a statement applied twice shows as a
// doubled row, with one statement the server refuses (ordinal 4).
std::string TenInserts() {
    std::string script;
    for (int n = 1; n <= 10; ++n) {
        script += n == 4 ? "INSERT INTO NO_SUCH_TABLE VALUES (4);\r\n"
                         : "INSERT INTO LOG_ROWS VALUES (" + std::to_string(n) + ");\r\n";
    }
    return script;
}
const Rows kNineRows{"1", "2", "3", "5", "6", "7", "8", "9", "10"};

}  // namespace

TEST_F(PackageLedgerTest, FollowsAPackageFromBeginToFinish) {
    EXPECT_EQ(m_ledger->Unfinished(), std::nullopt);
    EXPECT_FALSE(TableExists());

    m_ledger->Begin({238, kSha});
    const std::optional<LedgerPackage> unfinished = m_ledger->Unfinished();
    ASSERT_TRUE(unfinished);
    EXPECT_EQ(unfinished->number, 238);
    EXPECT_EQ(unfinished->sha256, kSha);

    // Script names are the file system's bytes: quotes and Windows-1251 letters included.
    const std::string odd = "up.'1'.\xCF\xF0\xE8.lsql";
    EXPECT_EQ(m_ledger->Applied("up.01.lsql"), 0);
    for (int ordinal : {1, 2, 3}) {
        RunInOwnTransaction(Transaction(), [&] { m_ledger->Mark("up.01.lsql", ordinal); });
    }
    RunInOwnTransaction(Transaction(), [&] { m_ledger->Mark(odd, 7); });
    EXPECT_EQ(Marked("up.01.lsql"), 3);
    EXPECT_EQ(Marked(odd), 7);

    // The next run finds the package and its marks, and goes on with them.
    Connect();
    ASSERT_TRUE(m_ledger->Unfinished());
    EXPECT_THROW(m_ledger->Begin({238, kOtherSha}), std::runtime_error);
    EXPECT_THROW(m_ledger->Begin({239, kSha}), std::runtime_error);
    m_ledger->Begin({238, kSha});
    EXPECT_EQ(m_ledger->Applied("up.01.lsql"), 3);
    EXPECT_EQ(m_ledger->Applied(odd), 7);
    EXPECT_EQ(m_ledger->Applied("up.02.lsql"), 0);

    m_ledger->Finish();
    EXPECT_EQ(m_ledger->Unfinished(), std::nullopt);
    m_session.reset();  // the table is checked from a second attachment
    EXPECT_FALSE(TableExists());
}

TEST_F(PackageLedgerTest, RowsThatAFailedDropLeftAreClearedByTheNextPackage) {
    // A finished package whose table could not be dropped: its statements' rows, no package row.
    m_ledger->Begin({238, kSha});
    RunInOwnTransaction(Transaction(), [&] { m_ledger->Mark("up.01.lsql", 5); });
    ExecuteStatements(m_db, {"delete from UPD$LEDGER where SCRIPT is null"});
    Connect();
    EXPECT_EQ(m_ledger->Unfinished(), std::nullopt);

    // The next package, whose script has the same name, begins with nothing applied.
    m_ledger->Begin({239, kSha});
    EXPECT_EQ(Marked("up.01.lsql"), 0);
    Connect();
    m_ledger->Begin({239, kSha});
    EXPECT_EQ(m_ledger->Applied("up.01.lsql"), 0);
}

TEST_F(PackageLedgerTest, AMarkIsCommittedWithItsTransactionOrNotAtAll) {
    m_ledger->Begin({238, kSha});
    Transaction().Start();
    m_ledger->Mark("up.01.lsql", 1);
    Transaction().Rollback();
    EXPECT_EQ(Marked("up.01.lsql"), 0);

    Transaction().Start();
    m_ledger->Mark("up.01.lsql", 1);
    Transaction().Commit();
    EXPECT_EQ(Marked("up.01.lsql"), 1);
}

TEST_F(PackageLedgerTest, AnInterruptedScriptIsContinuedWithEveryStatementOnce) {
    // The first run loses its connection while its sixth statement waits for a row that the
    // test holds, as when the server stops: that statement is neither applied nor marked, and
    // the error ends the run, so the inserts after it never run.
    ExecuteStatements(m_db, HeldRowTable());
    std::string script = TenInserts();
    const size_t sixth = script.find("INSERT INTO LOG_ROWS VALUES (6)");
    script.insert(sixth, std::string(kHeldRowStatement) + "\r\n");
    m_ledger->Begin({238, kSha});
    {
        CHeldRow row(m_db, kHoldRow);
        CDisconnectingOwner first(m_db);
        EXPECT_THROW(RunWithLedger(first, script), CDbError);
        EXPECT_TRUE(first.disconnected);
    }
    EXPECT_EQ(LoggedRows(), (Rows{"1", "2", "3", "5"}));

    // The next run continues after the five statements the ledger has and applies each of the
    // others once.
    Connect();
    m_ledger->Begin({238, kSha});
    EXPECT_EQ(m_ledger->Applied("up.01.lsql"), 5);
    CRecordingOwner second;
    EXPECT_EQ(RunWithLedger(second, script), kNineRows);
    EXPECT_EQ(second.journal, Rows{"Продовження з інструкції 6"});
    EXPECT_EQ(QueryColumn(m_db, "SELECT N FROM HELD_ROW"), Rows{"1"});
    EXPECT_EQ(Marked("up.01.lsql"), 11);

    // A third run of the whole script applies nothing more, and says so: no statement 12 of
    // 11 is still to come, only the refused one is tried again.
    Connect();
    m_ledger->Begin({238, kSha});
    CRecordingOwner third;
    EXPECT_EQ(RunWithLedger(third, script), kNineRows);
    EXPECT_EQ(third.journal, Rows{"Усі інструкції сценарію вже виконано; повтор відхилених: 1"});
}

TEST_F(PackageLedgerTest, ARefusedStatementIsTriedAgainByAContinuedRunUntilItIsApplied) {
    m_ledger->Begin({238, kSha});
    CRecordingOwner owner;
    EXPECT_EQ(RunWithLedger(owner, TenInserts()), kNineRows);
    EXPECT_EQ(Marked("up.01.lsql"), 10);
    EXPECT_NE(ReadFile(m_dir.File("up.01.lsql.log")).find("NO_SUCH_TABLE"), std::string::npos);

    // Continued while the cause stays: refused and logged again, nothing else runs twice.
    Connect();
    m_ledger->Begin({238, kSha});
    EXPECT_EQ(m_ledger->Failed("up.01.lsql"), std::set<int32_t>{4});
    CRecordingOwner again;
    EXPECT_EQ(RunWithLedger(again, TenInserts()), kNineRows);
    EXPECT_EQ(again.journal, Rows{"Усі інструкції сценарію вже виконано; повтор відхилених: 1"});
    EXPECT_NE(ReadFile(m_dir.File("up.01.lsql.log")).find("NO_SUCH_TABLE"), std::string::npos);

    // Continued once the cause is gone: applied once, and never again after that.
    ExecuteStatements(m_db, {"CREATE TABLE NO_SUCH_TABLE (N INTEGER)"});
    for (int run = 0; run < 2; ++run) {
        Connect();
        m_ledger->Begin({238, kSha});
        CRecordingOwner retry;
        EXPECT_EQ(RunWithLedger(retry, TenInserts()), kNineRows);
        EXPECT_EQ(retry.journal, Rows{run == 0 ? "Усі інструкції сценарію вже виконано; "
                                                 "повтор відхилених: 1"
                                               : "Усі інструкції сценарію вже виконано"});
        EXPECT_EQ(QueryColumn(m_db, "SELECT N FROM NO_SUCH_TABLE"), Rows{"4"});
        EXPECT_FALSE(FileExists(m_dir.File("up.01.lsql.log")));
    }
    EXPECT_EQ(m_ledger->Failed("up.01.lsql"), std::set<int32_t>{});
    EXPECT_TRUE(owner.journal.empty());
}

TEST_F(PackageLedgerTest, AScriptsOwnCommitAndRollbackTakeTheMarkWithThem) {
    // The mark is written in the statement's transaction before the statement runs: a COMMIT
    // commits it, a ROLLBACK takes it back, and the ROLLBACK runs again next time (harmless).
    m_ledger->Begin({238, kSha});
    CRecordingOwner owner;
    EXPECT_EQ(RunWithLedger(owner,
                            "INSERT INTO LOG_ROWS VALUES (1);\r\nCOMMIT;\r\n"
                            "INSERT INTO LOG_ROWS VALUES (2);\r\nROLLBACK;\r\n"),
              (Rows{"1", "2"}));
    EXPECT_EQ(Marked("up.01.lsql"), 3);
    EXPECT_FALSE(FileExists(m_dir.File("up.01.lsql.log")));
}

TEST_F(PackageLedgerTest, LedgerInUseElsewhereIsLeftCompleteAndClearedByTheNextRun) {
    m_ledger->Begin({238, kSha});
    RunInOwnTransaction(Transaction(), [&] { m_ledger->Mark("up.01.lsql", 5); });
    {
        // Another connection has a statement on the table as the package completes.
        CDatabase other;
        other.Attachment().Attach(m_db, "SYSDBA", "masterkey");
        other.DefaultTransaction().Start();
        CSqlStatement reader(other);
        reader.SetText("select count(*) from UPD$LEDGER");
        reader.Prepare();
        const std::string notDropped = m_ledger->Finish();
        EXPECT_NE(notDropped.find("UPD$LEDGER"), std::string::npos) << notDropped;
        EXPECT_NE(notDropped.find("in use"), std::string::npos) << notDropped;
        EXPECT_EQ(m_ledger->Unfinished(), std::nullopt);  // complete all the same
        // While it is still in use, the next run says so and leaves it.
        Connect();
        const std::optional<CPackageLedger::Leftover> stillInUse = m_ledger->ClearLeftover();
        ASSERT_TRUE(stillInUse);
        EXPECT_EQ(stillInUse->package, 238);
        EXPECT_NE(stillInUse->notDropped.find("in use"), std::string::npos);
    }
    Connect();
    const std::optional<CPackageLedger::Leftover> leftover = m_ledger->ClearLeftover();
    ASSERT_TRUE(leftover);
    EXPECT_EQ(leftover->package, 238);
    EXPECT_EQ(leftover->notDropped, "");
    EXPECT_EQ(m_ledger->ClearLeftover(), std::nullopt);
    m_session.reset();
    EXPECT_FALSE(TableExists());

    // An unfinished package's ledger is no leftover.
    Connect();
    m_ledger->Begin({239, kSha});
    Connect();
    EXPECT_EQ(m_ledger->ClearLeftover(), std::nullopt);
    EXPECT_TRUE(m_ledger->Unfinished());
}
