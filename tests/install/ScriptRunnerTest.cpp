#include "install/ScriptRunner.h"

#include <gtest/gtest.h>

#include <memory>

#include "db/DbError.h"
#include "db/Uglobdb.h"
#include "install/UpdateLog.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "tests/install/RecordingOwner.h"
#include "tests/support/MemoryGrowth.h"
#include "tests/support/TestSupport.h"

using namespace std::string_literals;

namespace {

const std::string kSep(kLogSeparator);
const std::string kEmptyStatementError =
    "Dynamic SQL Error\n-SQL error code = -104\n-Unexpected end of command - line 1, column 1";

// The lines, each followed by CR LF, as the packages write them.
std::string Crlf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

// One log entry of a failed statement: its text, then the framed message.
std::string Entry(const std::string& statementText, const std::string& message) {
    return statementText + kSep + "\r\n" + message + "\r\n" + kSep + "\r\n\r\n";
}

std::string UnknownTable(const std::string& name, int column) {
    return "Dynamic SQL Error\n-SQL error code = -204\n-Table unknown\n-" + name +
           "\n-At line 1, column " + std::to_string(column);
}

// A time label that also notes where the overall bar stood each time the estimate was shown.
class CEstimateLabel : public CRecordingLabel {
  public:
    explicit CEstimateLabel(const IProgressBar& bar) : m_bar(bar) {}
    void SetCaption(const std::string& caption) override {
        positions.push_back(m_bar.Position());
        CRecordingLabel::SetCaption(caption);
    }
    std::vector<int> positions;

  private:
    const IProgressBar& m_bar;
};

class ScriptRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_db = m_dir.File("test.fdb");
        m_script = m_dir.File("up.01.lsql");
        CreateDatabase(m_db, {
                                 "CREATE TABLE ITEMS (ID INTEGER NOT NULL, NAME VARCHAR(40) "
                                 "CHARACTER SET WIN1251, QTY INTEGER, "
                                 "CONSTRAINT PK_ITEMS PRIMARY KEY (ID))",
                                 "CREATE TABLE ITEM_LOG (ITEM_ID INTEGER)",
                                 "CREATE GENERATOR G",
                             });
        ExecuteStatements(m_db, HeldRowTable());
        m_session = std::make_unique<CGlobDB>(m_dir.Path());
        m_session->Connect("", m_db, "", "");
        SetGlobDB(m_session.get());
        StartPhase(&m_overall, 1000);
    }

    void TearDown() override {
        SetGlobDB(nullptr);
        m_session.reset();
    }

    void Run(const std::string& scriptBytes) {
        WriteFile(m_script, scriptBytes);
        RunScript(m_session->GetDatabase(), m_owner, m_script,
                  {&m_overall, &m_scriptBar, nullptr, &m_timeLabel}, TimeOfDay());
    }

    // Rows written through a second attachment; the session's transaction, open since the
    // connect, is ended so that the script sees them.
    void Seed(const std::vector<std::string>& statements) {
        ExecuteStatements(m_db, statements);
        m_session->GetDatabase().DefaultTransaction().Commit();
    }

    std::string LogPath() const { return m_script + ".log"; }
    std::string Log() const { return ReadFile(LogPath()); }
    std::vector<std::string> Query(const std::string& sql) const { return QueryColumn(m_db, sql); }
    std::vector<std::string> Ids() const { return Query("SELECT ID FROM ITEMS ORDER BY ID"); }

    CTempDir m_dir;
    std::string m_db;
    std::string m_script;
    std::unique_ptr<CGlobDB> m_session;
    CRecordingOwner m_owner;
    CRecordingBar m_overall;
    CRecordingBar m_scriptBar;
    CEstimateLabel m_timeLabel{m_overall};
};

using Rows = std::vector<std::string>;

