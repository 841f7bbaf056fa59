// The run record's own rules: when a journal line is final, and which runs a cut keeps.

#include <gtest/gtest.h>

#include "app/RunRecord.h"
#include "platform/Text.h"
#include "tests/app/Suite.h"

TEST(RunRecord, JournalLinesGoOutWhenFinalAndNothingBeforeTheRunStarts) {
    CTempDir dir;
    const std::string path = dir.File("record.log");
    CRunRecord record;
    record.AppendLine("before the start");  // the lock was not taken: not this run's record
    record.Note("[message] neither");
    EXPECT_FALSE(record.IsStarted());
    EXPECT_EQ(ReadFile(path), "");

    record.Begin(path, "console", "/suite/updater");
    record.AppendLine("Наявність архиватора RAR...");
    record.MarkLastLine("[OK]");
    EXPECT_EQ(SplitLines(ReadFile(path)).size(), 1u);  // a mark may still come
    record.AppendLine("Розпаковка пакету...");
    record.MarkLastLine("[OK]");
    record.Flush();
    record.MarkLastLine("late");  // no line is open: nothing to extend
    record.Note("[message] I/O error\r\n-No such file");
    const std::vector<std::string> lines = SplitLines(ReadFile(path));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].substr(23), " console /suite/updater");
    EXPECT_EQ(lines[1].substr(20), "Наявність архиватора RAR...[OK]");
    EXPECT_EQ(lines[2].substr(20), "Розпаковка пакету...[OK]");
    EXPECT_EQ(lines[3].substr(20), "[message] I/O error -No such file");
}

TEST(RunRecord, CutKeepsTheNewestWholeRunsThatFit) {
    const std::string a = "=== 1 window a\nline a\n";
    const std::string b = "=== 2 console b\nline b\n";
    const std::string c = "=== 3 console c\nline c, longer\n";
    EXPECT_EQ(NewestRuns(a + b + c, 1000), a + b + c);
    EXPECT_EQ(NewestRuns(a + b + c, (b + c).size()), b + c);
    EXPECT_EQ(NewestRuns(a + b + c, (b + c).size() - 1), c);
    // The newest run alone is too big: its last whole lines that fit are kept.
    EXPECT_EQ(NewestRuns(a + b + c, c.size() - 1), "line c, longer\n");
    EXPECT_EQ(NewestRuns(a + b + c, 3), "");
    // Lines before the first header belong to no run and go first.
    EXPECT_EQ(NewestRuns("stray line\n" + a + b, 1000), a + b);
    // "=== " inside a line is no header.
    const std::string inner = "=== 4 window d\nx === y\n";
    EXPECT_EQ(NewestRuns(a + inner, inner.size()), inner);
    EXPECT_EQ(NewestRuns("", 10), "");
}
