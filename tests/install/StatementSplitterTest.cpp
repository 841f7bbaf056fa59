// The statement splitter: lines in, statement texts out, no database; on its own, and fed by the
// script reader across its blocks.

#include "install/StatementSplitter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <utility>
#include <vector>

#include "install/ScriptFile.h"
#include "tests/support/TestSupport.h"

namespace {

using Rows = std::vector<std::string>;

// What the splitter makes of the lines, one entry per line: "<client>" for a client command,
// "<part>" for a statement line that ends nothing, otherwise the statement the line ended. A
// last entry "<tail>" + text follows when a statement was left without its terminator.
Rows Split(const Rows& lines) {
    CStatementSplitter splitter;
    Rows out;
    for (const std::string& line : lines) {
        if (splitter.Feed(line) == CStatementSplitter::LineKind::ClientCommand) {
            out.push_back("<client>");
        } else {
            out.push_back(splitter.Completed() ? splitter.Statement() : "<part>");
        }
    }
    if (!splitter.Tail().empty()) {
        out.push_back("<tail>" + std::string(splitter.Tail()));
    }
    return out;
}

TEST(StatementSplitterTest, WorkedExampleOfNineLines) {
    EXPECT_EQ(
        Split({"SET SQL DIALECT 3;", "CREATE TABLE T (A INTEGER);", "SET TERM ^ ;",
               "CREATE PROCEDURE P AS", "BEGIN", "  EXIT;", "END^", "SET TERM ; ^",
               "INSERT INTO T VALUES (1);"}),
        (Rows{"<client>", "CREATE TABLE T (A INTEGER)", "<client>", "<part>", "<part>", "<part>",
              "CREATE PROCEDURE P AS\nBEGIN\nEXIT;\nEND", "<client>", "INSERT INTO T VALUES (1)"}));
}

TEST(StatementSplitterTest, LinesAreTrimmedAndJoinedWithoutBlankLines) {
    EXPECT_EQ(Split({"  INSERT INTO ITEMS (ID, QTY)", "", "\t", "VALUES (1, 2);",
                     "INSERT INTO NO_SUCH_TABLE", "", "   (A)  ", "\x01", "VALUES (3) ;"}),
              (Rows{"<part>", "<part>", "<part>", "INSERT INTO ITEMS (ID, QTY)\nVALUES (1, 2)",
                    "<part>", "<part>", "<part>", "<part>",
                    // Only the terminator goes; the blank before it stays.
                    "INSERT INTO NO_SUCH_TABLE\n(A)\nVALUES (3) "}));
    // Bytes as they are: Windows-1251 letters and a trailing no-break space (0xA0) are no blanks.
    EXPECT_EQ(Split({"INSERT INTO T VALUES ('\xCF\xF0\xE8\xE2\xB3\xF2');\xA0"}),
              (Rows{"<part>", "<tail>INSERT INTO T VALUES ('\xCF\xF0\xE8\xE2\xB3\xF2');\xA0"}));
}

TEST(StatementSplitterTest, LoneTerminatorEndsWhatIsGatheredEvenNothing) {
    EXPECT_EQ(Split({"INSERT INTO ITEMS (ID)", "VALUES (1)", " ; ", ";", "-- a comment;"}),
              (Rows{"<part>", "<part>", "INSERT INTO ITEMS (ID)\nVALUES (1)", "",
                    // A comment is statement text; ending in the terminator, it ends one.
                    "-- a comment"}));
}

TEST(StatementSplitterTest, SetLinesAreClientCommandsOnlyBetweenStatements) {
    EXPECT_EQ(Split({"SET SQL DIALECT 3;", "set autoddl on;", "SET NAMES WIN1251;",
                     "SET GENERATOR G TO 5;", "set statistics index PK_ITEMS;", "SETTINGS;"}),
              (Rows{"<client>", "<client>", "<client>", "SET GENERATOR G TO 5",
                    "set statistics index PK_ITEMS", "SETTINGS"}));

    // Inside a statement a "SET " line is its SET clause, in a plain UPDATE and in a body.
    EXPECT_EQ(Split({"UPDATE ITEMS", "SET QTY = 1", "WHERE ID = 2;", "SET TERM ^ ;",
                     "CREATE PROCEDURE SET_QTY (N INTEGER) AS", "BEGIN", "  UPDATE ITEMS",
                     "  SET QTY = :N", "  WHERE ID = 1;", "END^"}),
              (Rows{"<part>", "<part>", "UPDATE ITEMS\nSET QTY = 1\nWHERE ID = 2", "<client>",
                    "<part>", "<part>", "<part>", "<part>", "<part>",
                    "CREATE PROCEDURE SET_QTY (N INTEGER) AS\nBEGIN\nUPDATE ITEMS\nSET QTY = "
                    ":N\nWHERE ID = 1;\nEND"}));
}

TEST(StatementSplitterTest, SetTermIsAClientCommandWhereverItStands) {
    // The comment before it stays gathered and goes to the server with the procedure; a "SET
    // TERM" in the middle of a statement switches the terminator and leaves the statement alone.
    EXPECT_EQ(Split({"/* procedures */", "SET TERM ^ ;", "CREATE PROCEDURE ADD_ONE AS", "BEGIN",
                     "  INSERT INTO ITEMS (ID) VALUES (1);", "set term !! ^", "END!"}),
              (Rows{"<part>", "<client>", "<part>", "<part>", "<part>", "<client>",
                    "/* procedures */\nCREATE PROCEDURE ADD_ONE AS\nBEGIN\n"
                    "INSERT INTO ITEMS (ID) VALUES (1);\nEND"}));
}

TEST(StatementSplitterTest, TerminatorRuleOfSetTerm) {
    // After the first "M", the first character that is neither a blank nor "M"; the last
    // character (the old terminator) is never examined.
    const std::pair<const char*, char> cases[] = {
        {"SET TERM ^ ;", '^'},
        {"SET TERM ; ^", ';'},
        {"set term !! ;", '!'},
        {"  SET TERM  #  ^  ", '#'},
        {"SET TERMM $ ;", '$'},
        {"SET AUTODDL OFF; SET TERM ^ ;", '^'},
        // Nothing qualifies: the last character examined, a blank or the "M" itself.
        {"SET TERM ^", ' '},
        {"SET TERM;", 'M'},
        // Two blanks: no "SET TERM" in it, so a client command that changes nothing.
        {"SET  TERM ^ ;", ';'}};
    for (const auto& [line, terminator] : cases) {
        CStatementSplitter splitter;
        EXPECT_EQ(splitter.Feed(line), CStatementSplitter::LineKind::ClientCommand) << line;
        EXPECT_EQ(splitter.Terminator(), terminator) << line;
    }

    // With a blank as the terminator no trimmed line can end a statement.
    EXPECT_EQ(
        Split({"SET TERM ^", "INSERT INTO ITEMS (ID) VALUES (1);",
               "INSERT INTO ITEMS (ID) VALUES (2)^"}),
        (Rows{"<client>", "<part>", "<part>",
              "<tail>INSERT INTO ITEMS (ID) VALUES (1);\nINSERT INTO ITEMS (ID) VALUES (2)^"}));
}

TEST(StatementSplitterTest, CountsStatementsAndHandsOverTheTail) {
    CStatementSplitter splitter;
    EXPECT_TRUE(splitter.Tail().empty());

    splitter.Feed("INSERT INTO ITEMS (ID) VALUES (1);");
    EXPECT_TRUE(splitter.Completed());
    EXPECT_EQ(splitter.CompletedCount(), 1u);
    EXPECT_TRUE(splitter.Tail().empty());  // the ended statement is no tail

    splitter.Feed("");
    EXPECT_FALSE(splitter.Completed());
    EXPECT_TRUE(splitter.Tail().empty());  // blank lines begin nothing

    splitter.Feed("INSERT INTO ITEMS (ID)");
    splitter.Feed("SET NAMES X");  // inside a statement: a line of it, not a client command
    EXPECT_EQ(splitter.Tail(), "INSERT INTO ITEMS (ID)\nSET NAMES X");
    splitter.Feed("VALUES (2);");
    EXPECT_EQ(splitter.Statement(), "INSERT INTO ITEMS (ID)\nSET NAMES X\nVALUES (2)");
    EXPECT_EQ(splitter.CompletedCount(), 2u);

    splitter.Feed(";");  // an empty statement counts as well
    EXPECT_EQ(splitter.Statement(), "");
    EXPECT_EQ(splitter.CompletedCount(), 3u);

    splitter.Feed("VALUES (3)");
    splitter.Feed("");
    EXPECT_FALSE(splitter.Completed());
    EXPECT_EQ(splitter.Tail(), "VALUES (3)");
    EXPECT_EQ(splitter.CompletedCount(), 3u);
}

}  // namespace

