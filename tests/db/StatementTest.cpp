// The statement wrapper against real embedded databases: text, parameters, queries, blobs.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string_view>
#include <utility>

#include "db/DbError.h"
#include "platform/SystemError.h"
#include "tests/db/ScratchDatabase.h"

namespace {

class StatementTest : public ScratchDatabaseTest {};

TEST(SqlStatementText, EndsEveryLineWithCrLf) {
    CDatabase database;  // the text needs no connection
    CSqlStatement statement(database);
    const std::pair<std::string, std::string> cases[] = {
        {"select 1\nfrom rdb$database", "select 1\r\nfrom rdb$database\r\n"},
        {"a\n\nb\n", "a\r\n\r\nb\r\n"},  // an inner empty line stays, a final LF adds no line
        {"\n", "\r\n"},                  // one empty line
        {"a\r\nb", "a\r\r\nb\r\n"},      // only LF ends a line; a CR is part of it
        {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        statement.SetText(text);
        EXPECT_EQ(statement.Text(), expected) << text;
    }
}

TEST(SqlStatementText, LongTextIsMovedInAndRewrittenInPlace) {
    CDatabase database;
    CSqlStatement statement(database);
    // A statement of a megabyte in 10,000 lines, with room for its CR LF line ends.
    std::string text;
    text.reserve(10000u * 101u);
    text.resize(10000u * 100u - 1u, '\n');
    for (size_t line = 0; line < 10000; ++line) {
        std::fill_n(text.begin() + static_cast<std::ptrdiff_t>(line * 100), 99,
                    static_cast<char>('a' + line % 26));
    }
    const char* const buffer = text.data();

    statement.SetText(std::move(text));
    // The same buffer: no second copy of the text was made.
    EXPECT_EQ(statement.Text().data(), buffer);
    ASSERT_EQ(statement.Text().size(), 10000u * 101u);
    for (size_t line = 0; line < 10000; ++line) {
        const std::string_view got(statement.Text().data() + line * 101, 101);
        ASSERT_EQ(got, std::string(99, static_cast<char>('a' + line % 26)) + "\r\n") << line;
    }
}

TEST_F(StatementTest, ProcedureCreatedByStatementKeepsCrLfSource) {
    Run("create procedure p returns (r integer) as\nbegin\n  r = 1;\n  suspend;\nend");

    EXPECT_EQ(QueryColumn(m_path,
                          "select rdb$procedure_source from rdb$procedures "
                          "where rdb$procedure_name = 'P'"),
              (std::vector<std::string>{"begin\r\n  r = 1;\r\n  suspend;\r\nend"}));
}

TEST_F(StatementTest, ColonsInQuotedTextAndCommentsAreNoParameters) {
    CSqlStatement statement(m_database);  // parameter scanning is on by default
    statement.SetText("insert into t (id, s) /* :c1 */ values (1, 'a:b''c:d') -- :c2\n");
    Transaction().Start();
    statement.Execute();
    Transaction().Commit();

    statement.SetText("insert into t (\"ID\", s) values (2, ':x')");
    Transaction().Start();
    statement.Execute();
    Transaction().Commit();

    EXPECT_EQ(QueryColumn(m_path, "select s from t order by id"),
              (std::vector<std::string>{"a:b'c:d", ":x"}));
}

TEST_F(StatementTest, ColonReachesServerUnchangedWithScanningOff) {
    Run("create trigger tr for t before insert as\nbegin\n  new.s = 'id ' || new.id;\n"
        "  if (:new.id = 7) then new.big = 70;\nend");
    Run("insert into t (id) values (7)");

    EXPECT_EQ(QueryColumn(m_path, "select s || '/' || big from t"),
              (std::vector<std::string>{"id 7/70"}));
}

TEST_F(StatementTest, IntegerParametersAreSetByNameAndConverted) {
    CSqlStatement statement(m_database);
    statement.SetText("insert into t (id, n, big, s) values (:ID, :Value, :value, :id)");
    Transaction().Start();
    statement.SetInteger("id", -3);     // names ignore ASCII case ...
    statement.SetInteger("VALUE", 12);  // ... and every occurrence is set
    statement.Execute();
    Transaction().Commit();

    EXPECT_EQ(QueryColumn(m_path, "select id || '|' || n || '|' || big || '|' || s from t"),
              (std::vector<std::string>{"-3|12.00|12|-3"}));
}

TEST_F(StatementTest, UnsetParameterIsNull) {
    CSqlStatement statement(m_database);
    statement.SetText("insert into t (id, s) values (:id, :s)");
    Transaction().Start();
    statement.SetInteger("id", 1);
    statement.Execute();
    Transaction().Commit();

    EXPECT_EQ(QueryColumn(m_path, "select s from t"), (std::vector<std::string>{"<null>"}));
}

TEST_F(StatementTest, UnknownParameterNameIsAnError) {
    CSqlStatement statement(m_database);
    statement.SetText("update t set id = :id");
    Transaction().Start();
    try {
        statement.SetInteger("ident", 1);
        FAIL() << "no error for an unknown parameter";
    } catch (const CDbError& e) {
        EXPECT_NE(std::string(e.what()).find("ident"), std::string::npos) << e.what();
    }
    EXPECT_THROW(statement.SetBlobFromFile("nope", m_path), CDbError);
    EXPECT_TRUE(Transaction().IsActive());
}

TEST_F(StatementTest, QueriesRunThroughACursorToTheirEnd) {
    Run("create sequence g");
    Run("create procedure two_rows returns (x integer) as\nbegin\n"
        "  x = gen_id(g, 10); suspend;\n  x = gen_id(g, 10); suspend;\nend");
    auto generator = [&] { return QueryColumn(m_path, "select gen_id(g, 0) from rdb$database"); };

    // What the rows compute happens, for every row, and nothing is reported.
    Run("select gen_id(g, 1) from rdb$database");
    EXPECT_EQ(generator(), std::vector<std::string>{"1"});
    Run("select * from two_rows");
    EXPECT_EQ(generator(), std::vector<std::string>{"21"});
    Run("execute block returns (y integer) as begin y = gen_id(g, 100); suspend; end");
    EXPECT_EQ(generator(), std::vector<std::string>{"121"});

    CSqlStatement prepared(m_database);
    prepared.SetText("select gen_id(g, cast(:n as integer)) from rdb$database");
    Transaction().Start();
    prepared.SetInteger("n", 1000);
    prepared.Execute();
    Transaction().Commit();
    EXPECT_EQ(generator(), std::vector<std::string>{"1121"});

    // A marker that scanning did not turn into a parameter gets no silent NULL.
    EXPECT_THROW(Run("select gen_id(g, 1) from rdb$database where ? is null"), CDbError);
    EXPECT_THROW(Run("insert into t (id) values (?)"), CDbError);
    EXPECT_EQ(generator(), std::vector<std::string>{"1121"});
    EXPECT_TRUE(QueryColumn(m_path, "select id from t").empty());
}

TEST_F(StatementTest, BlobFromFileIsStoredByteForByte) {
    std::string bytes(1'000'003, '\0');  // not a multiple of the segment size
    std::mt19937 random(42);
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    WriteFile(m_dir.File("big.bin"), bytes);
    WriteFile(m_dir.File("empty.bin"), "");

    CSqlStatement statement(m_database);
    statement.SetText("insert into t (id, b) values (:id, :b)");
    Transaction().Start();
    statement.SetInteger("id", 1);
    statement.SetBlobFromFile("b", m_dir.File("big.bin"));
    statement.Execute();
    Transaction().Commit();

    Transaction().Start();
    statement.SetInteger("id", 2);
    statement.SetBlobFromFile("B", m_dir.File("empty.bin"));
    statement.Execute();
    Transaction().Commit();

    EXPECT_EQ(QueryBlob(m_path, "select b from t where id = 1"), bytes);
    EXPECT_EQ(QueryBlob(m_path, "select b from t where id = 2"), std::string());  // not NULL
    EXPECT_EQ(QueryColumn(m_path, "select octet_length(b) from t order by id"),
              (std::vector<std::string>{"1000003", "0"}));
}

TEST_F(StatementTest, BlobFromFileReportsProgressAboutEveryMegabyte) {
    // 50 full segments and one byte: progress after segments 16, 32 and 48 (1,048,560 bytes
    // each), none for the short rest.
    const std::string bytes(50 * 65535 + 1, 'p');
    WriteFile(m_dir.File("doc.bin"), bytes);
    CSqlStatement statement(m_database);
    statement.SetText("insert into t (id, b) values (:id, :b)");
    Transaction().Start();
    statement.SetInteger("id", 1);
    int calls = 0;
    statement.SetBlobFromFile("b", m_dir.File("doc.bin"), [&] { ++calls; });
    statement.Execute();
    Transaction().Commit();
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(QueryColumn(m_path, "select octet_length(b) from t"),
              std::vector<std::string>{std::to_string(bytes.size())});

    // An error thrown by the callback leaves the call as it is and binds no half-written blob.
    CSqlStatement second(m_database);
    second.SetText("insert into t (id, b) values (:id, :b)");
    Transaction().Start();
    second.SetInteger("id", 2);
    calls = 0;
    EXPECT_THROW(second.SetBlobFromFile("b", m_dir.File("doc.bin"),
                                        [&] {
                                            if (++calls == 2) {
                                                throw std::runtime_error("stop");
                                            }
                                        }),
                 std::runtime_error);
    EXPECT_EQ(calls, 2);
    second.Execute();
    Transaction().Commit();
    EXPECT_EQ(QueryColumn(m_path, "select coalesce(octet_length(b), -1) from t order by id"),
              (std::vector<std::string>{std::to_string(bytes.size()), "-1"}));
}

TEST_F(StatementTest, MissingBlobFileIsASystemError) {
    CSqlStatement statement(m_database);
    statement.SetText("update t set b = :b");
    Transaction().Start();
    try {
        statement.SetBlobFromFile("b", m_dir.File("missing.bin"));
        FAIL() << "no error for a missing file";
    } catch (const CSystemError& e) {
        EXPECT_EQ(e.Code(), ENOENT);
    }
    EXPECT_TRUE(Transaction().IsActive());
    Transaction().Rollback();
}

}  // namespace