TEST_F(ScriptRunnerTest, WorkedExampleOfNineLines) {
    StartPhase(&m_overall, 9);
    Run(Crlf({"SET SQL DIALECT 3;", "CREATE TABLE T (A INTEGER);", "SET TERM ^ ;",
              "CREATE PROCEDURE P AS", "BEGIN", "  EXIT;", "END^", "SET TERM ; ^",
              "INSERT INTO T VALUES (1);"}));

    EXPECT_FALSE(FileExists(LogPath()));
    EXPECT_EQ(Query("SELECT A FROM T"), Rows{"1"});
    // The procedure text reaches the server as lines each ended by CR LF.
    EXPECT_EQ(Query("SELECT RDB$PROCEDURE_SOURCE FROM RDB$PROCEDURES "
                    "WHERE RDB$PROCEDURE_NAME = 'P'"),
              Rows{"BEGIN\r\nEXIT;\r\nEND"});
    EXPECT_EQ(m_owner.CurrentLogPath(), LogPath());

    // Every line counts one step of both bars; they end exact, with the estimate shown last.
    EXPECT_EQ(m_scriptBar.maximums, std::vector<int>{9});
    EXPECT_EQ(m_scriptBar.Position(), 9);
    EXPECT_EQ(m_overall.Position(), 9);
    ASSERT_FALSE(m_timeLabel.positions.empty());
    EXPECT_EQ(m_timeLabel.positions.back(), 9);
    EXPECT_TRUE(m_owner.journal.empty());
}

TEST_F(ScriptRunnerTest, LoneTerminatorLinesEndStatementsAndAnEmptyOneFails) {
    Run(Crlf(
        {"INSERT INTO ITEMS (ID)", "VALUES (1)", ";", ";", "INSERT INTO ITEMS (ID) VALUES (2);"}));

    EXPECT_EQ(Ids(), (Rows{"1", "2"}));
    EXPECT_EQ(Log(), Entry("", kEmptyStatementError));
}

TEST_F(ScriptRunnerTest, ClientCommandsAreDroppedButServerSetStatementsRun) {
    // Selectivity is computed when asked for: two rows give 1/2, and rows added later leave it.
    Seed({"INSERT INTO ITEMS (ID) VALUES (1)", "INSERT INTO ITEMS (ID) VALUES (2)",
          "SET STATISTICS INDEX PK_ITEMS", "INSERT INTO ITEMS (ID) VALUES (3)",
          "INSERT INTO ITEMS (ID) VALUES (4)"});
    const std::string selectivity =
        "SELECT CAST(RDB$STATISTICS * 100 AS INTEGER) FROM RDB$INDICES "
        "WHERE RDB$INDEX_NAME = 'PK_ITEMS'";
    ASSERT_EQ(Query(selectivity), Rows{"50"});

    // Sent to the server, the first two lines would fail and be logged.
    Run(Crlf({"SET SQL DIALECT 3;", "set autoddl on;", "SET GENERATOR G TO 5;",
              "set statistics index PK_ITEMS;"}));

    EXPECT_FALSE(FileExists(LogPath()));
    EXPECT_EQ(Query("SELECT GEN_ID(G, 0) FROM RDB$DATABASE"), Rows{"5"});
    EXPECT_EQ(Query(selectivity), Rows{"25"});  // recomputed for the four rows
    EXPECT_EQ(m_overall.Position(), 4);
}

TEST_F(ScriptRunnerTest, CommitAndRollbackLinesDoNotLoseStatements) {
    Run(Crlf({"INSERT INTO ITEMS (ID) VALUES (1);", "COMMIT;", "INSERT INTO ITEMS (ID) VALUES (2);",
              "ROLLBACK;", "INSERT INTO ITEMS (ID) VALUES (3);", "COMMIT WORK;",
              "INSERT INTO ITEMS (ID) VALUES (4);"}));

    EXPECT_FALSE(FileExists(LogPath()));
    EXPECT_EQ(Ids(), (Rows{"1", "2", "3", "4"}));
}

TEST_F(ScriptRunnerTest, FailingStatementInTheMiddleIsLoggedAndSkipped) {
    // A transaction left active by the connection takes the first statement and is committed.
    Run(Crlf({"INSERT INTO ITEMS (ID) VALUES (1);", "INSERT INTO NO_SUCH_TABLE VALUES (2);",
              "INSERT INTO ITEMS (ID) VALUES (3);"}));

    EXPECT_EQ(Ids(), (Rows{"1", "3"}));
    EXPECT_EQ(Log(),
              Entry("INSERT INTO NO_SUCH_TABLE VALUES (2)\r\n", UnknownTable("NO_SUCH_TABLE", 13)));
    EXPECT_FALSE(m_session->GetDatabase().DefaultTransaction().IsActive());
}