// A statement of megabytes is held once: the splitter grows its text with room for the CR LF
// line ends, so that the statement object rewrites them in place, and a statement of one long
// line takes over the reader's buffer of that line.
TEST(StatementSplitterMemory, StatementsLeaveRoomForTheirLineEndsAndTakeOverALongLine) {
    CStatementSplitter splitter;
    for (int i = 0; i < 1000; ++i) {
        splitter.Feed("insert into T values (" + std::to_string(i) + ")");
    }
    splitter.Feed(";");
    ASSERT_TRUE(splitter.Completed());
    std::string text = splitter.TakeStatement();
    const size_t lineFeeds = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    EXPECT_EQ(lineFeeds, 999u);
    EXPECT_GE(text.capacity(), text.size() + lineFeeds + 2);

    std::string longLine = "  select 1 from RDB$DATABASE /* " + std::string(1 << 20, 'p') + " */; ";
    const char* const buffer = longLine.data();
    splitter.Feed(longLine, &longLine);
    ASSERT_TRUE(splitter.Completed());
    text = splitter.TakeStatement();
    EXPECT_EQ(text.data(), buffer);  // the same buffer, not a copy
    EXPECT_EQ(text, "select 1 from RDB$DATABASE /* " + std::string(1 << 20, 'p') + " */");
    EXPECT_GE(text.capacity(), text.size() + 2);

    // A long line that continues a statement is appended as any other line.
    std::string second = std::string(1000, 'x') + ";";
    splitter.Feed("select");
    splitter.Feed(second, &second);
    ASSERT_TRUE(splitter.Completed());
    EXPECT_EQ(splitter.Statement(), "select\n" + std::string(1000, 'x'));
    EXPECT_EQ(second.size(), 1001u);  // left alone
}

