// The run record's own rules: when a journal line is final, and which runs a cut keeps.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/RunRecord.h"
#include "platform/FileSystem.h"
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
    EXPECT_EQ(lines[0].substr(23), " console " + RunBy() + " /suite/updater");
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

// Whoever may write in the suite's directory can put anything at the record's name. The record
// is never written or read through a link, and says in the journal why it is skipped.
TEST(RunRecord, LinkFifoOrDirectoryAtItsNameIsRefusedNotFollowed) {
    CTempDir dir;
    const std::string path = dir.File("record.log");
    // A file of whoever runs the updater next, such as a shell start-up file.
    const std::string victim = dir.File("victim");
    WriteFile(victim, "private\n");
    ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
    {
        CRunRecord record;
        record.Begin(path, "window", "/suite/updater");
        EXPECT_TRUE(record.IsStarted());
        EXPECT_EQ(record.Problem(),
                  "Журнал запусків " + path + " не ведеться: на його місці посилання");
        record.AppendLine("$(touch /tmp/owned)");
        record.Note("[outcome] anything");
    }
    EXPECT_EQ(ReadFile(victim), "private\n");

    // A dangling link would be created through as well.
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(symlink(dir.File("new-file").c_str(), path.c_str()), 0);
    {
        CRunRecord record;
        record.Begin(path, "window", "/suite/updater");
        EXPECT_FALSE(record.Problem().empty());
        record.Note("[outcome] anything");
    }
    EXPECT_FALSE(FileExists(dir.File("new-file")));

    // A FIFO would hang the run (or feed a reader); a directory cannot be appended to.
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    {
        CRunRecord record;
        record.Begin(path, "console", "/suite/updater");
        EXPECT_EQ(record.Problem(),
                  "Журнал запусків " + path + " не ведеться: на його місці не звичайний файл");
    }
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_TRUE(MakeDirectory(path));
    CRunRecord record;
    record.Begin(path, "console", "/suite/updater");
    EXPECT_EQ(record.Problem(),
              "Журнал запусків " + path + " не ведеться: на його місці не звичайний файл");
}

TEST(RunRecord, OversizedLinkedRecordCopiesNothingOfItsTarget) {
    CTempDir dir;
    const std::string path = dir.File("record.log");
    const std::string secret = dir.File("secret");
    WriteFile(secret,
              "=== 2026-01-01 10:00:00 console x\n" + std::string(2 * kRunRecordLimit, 's'));
    ASSERT_EQ(symlink(secret.c_str(), path.c_str()), 0);
    CRunRecord record;
    record.Begin(path, "window", "/suite/updater", kRunRecordLimit);
    EXPECT_FALSE(record.Problem().empty());
    EXPECT_TRUE(IsSymbolicLink(path));  // not replaced by a cut copy of the secret
    EXPECT_EQ(FileSize(secret), static_cast<int64_t>(34 + 2 * kRunRecordLimit));
    EXPECT_EQ(DirectoryEntries(dir.Path()), (std::vector<std::string>{"record.log", "secret"}));
}

TEST(RunRecord, RunThatEndedWithoutItsOutcomeIsNotedByTheNext) {
    CTempDir dir;
    const std::string path = dir.File("record.log");
    const std::string finished =
        "=== 2026-01-01 10:00:00 console /s/u\n"
        "2026-01-01 10:00:01 [outcome] succeeded, exit status 0\n";
    // Killed in the middle of writing a line: no outcome, and a cut line.
    const std::string killed = "=== 2026-01-02 11:00:00 window /s/u\n2026-01-02 11:00:05 Копі";
    WriteFile(path, finished + killed);
    {
        CRunRecord record;
        record.Begin(path, "console", "/s/u");
        record.Note(std::string(kOutcomeMark) + "succeeded, exit status 0");
    }
    std::vector<std::string> lines = SplitLines(ReadFile(path));
    ASSERT_EQ(lines.size(), 7u) << ReadFile(path);
    EXPECT_EQ(lines[3], "2026-01-02 11:00:05 Копі");  // ended where it was cut
    EXPECT_EQ(lines[4].rfind("=== ", 0), 0u);
    EXPECT_EQ(lines[5].substr(20),
              "[note] the run begun \"=== 2026-01-02 11:00:00 window /s/u\" "
              "ended without an outcome: it was interrupted");

    // A run with its outcome gives no note.
    {
        CRunRecord record;
        record.Begin(path, "console", "/s/u");
    }
    lines = SplitLines(ReadFile(path));
    EXPECT_EQ(lines.back().rfind("=== ", 0), 0u);
    EXPECT_EQ(UnfinishedRunHeader(""), "");
    EXPECT_EQ(UnfinishedRunHeader("=== a\nline\n"), "=== a");
    EXPECT_EQ(UnfinishedRunHeader("=== a\nt [outcome] x\n=== b\n"), "=== b");
    // A record of CR LF line ends (written on Windows) reads the same.
    EXPECT_EQ(UnfinishedRunHeader("=== a\r\nline\r\n"), "=== a");
    EXPECT_EQ(UnfinishedRunHeader("=== a\r\nt [outcome] x\r\n"), "");
    EXPECT_EQ(NewestRuns("=== a\r\nx\r\n=== b\r\ny\r\n", 12), "=== b\r\ny\r\n");
}