TEST_F(ScriptRunnerTest, TwoFailuresGiveTwoEntries) {
    Run(Crlf({"INSERT INTO ITEMS (ID) VALUES (1);", "INSERT INTO ITEMS (ID) VALUES (1);",
              "INSERT INTO ITEMS (ID) VALUES (2);", "DELETE FROM GONE;"}));

    EXPECT_EQ(Ids(), (Rows{"1", "2"}));
    EXPECT_EQ(Log(), Entry("INSERT INTO ITEMS (ID) VALUES (1)\r\n",
                           "violation of PRIMARY or UNIQUE KEY constraint \"PK_ITEMS\" on table "
                           "\"ITEMS\"\n-Problematic key value is (\"ID\" = 1)") +
                         Entry("DELETE FROM GONE\r\n", UnknownTable("GONE", 13)));
}

TEST_F(ScriptRunnerTest, EmptyScriptTouchesNothing) {
    WriteFile(LogPath(), "old log");
    m_owner.SetCurrentLogPath(m_dir.File("earlier.lsql.log"));
    m_scriptBar.SetMaximum(5);
    m_scriptBar.SetPosition(3);

    Run("");
    Run("\0INSERT INTO ITEMS (ID) VALUES (1);\r\n"s);  // nothing before the NUL

    EXPECT_EQ(Log(), "old log");
    EXPECT_EQ(m_owner.CurrentLogPath(), m_dir.File("earlier.lsql.log"));
    EXPECT_EQ(m_scriptBar.Maximum(), 0);
    EXPECT_EQ(m_scriptBar.Position(), 0);
    EXPECT_EQ(m_owner.pumps, 0);
    EXPECT_EQ(Ids(), Rows{});
}

TEST_F(ScriptRunnerTest, ScriptWithoutFailuresLeavesNoLog) {
    WriteFile(LogPath(), "log of an earlier run");
    Run(Crlf({"INSERT INTO ITEMS (ID) VALUES (1);"}));

    EXPECT_FALSE(FileExists(LogPath()));
    EXPECT_EQ(m_owner.CurrentLogPath(), LogPath());
    EXPECT_EQ(Ids(), Rows{"1"});
}

TEST_F(ScriptRunnerTest, RunsWithoutBarsOrLabel) {
    WriteFile(m_script, Crlf({"SET NAMES WIN1251;", "INSERT INTO ITEMS (ID) VALUES (1);"}));
    RunScript(m_session->GetDatabase(), m_owner, m_script, {}, TimeOfDay());
    EXPECT_EQ(Ids(), Rows{"1"});
}

TEST_F(ScriptRunnerTest, PumpsAtMostEveryFiftyMillisecondsAndEndsExact) {
    // Thousands of quick lines: after each one a pump would cost more than the line itself.
    // The window is pumped about every 50 ms, the bars end exact, and a script of client
    // commands only leaves the estimate alone.
    std::vector<std::string> commands(20000, "SET SQL DIALECT 3;");
    StartPhase(&m_overall, 20000);
    const double start = MonotonicSeconds();
    Run(Crlf(commands));
    const double elapsed = MonotonicSeconds() - start;
    EXPECT_LE(m_owner.pumps, 1 + static_cast<int>(elapsed / CPumpThrottle::kInterval));
    EXPECT_EQ(m_scriptBar.Position(), 20000);
    EXPECT_EQ(m_overall.Position(), 20000);
    EXPECT_TRUE(m_timeLabel.positions.empty());

    // A statement that waits for a row: the window is pumped while it waits, not only at the
    // end. The row is let go at the second pump.
    std::vector<std::string> inserts;
    for (int id = 1; id <= 400; ++id) {
        inserts.push_back("INSERT INTO ITEMS (ID) VALUES (" + std::to_string(id) + ");");
        if (id == 200) {
            inserts.push_back(kHeldRowStatement);
        }
    }
    CHeldRow row(m_db, kHoldRow);
    int pumpsWhileHeld = 0;
    m_owner.whilePumping = [&] {
        if (++pumpsWhileHeld == 2) {
            row.Release();
        }
    };
    const auto lines = static_cast<int>(inserts.size());
    StartPhase(&m_overall, lines);
    const int pumpsBefore = m_owner.pumps;
    Run(Crlf(inserts));
    m_owner.whilePumping = nullptr;
    EXPECT_GE(m_owner.pumps - pumpsBefore, 2);
    EXPECT_EQ(Query("SELECT N FROM HELD_ROW"), Rows{"1"});  // it ran once the row was free
    EXPECT_EQ(Ids().size(), 400u);
    EXPECT_EQ(m_overall.Position(), lines);
    ASSERT_FALSE(m_timeLabel.positions.empty());
    EXPECT_EQ(m_timeLabel.positions.back(), lines);
}