// The statements of a script read from its file in blocks of `blockSize`, the way the statement
// runner reads them: a line that spans blocks is handed to the splitter with its buffer to take
// over, and released right after.
Rows StatementsRead(const std::string& path, size_t blockSize) {
    CScriptReader reader(path, blockSize);
    CStatementSplitter splitter;
    Rows statements;
    std::string_view line;
    while (reader.NextLine(line)) {
        splitter.Feed(line, reader.LongLine());
        reader.ReleaseLine();
        if (splitter.Completed()) {
            statements.push_back(splitter.TakeStatement());
        }
    }
    if (!splitter.Tail().empty()) {
        statements.push_back("<tail>" + std::string(splitter.Tail()));
    }
    return statements;
}

// Every byte of a script at every place relative to the reader's block boundary: its
// terminators, leading blanks and tabs, SET TERM lines and CR LF pairs. Each statement must come
// out as written, whatever the indentation and the line ends.
TEST(StatementSplitterAcrossBlocks, EveryOffsetOfEveryLineGivesTheSameStatements) {
    const std::string longValue(150, 'v');
    const Rows expected = {
        "insert into T values (1)",     "update T\nset A = 2\nwhere B = 3",
        "select 1 from RDB$DATABASE",   "create procedure P as\nbegin\nexit;\nend",
        "insert into T values ('a;b')", "insert into T values ('" + longValue + "')",
        "insert into T values (2)",
    };
    struct Variant {
        const char* name;
        std::string indent;
        std::string lineEnd;
    };
    const Variant variants[] = {
        {"plain", "", "\n"},         {"blank", " ", "\n"},           {"tab", "\t", "\n"},
        {"two blanks", "  ", "\n"},  {"blank and tab", " \t", "\n"}, {"plain CR LF", "", "\r\n"},
        {"tab CR LF", "\t", "\r\n"},
    };
    CTempDir dir;
    for (const Variant& variant : variants) {
        const Rows lines = {
            "insert into T values (1);",
            "",
            "update T",
            "set A = 2",
            "where B = 3;",
            "select 1 from RDB$DATABASE",
            ";",
            "SET TERM ^ ;",
            "create procedure P as",
            "begin",
            "exit;",
            "end^",
            "SET TERM ; ^",
            "insert into T values ('a;b');",
            "insert into T values ('" + longValue + "');",
            "insert into T values (2);",
        };
        std::string script;
        for (const std::string& line : lines) {
            script += (line.empty() ? "" : variant.indent) + line + variant.lineEnd;
        }
        const std::string path = dir.File(std::string(variant.name) + ".lsql");
        WriteFile(path, script);
        for (size_t blockSize = 1; blockSize <= script.size() + 1; ++blockSize) {
            ASSERT_EQ(StatementsRead(path, blockSize), expected)
                << variant.name << ", blocks of " << blockSize;
        }
    }
}

// The same at the block size the runner uses: a padding statement moves the boundary over every
// byte of a tab-indented statement and the one that follows it.
TEST(StatementSplitterAcrossBlocks, TheRunnersBlockBoundaryMergesNoStatements) {
    const std::string statements = "\tinsert into T values (1);\r\n\tinsert into T values (2);\r\n";
    CTempDir dir;
    const std::string path = dir.File("padded.lsql");
    for (size_t offset = 0; offset <= statements.size(); ++offset) {
        // "select '" + p... + "' from R;" CR LF: as long as the block less `offset`.
        const std::string padded(kScriptBlockSize - offset - 19, 'p');
        WriteFile(path, "select '" + padded + "' from R;\r\n" + statements);
        ASSERT_EQ(StatementsRead(path, kScriptBlockSize),
                  (Rows{"select '" + padded + "' from R", "insert into T values (1)",
                        "insert into T values (2)"}))
            << "the boundary " << offset << " bytes into the statements";
    }
}
