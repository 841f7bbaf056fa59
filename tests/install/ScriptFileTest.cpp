#include "install/ScriptFile.h"

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

using namespace std::string_literals;
using Rows = std::vector<std::string>;

namespace {

// The lines the reader yields for `bytes`; also checks that the count agrees with them.
Rows Lines(const std::string& bytes) {
    CTempDir dir;
    const std::string path = dir.File("a.lsql");
    WriteFile(path, bytes);
    CScriptReader reader(path);
    Rows lines;
    std::string_view line;
    while (reader.NextLine(line)) {
        lines.emplace_back(line);
    }
    EXPECT_EQ(CountScriptLines(path), lines.size());
    return lines;
}

// The reader takes the file in blocks of this size; lines and line ends that straddle two
// blocks are where a streaming reader goes wrong.
constexpr size_t kBlock = 64 * 1024;

}  // namespace

TEST(ScriptFileTest, SplitsAtEveryKindOfLineEnd) {
    EXPECT_EQ(Lines(""), Rows{});
    EXPECT_EQ(Lines("a\r\n"), Rows{"a"});
    EXPECT_EQ(Lines("\r\n"), Rows{""});
    EXPECT_EQ(Lines("a\r\nb\rc\nd"), (Rows{"a", "b", "c", "d"}));  // last line without line end
    EXPECT_EQ(Lines("a\n\rb\r\r\n"), (Rows{"a", "", "b", ""}));    // LF CR is two line ends
    EXPECT_EQ(Lines("a\r\nb\0c\r\nd"s), (Rows{"a", "b"}));         // NUL ends the text
    EXPECT_EQ(Lines("a\r\0b"s), Rows{"a"});
    EXPECT_EQ(Lines("\0a"s), Rows{});
    // Bytes as they are: no byte-order mark handling, no charset conversion, blanks kept.
    EXPECT_EQ(Lines("\xEF\xBB\xBF \xCF\xF0\t\r\n"), Rows{"\xEF\xBB\xBF \xCF\xF0\t"});

    CTempDir dir;
    EXPECT_THROW(CScriptReader(dir.File("missing.lsql")), std::exception);
    EXPECT_THROW(CountScriptLines(dir.File("missing.lsql")), std::exception);
}

TEST(ScriptFileTest, LinesAndLineEndsAcrossBlocks) {
    // CR as the last byte of a block and its LF as the first of the next: one line end.
    const std::string first(kBlock - 1, 'a');
    EXPECT_EQ(Lines(first + "\r\nb\r\n"), (Rows{first, "b"}));
    // A lone CR at the end of a block, then a new line.
    EXPECT_EQ(Lines(first + "\rb"), (Rows{first, "b"}));
    // A line longer than two blocks, between two short ones.
    const std::string longLine(2 * kBlock + 17, 'x');
    EXPECT_EQ(Lines("s\n" + longLine + "\ne"), (Rows{"s", longLine, "e"}));
    // A NUL as the first byte of a block ends the line that runs into it.
    EXPECT_EQ(Lines(std::string(kBlock, 'c') + "\0after\n"s), Rows{std::string(kBlock, 'c')});
    // Many short lines over several blocks.
    std::string many;
    Rows expected;
    for (int i = 0; i < 30000; ++i) {
        expected.push_back("insert into T values (" + std::to_string(i) + ");");
        many += expected.back() + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
    }
    EXPECT_EQ(Lines(many), expected);
}

TEST(ScriptFileTest, OnlyALineThatSpansBlocksHasABufferToTakeOver) {
    CTempDir dir;
    const std::string path = dir.File("a.lsql");
    const std::string longLine(3 * kBlock, 'x');
    WriteFile(path, "short\r\n" + longLine + "\r\nlast");
    CScriptReader reader(path);
    std::string_view line;
    ASSERT_TRUE(reader.NextLine(line));
    EXPECT_EQ(reader.LongLine(), nullptr);
    ASSERT_TRUE(reader.NextLine(line));
    ASSERT_NE(reader.LongLine(), nullptr);
    EXPECT_EQ(reader.LongLine()->data(), line.data());
    EXPECT_EQ(*reader.LongLine(), longLine);
    // Taken over, the buffer is gone from the reader, which goes on as before.
    std::string taken = std::move(*reader.LongLine());
    reader.ReleaseLine();
    EXPECT_EQ(reader.LongLine(), nullptr);
    ASSERT_TRUE(reader.NextLine(line));
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(reader.NextLine(line));
    EXPECT_EQ(taken, longLine);
}

// The count a continued run compares the ledger's statements with: every statement the runner
// would execute, and nothing else.
TEST(ScriptFileTest, CountsTheStatementsTheRunnerExecutes) {
    const struct {
        const char* script;
        size_t statements;
    } cases[] = {
        {"", 0},
        {"INSERT INTO T VALUES (1);\r\n", 1},
        {"INSERT INTO T\r\nVALUES (1);\r\nCOMMIT;\r\n\r\n", 2},
        {"SET NAMES WIN1251;\r\nINSERT INTO T VALUES (1);\r\n", 1},  // a client command
        {"SET TERM ^ ;\r\nCREATE PROCEDURE P AS BEGIN EXIT; END^\r\nSET TERM ; ^\r\n", 1},
        {"INSERT INTO T VALUES (1);\r\nINSERT INTO T VALUES (2)", 1},  // no terminator: not run
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        CTempDir dir;
        WriteFile(dir.File("a.lsql"), c.script);
        EXPECT_EQ(CountScriptStatements(dir.File("a.lsql")), c.statements);
    }
    CTempDir dir;
    EXPECT_THROW(CountScriptStatements(dir.File("missing.lsql")), std::exception);
}