TEST_F(ScriptRunnerTest, Cp1251LiteralIsStoredByteIdentical) {
    const std::string title = "\xCF\xF0\xE8\xE2\xB3\xF2 \xB2\xBF\xBA\xA5 \xDF";  // "Привіт ІїєҐ Я"
    Run(Crlf({"INSERT INTO ITEMS (ID, NAME) VALUES (1, '" + title + "');"}));

    EXPECT_FALSE(FileExists(LogPath()));
    EXPECT_EQ(Query("SELECT NAME FROM ITEMS"), Rows{title});
}

TEST_F(ScriptRunnerTest, CrOnlyAndLfOnlyLineEndsAndNulEndingTheText) {
    Run("INSERT INTO ITEMS (ID)\rVALUES (1);\rINSERT INTO ITEMS (ID)\nVALUES (2);\n"
        "INSERT INTO ITEMS (ID) VALUES (3);\0\r\nINSERT INTO ITEMS (ID) VALUES (4);\r\n"s);

    EXPECT_FALSE(FileExists(LogPath()));
    EXPECT_EQ(Ids(), (Rows{"1", "2", "3"}));
    EXPECT_EQ(m_overall.Position(), 5);
}

TEST_F(ScriptRunnerTest, ColonInTriggerBodyReachesTheServer) {
    Run(Crlf({"SET TERM ^ ;", "CREATE TRIGGER ITEMS_AI FOR ITEMS AFTER INSERT AS", "BEGIN",
              "  INSERT INTO ITEM_LOG (ITEM_ID) VALUES (:NEW.ID);", "END^", "SET TERM ; ^",
              "INSERT INTO ITEMS (ID) VALUES (7);"}));

    EXPECT_FALSE(FileExists(LogPath()));
    EXPECT_EQ(Query("SELECT ITEM_ID FROM ITEM_LOG"), Rows{"7"});
}

TEST_F(ScriptRunnerTest, StatementWithoutFinalTerminatorIsLoggedNotExecuted) {
    Run("INSERT INTO ITEMS (ID) VALUES (1);\r\nINSERT INTO ITEMS (ID)\r\n\r\nVALUES (2)\r\n\r\n");

    EXPECT_EQ(Ids(), Rows{"1"});
    EXPECT_EQ(Log(), Entry("INSERT INTO ITEMS (ID)\r\nVALUES (2)\r\n",
                           "Statement has no terminator and was not executed"));
}

TEST_F(ScriptRunnerTest, LostConnectionStopsTheScriptWithoutLoggingIt) {
    // Every later statement would fail the same way: the error goes up (the run stops, and the
    // next run takes the statement again) instead of one log entry per statement.
    // The connection goes while the second statement waits for a row that the test holds.
    CHeldRow row(m_db, kHoldRow);
    CDisconnectingOwner owner(m_db);
    std::vector<std::string> lines{"INSERT INTO ITEMS (ID) VALUES (1);", kHeldRowStatement};
    lines.insert(lines.end(),
                 {"INSERT INTO ITEMS (ID)", "VALUES (2);", "INSERT INTO ITEMS (ID) VALUES (3);"});
    WriteFile(m_script, Crlf(lines));
    try {
        RunScript(m_session->GetDatabase(), owner, m_script, {&m_overall}, TimeOfDay());
        ADD_FAILURE() << "a lost connection must end the script";
    } catch (const CDbError& error) {
        EXPECT_TRUE(IsLostDatabase(error)) << error.what();
    }

    EXPECT_EQ(Ids(), Rows{"1"});
    EXPECT_FALSE(FileExists(LogPath()));
    EXPECT_FALSE(m_session->GetDatabase().DefaultTransaction().IsActive());
}

