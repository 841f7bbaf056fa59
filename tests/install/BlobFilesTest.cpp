// The blob installer: the name grammar and loading against a real embedded database.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>

#include "db/DbError.h"
#include "db/Uglobdb.h"
#include "install/BlobFiles.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "tests/install/RecordingOwner.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kSeparator = "------------------------- error ------------------------------";

std::string BlobBytes(size_t size) {
    std::string bytes(size, '\0');
    uint32_t seed = 10;
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

TEST(BuildBlobStatementTest, FollowsTheNameGrammarIncludingItsOddCases) {
    struct Case {
        const char* name;
        const char* text;
        const char* column;
    };
    const Case cases[] = {
        {"INFO_DOC.NOTE_U.ID 10.blo", "update INFO_DOC set NOTE_U = :NOTE_U where (ID=10)",
         "NOTE_U"},
        {"T.F.A 1.B 2.blo", "update T set F = :F where (A=1)and(B=2)", "F"},
        {"T.F.CODE A.B 1.blo", "update T set F = :F where (CODE=A)and(B=1)", "F"},
        // Upper-case extension stays and becomes a key condition.
        {"T.F.ID 1.BLO", "update T set F = :F where (ID=1)and(BLO)", "F"},
        // The first ".blo" is the one inside the column name.
        {"t.blobdata.id 1.blo", "update tbdata set id 1 = :id 1 where (blo)", "id 1"},
        // Too few dots: the missing names are empty and nothing is cut.
        {"x.blo", "update  set  = : where (x)", ""},
        {"T.x.blo", "update T set  = : where (x)", ""},
        {"T.F.ID 'a'.blo", "update T set F = :F where (ID='a')", "F"},
    };
    for (const Case& c : cases) {
        const BlobStatement statement = BuildBlobStatement(c.name);
        EXPECT_EQ(statement.text, c.text) << c.name;
        EXPECT_EQ(statement.column, c.column) << c.name;
    }
}

class BlobFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateDatabase(m_database, {"create table INFO_DOC (ID integer, NOTE blob, NOTE_U blob)",
                                    "insert into INFO_DOC values (10, 'old 10', 'old u 10')",
                                    "insert into INFO_DOC values (11, 'old 11', null)"});
        m_session.Connect("", m_database, "", "");
        SetGlobDB(&m_session);
        m_owner.SetCurrentLogPath(m_log);
    }
    void TearDown() override { SetGlobDB(nullptr); }

    std::optional<std::string> Note(int id, const char* column = "NOTE") {
        return QueryBlob(m_database, std::string("select ") + column +
                                         " from INFO_DOC where ID = " + std::to_string(id));
    }
    bool TransactionActive() { return m_session.GetDatabase().DefaultTransaction().IsActive(); }
    std::string Load(const std::string& name, const std::string& bytes) {
        const std::string path = m_dir.File(name);
        WriteFile(path, bytes);
        LoadBlobFile(m_session.GetDatabase(), m_owner, path);
        return path;
    }
    // The log entry of a failed blob file, up to the start of the error message.
    static std::string EntryHead(const std::string& statement) {
        return statement + "\r\n\n" + kSeparator + "\r\n";
    }
    static bool EndsWith(const std::string& text, const std::string& tail) {
        return text.size() >= tail.size() &&
               text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    }

    CTempDir m_dir;
    std::string m_database = m_dir.File("lib.fdb");
    std::string m_log = m_dir.File("up.99.238.lsql.log");
    CGlobDB m_session{m_dir.Path()};
    CRecordingOwner m_owner;
};

TEST_F(BlobFilesTest, LoadsSeveralHundredKilobytesExactly) {
    const std::string bytes = BlobBytes(300 * 1024 + 17);  // several segments and a short one
    Load("INFO_DOC.NOTE.ID 10.blo", bytes);

    EXPECT_FALSE(TransactionActive());
    const std::optional<std::string> stored = Note(10);
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(*stored == bytes);
    EXPECT_EQ(Note(10, "NOTE_U"), "old u 10");
    EXPECT_EQ(Note(11), "old 11");
    EXPECT_FALSE(FileExists(m_log));
}

TEST_F(BlobFilesTest, LargeFileIsOneCallWhileTheWindowAnswers) {
    const std::string bytes = BlobBytes(8u << 20);
    const double start = MonotonicSeconds();
    Load("INFO_DOC.NOTE.ID 10.blo", bytes);
    const double end = MonotonicSeconds();
    // The file, its blob, the statement and the commit are one call off the window's thread.
    EXPECT_EQ(m_owner.blockingCalls, 1);
    // The window's thread pumps every interval while the call runs; a loaded machine may
    // schedule it a few intervals late, never a whole file's work late.
    EXPECT_LT(m_owner.LongestWorkWithoutPump(start, end), 5 * CPumpThrottle::kInterval);
    const std::optional<std::string> stored = Note(10);
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(*stored == bytes);
    EXPECT_FALSE(FileExists(m_log));
}

TEST_F(BlobFilesTest, StopBetweenMegabytesLeavesTheRowAsItWasAndNoLogEntry) {
    const std::string bytes = BlobBytes(8u << 20);
    m_owner.stopAfterChecks = 3;
    EXPECT_THROW(Load("INFO_DOC.NOTE.ID 10.blo", bytes), CRunStopped);
    EXPECT_FALSE(TransactionActive());
    EXPECT_EQ(Note(10), "old 10");
    EXPECT_FALSE(FileExists(m_log));
}

