#include "install/UpdateLog.h"

#include <gtest/gtest.h>

#include "tests/install/RecordingOwner.h"
#include "tests/support/TestSupport.h"

#include "platform/FileSystem.h"

namespace {

const std::string kSep(kLogSeparator);

TEST(UpdateLogTest, SeparatorIsSixtyTwoCharacters) {
    EXPECT_EQ(kSep, std::string(25, '-') + " error " + std::string(30, '-'));
    EXPECT_EQ(kSep.size(), 62u);
}

TEST(UpdateLogTest, EntriesAreAppendedByteForByte) {
    CTempDir dir;
    CRecordingOwner owner;
    owner.SetCurrentLogPath(dir.File("up.lsql.log"));

    // A plain append of nothing still creates the file.
    AppendLog(owner, false, "");
    ASSERT_TRUE(FileExists(owner.CurrentLogPath()));
    EXPECT_EQ(ReadFile(owner.CurrentLogPath()), "");

    AppendLog(owner, false, "DELETE FROM X\r\n");
    AppendLog(owner, true, "Table unknown\n-X");
    AppendLog(owner, false, "\xD2\xE5\xF1\xF2\n");  // bytes as given, no conversion
    AppendLog(owner, true, "second");
    EXPECT_EQ(ReadFile(owner.CurrentLogPath()),
              "DELETE FROM X\r\n" + kSep + "\r\nTable unknown\n-X\r\n" + kSep + "\r\n\r\n" +
                  "\xD2\xE5\xF1\xF2\n" + kSep + "\r\nsecond\r\n" + kSep + "\r\n\r\n");
}

TEST(UpdateLogTest, FailureEntryIsTheItemThenTheFramedMessage) {
    CTempDir dir;
    CRecordingOwner owner;
    owner.SetCurrentLogPath(dir.File("up.lsql.log"));

    AppendFailure(owner, "DELETE FROM X\r\n", "Table unknown\n-X");
    AppendFailure(owner, dir.File("abc.u") + "\n", "'abc' is not a valid integer value");
    AppendFailure(owner, "", "");  // an empty statement with an empty message
    EXPECT_EQ(ReadFile(owner.CurrentLogPath()),
              "DELETE FROM X\r\n" + kSep + "\r\nTable unknown\n-X\r\n" + kSep + "\r\n\r\n" +
                  dir.File("abc.u") + "\n" + kSep + "\r\n'abc' is not a valid integer value\r\n" +
                  kSep + "\r\n\r\n" + kSep + "\r\n\r\n" + kSep + "\r\n\r\n");
}

TEST(UpdateLogTest, EmptyFramedMessageLayout) {
    CTempDir dir;
    CRecordingOwner owner;
    owner.SetCurrentLogPath(dir.File("a.log"));
    WriteFile(owner.CurrentLogPath(), "old\r\n");  // an existing log is extended, not replaced
    AppendLog(owner, true, "");
    EXPECT_EQ(ReadFile(owner.CurrentLogPath()), "old\r\n" + kSep + "\r\n\r\n" + kSep + "\r\n\r\n");
}

TEST(UpdateLogTest, UnwritableLogIsIgnored) {
    CTempDir dir;
    CRecordingOwner owner;
    EXPECT_NO_THROW(AppendLog(owner, true, "no path yet"));

    owner.SetCurrentLogPath(dir.File("missing/dir/a.log"));
    EXPECT_NO_THROW(AppendLog(owner, true, "message"));
    EXPECT_FALSE(FileExists(owner.CurrentLogPath()));

    owner.SetCurrentLogPath(dir.Path());  // a directory cannot be opened as a log
    EXPECT_NO_THROW(AppendLog(owner, false, "text"));
}

}  // namespace