TEST_F(ScriptRunnerTest, QueriesInAScriptRunToTheirEnd) {
    // Scripts advance generators with a SELECT; the rows are computed, nothing is logged.
    Run(Crlf({"SELECT GEN_ID(G, 7) FROM RDB$DATABASE;", "SET TERM ^ ;",
              "CREATE PROCEDURE TWO_ROWS RETURNS (X INTEGER) AS", "BEGIN",
              "  X = GEN_ID(G, 100); SUSPEND;", "  X = GEN_ID(G, 100); SUSPEND;", "END^",
              "SET TERM ; ^", "SELECT * FROM TWO_ROWS;", "INSERT INTO ITEMS (ID) VALUES (1);"}));

    EXPECT_FALSE(FileExists(LogPath())) << Log();
    EXPECT_EQ(Query("SELECT GEN_ID(G, 0) FROM RDB$DATABASE"), Rows{"207"});
    EXPECT_EQ(Ids(), Rows{"1"});
}

TEST_F(ScriptRunnerTest, ScriptOfBlankLinesStartsItsLogAndRunsNothing) {
    WriteFile(LogPath(), "log of an earlier run");
    Run("\r\n  \r\n\t\r\n");

    EXPECT_FALSE(FileExists(LogPath()));
    EXPECT_EQ(m_owner.CurrentLogPath(), LogPath());
    EXPECT_EQ(m_scriptBar.Position(), 3);
}

TEST_F(ScriptRunnerTest, VeryLongLinesAreSentWhole) {
    // One statement of about 200 KB on a single line, and one joined from 5,000 lines.
    const std::string comment = "/*" + std::string(200000, 'x') + "*/";
    std::vector<std::string> lines{"INSERT INTO ITEMS (ID, NAME) VALUES (1, 'a') " + comment + ";",
                                   "INSERT INTO ITEMS (ID, QTY) VALUES (2, 0"};
    for (int i = 0; i < 5000; ++i) {
        lines.push_back("+ 1");
    }
    lines.push_back(");");
    Run(Crlf(lines));

    EXPECT_FALSE(FileExists(LogPath())) << Log().substr(0, 500);
    EXPECT_EQ(Query("SELECT QTY FROM ITEMS ORDER BY ID"), (Rows{"<null>", "5000"}));
}

// A statement of 9 MB costs the runner one copy of its text above what the engine alone costs
// for it (the engine's own copies while it prepares, about twice the size): reading, splitting,
// the batch and the statement pass the one buffer on. Two shapes: 94,000 lines of a statement,
// and one line of 9 MB (read across many blocks, then taken over whole).
TEST_F(ScriptRunnerTest, ANineMegabyteStatementCostsOneCopyAboveTheEngine) {
    constexpr size_t kSize = 9u * 1024 * 1024;
    const std::string head = "INSERT INTO ITEMS (ID, NAME) VALUES (1, 'a')";
    const std::string oneLine = head + " /*" + std::string(kSize - head.size(), 'x') + "*/";
    struct Shape {
        const char* name;
        std::string script;  // the script's bytes
        std::string server;  // the statement as the server gets it
    };
    const Shape shapes[] = {
        {"many lines", CommentedStatement(head, kSize, "\r\n") + "\r\n;\r\n",
         CommentedStatement(head, kSize, "\r\n") + "\r\n"},
        {"one line", oneLine + ";\r\n", oneLine + "\r\n"},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        WriteFile(m_script, shape.script);
        ExecuteStatements(m_db, {"DELETE FROM ITEMS"});
        const std::optional<double> floor =
            EngineExecuteGrowth(m_session->GetDatabase(), shape.server);
        if (!floor) {
            GTEST_SKIP() << "peak memory cannot be measured here (no reset, or a sanitizer)";
        }
        ExecuteStatements(m_db, {"DELETE FROM ITEMS"});  // the engine's own run inserted it
        const std::optional<double> growth = PeakGrowth([&] {
            RunScript(m_session->GetDatabase(), m_owner, m_script, {&m_overall, &m_scriptBar},
                      TimeOfDay());
        });
        ASSERT_TRUE(growth);
        const double size = static_cast<double>(shape.server.size());
        RecordProperty(std::string(shape.name) + " engine_mb", std::to_string(*floor / 1048576));
        RecordProperty(std::string(shape.name) + " growth_mb", std::to_string(*growth / 1048576));
        EXPECT_LT(*growth - *floor, 1.25 * size)
            << "grew by " << *growth / 1048576 << " MB, the engine alone by " << *floor / 1048576
            << " MB";
        EXPECT_FALSE(FileExists(LogPath())) << Log().substr(0, 500);
        EXPECT_EQ(Ids(), Rows{"1"});
    }
}

}  // namespace