TEST_F(BlobFilesTest, EmptyFileGivesAnEmptyBlobAndKeysCanBeCombined) {
    Load("INFO_DOC.NOTE_U.ID 11.ID 11.blo", "");  // where (ID=11)and(ID=11)
    EXPECT_EQ(Note(11, "NOTE_U"), std::optional<std::string>(""));
    EXPECT_EQ(Note(10, "NOTE_U"), "old u 10");
    EXPECT_FALSE(FileExists(m_log));
}

TEST_F(BlobFilesTest, UnknownTableIsLoggedAndRolledBack) {
    Load("NO_SUCH.NOTE.ID 10.blo", "x");

    const std::string log = ReadFile(m_log);
    EXPECT_EQ(log.rfind(EntryHead("update NO_SUCH set NOTE = :NOTE where (ID=10)"), 0), 0u) << log;
    EXPECT_NE(log.find("Table unknown"), std::string::npos) << log;
    EXPECT_TRUE(EndsWith(log, "\r\n" + kSeparator + "\r\n\r\n")) << log;
    EXPECT_FALSE(TransactionActive());
}

TEST_F(BlobFilesTest, UnknownColumnIsLoggedAndLeavesRowsAlone) {
    Load("INFO_DOC.NOPE.ID 10.blo", "x");

    const std::string log = ReadFile(m_log);
    EXPECT_EQ(log.rfind(EntryHead("update INFO_DOC set NOPE = :NOPE where (ID=10)"), 0), 0u);
    EXPECT_NE(log.find("Column unknown"), std::string::npos) << log;
    EXPECT_EQ(Note(10), "old 10");
    EXPECT_FALSE(TransactionActive());
}

TEST_F(BlobFilesTest, FailureAfterTheBlobWasWrittenRollsEverythingBack) {
    // The key is only converted when the statement runs, after the blob has been created.
    Load("INFO_DOC.NOTE.ID 'abc'.blo", BlobBytes(100000));

    const std::string log = ReadFile(m_log);
    EXPECT_EQ(log.rfind(EntryHead("update INFO_DOC set NOTE = :NOTE where (ID='abc')"), 0), 0u)
        << log;
    EXPECT_FALSE(TransactionActive());
    EXPECT_EQ(Note(10), "old 10");

    // The session is usable again: the next file goes through.
    Load("INFO_DOC.NOTE.ID 10.blo", "after the failure");
    EXPECT_EQ(Note(10), "after the failure");
}

TEST_F(BlobFilesTest, UpdateMatchingNoRowLogsNothing) {
    Load("INFO_DOC.NOTE.ID 99.blo", "nobody");
    EXPECT_FALSE(FileExists(m_log));
    EXPECT_EQ(Note(10), "old 10");
    EXPECT_EQ(Note(11), "old 11");
}

TEST_F(BlobFilesTest, OddNamesFailAndAreLoggedWithTheirStatements) {
    Load("INFO_DOC.NOTE.ID 10.BLO", "upper");
    Load("t.blobdata.id 1.blo", "lower");

    const std::string log = ReadFile(m_log);
    const size_t first =
        log.find(EntryHead("update INFO_DOC set NOTE = :NOTE where (ID=10)and(BLO)"));
    const size_t second = log.find(EntryHead("update tbdata set id 1 = :id 1 where (blo)"));
    EXPECT_EQ(first, 0u) << log;
    EXPECT_NE(second, std::string::npos) << log;
    EXPECT_GT(second, first);
    EXPECT_EQ(Note(10), "old 10");
}

TEST_F(BlobFilesTest, DirectoryOrMissingFileIsLoggedNotThrown) {
    std::filesystem::create_directories(m_dir.File("INFO_DOC.NOTE.ID 11.blo"));
    EXPECT_NO_THROW(
        LoadBlobFile(m_session.GetDatabase(), m_owner, m_dir.File("INFO_DOC.NOTE.ID 11.blo")));
    EXPECT_NO_THROW(LoadBlobFile(m_session.GetDatabase(), m_owner,
                                 m_dir.File("INFO_DOC.NOTE.ID 10.blo")));  // absent

    const std::string log = ReadFile(m_log);
    const std::string head11 = EntryHead("update INFO_DOC set NOTE = :NOTE where (ID=11)");
    const std::string head10 = EntryHead("update INFO_DOC set NOTE = :NOTE where (ID=10)");
    EXPECT_EQ(log.rfind(head11, 0), 0u) << log;
    EXPECT_NE(log.find(head10), std::string::npos) << log;
    EXPECT_EQ(Note(10), "old 10");
    EXPECT_EQ(Note(11), "old 11");
    EXPECT_FALSE(TransactionActive());
}

TEST_F(BlobFilesTest, LostConnectionEndsTheSequenceUnlogged) {
    // Another attachment ends the session's one, as a server shutdown would. Every later file
    // would fail the same way, so the error goes up and the next run stores the file again.
    ExecuteStatements(
        m_database, {"delete from mon$attachments where mon$attachment_id <> current_connection"});

    try {
        Load("INFO_DOC.NOTE.ID 10.blo", "x");
        ADD_FAILURE() << "a lost connection must leave the blob installer";
    } catch (const CDbError& error) {
        EXPECT_TRUE(IsLostDatabase(error)) << error.what();
    }
    EXPECT_FALSE(FileExists(m_log));
    EXPECT_FALSE(TransactionActive());
    EXPECT_EQ(Note(10), "old 10");
}

TEST_F(BlobFilesTest, FailureWithoutALogPathIsSilent) {
    m_owner.SetCurrentLogPath("");
    EXPECT_NO_THROW(Load("NO_SUCH.NOTE.ID 10.blo", "x"));
    EXPECT_FALSE(TransactionActive());
}

}  // namespace
