// How much memory a statement of megabytes costs the wrapper: it holds the text once, rewritten
// in place, and passes it to the engine without a copy of its own. Measured as the growth of the
// peak resident size, against what the engine alone costs for the same text.

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/db/ScratchDatabase.h"
#include "tests/support/MemoryGrowth.h"

namespace {

class StatementMemoryTest : public ScratchDatabaseTest {};

// A 9 MB statement (an insert followed by comment lines, as a script's LF-joined lines, in a
// buffer with room for the CR LF line ends): setting its text costs nothing, and executing it
// costs what the engine itself costs for that text (its parser's copy and the prepared
// statement's, about twice the size) and nothing more: a copy of the wrapper's would pass the
// bound by the text's size.
TEST_F(StatementMemoryTest, ANineMegabyteStatementIsHeldOnceAndPassedWithoutACopy) {
    constexpr size_t kSize = 9u * 1024 * 1024;
    const std::string head = "insert into t (id) values (7)";
    std::optional<double> floor;
    {
        const std::string crlf = CommentedStatement(head, kSize, "\r\n") + "\r\n";
        floor = EngineExecuteGrowth(m_database, crlf);
    }
    if (!floor) {
        GTEST_SKIP() << "peak memory cannot be measured here (no reset, or a sanitizer)";
    }
    std::string text = CommentedStatement(head, kSize, "\n");
    text.reserve(text.size() + text.size() / 50 + 64);  // a CR per line and a CR LF at the end
    const double size = static_cast<double>(text.size());

    CSqlStatement statement(m_database);
    statement.SetParamCheck(false);  // as the statement runner has it
    const std::optional<double> setting = PeakGrowth([&] { statement.SetText(std::move(text)); });
    ASSERT_TRUE(setting);
    EXPECT_LT(*setting, 1024.0 * 1024) << "the text was copied";
    ASSERT_GT(statement.Text().size(), static_cast<size_t>(size));  // CR LF line ends

    const std::optional<double> growth =
        PeakGrowth([&] { RunInOwnTransaction(Transaction(), [&] { statement.Execute(); }); });
    ASSERT_TRUE(growth);
    RecordProperty("engine_mb", std::to_string(*floor / 1048576));
    RecordProperty("growth_mb", std::to_string(*growth / 1048576));
    // The engine's floor is about twice the size; ours on top of it is nothing but noise.
    EXPECT_GT(*floor, 1.5 * size) << "the engine no longer copies the text: tighten the bounds";
    EXPECT_LT(*growth - *floor, 0.25 * size)
        << "grew by " << *growth / 1048576 << " MB, the engine alone by " << *floor / 1048576
        << " MB";
    // The engine's own run inserted the row too.
    EXPECT_EQ(QueryColumn(m_path, "select id from t"), (std::vector<std::string>{"7", "7"}));
}

}  // namespace
