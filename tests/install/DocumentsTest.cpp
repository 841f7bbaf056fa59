// The document installer against a real embedded database.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <utility>

#include "db/DbError.h"
#include "db/Uglobdb.h"
#include "install/Documents.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"
#include "tests/install/RecordingOwner.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kSeparator = "------------------------- error ------------------------------";

// Deterministic bytes covering every byte value.
std::string DocumentBytes(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<char>(seed >> 24);
    }
    return bytes;
}

class DocumentsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateDatabase(m_database,
                       {"create table ARTICLE (id integer primary key, "
                        "name varchar(255) character set win1251, "
                        "name_u varchar(255) character set win1251, ext varchar(10), "
                        "ext_u varchar(10), note blob, note_u blob)",
                        "insert into ARTICLE (id, name, note, note_u) values (18612, 'a', 'old r', "
                        "'old u')",
                        "insert into ARTICLE (id, name) values (18619, 'b')"});
        m_session.Connect("", m_database, "", "");
        SetGlobDB(&m_session);
        m_owner.SetCurrentLogPath(m_log);
    }
    void TearDown() override { SetGlobDB(nullptr); }

    std::optional<std::string> Note(int id, const char* column = "note") {
        return QueryBlob(m_database, std::string("select ") + column +
                                         " from ARTICLE where id = " + std::to_string(id));
    }
    std::vector<std::string> AllNotes() {
        return QueryColumn(
            m_database,
            "select id || ':' || coalesce(cast(note as varchar(100)), '-') || ':' || "
            "coalesce(cast(note_u as varchar(100)), '-') from ARTICLE order by id");
    }
    bool TransactionActive() { return m_session.GetDatabase().DefaultTransaction().IsActive(); }

    CTempDir m_dir;
    std::string m_database = m_dir.File("lib.fdb");
    std::string m_log = m_dir.File("up.99.238.lsql.log");
    CGlobDB m_session{m_dir.Path()};
    CRecordingOwner m_owner;
};

TEST_F(DocumentsTest, LargeUDocumentIsStoredByteForByteIntoNoteU) {
    const std::string bytes = DocumentBytes(5070763, 18612);
    const std::string path = m_dir.File("18612.u");
    WriteFile(path, bytes);

    StoreDocumentFile(m_session.GetDatabase(), m_owner, path);

    EXPECT_FALSE(TransactionActive());  // committed
    const std::optional<std::string> stored = Note(18612, "note_u");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->size(), bytes.size());
    EXPECT_TRUE(*stored == bytes);
    EXPECT_EQ(Note(18612), "old r");
    EXPECT_FALSE(FileExists(m_log));
    EXPECT_TRUE(m_owner.journal.empty());
}

TEST_F(DocumentsTest, LargeDocumentIsOneCallWhileTheWindowAnswers) {
    constexpr size_t kMegabytes = 48;
    const std::string bytes = DocumentBytes(kMegabytes << 20, 18619);
    const std::string path = m_dir.File("18619.u");
    WriteFile(path, bytes);

    const double start = MonotonicSeconds();
    StoreDocumentFile(m_session.GetDatabase(), m_owner, path);
    const double end = MonotonicSeconds();

    // Reading the file, its blob, the statement and the commit go off the window's thread in
    // one call, and the window is pumped all the while.
    EXPECT_EQ(m_owner.blockingCalls, 1);
    EXPECT_GE(m_owner.pumps, static_cast<int>((end - start) / CPumpThrottle::kInterval) / 2);
    // The window's thread pumps every interval while the call runs; a loaded machine may
    // schedule it a few intervals late, never a whole file's work late.
    EXPECT_LT(m_owner.LongestWorkWithoutPump(start, end), 5 * CPumpThrottle::kInterval);
    const std::optional<std::string> stored = Note(18619, "note_u");
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(*stored == bytes);
    EXPECT_TRUE(m_owner.journal.empty());
}

TEST_F(DocumentsTest, StopBetweenMegabytesStoresNothing) {
    const std::string path = m_dir.File("18619.u");
    WriteFile(path, DocumentBytes(8u << 20, 18619));
    m_owner.stopAfterChecks = 2;
    EXPECT_THROW(StoreDocumentFile(m_session.GetDatabase(), m_owner, path), CRunStopped);
    EXPECT_FALSE(Note(18619, "note_u").has_value());  // NULL, as before
    EXPECT_TRUE(m_owner.journal.empty());
}

TEST_F(DocumentsTest, EmptyRDocumentGivesAnEmptyBlobNotNull) {
    const std::string path = m_dir.File("18619.r");
    WriteFile(path, "");

    StoreDocumentFile(m_session.GetDatabase(), m_owner, path);

    EXPECT_EQ(Note(18619), std::optional<std::string>(""));
    EXPECT_EQ(QueryColumn(m_database,
                          "select count(*) from ARTICLE where id = 18619 and note is "
                          "not null and note_u is null"),
              std::vector<std::string>{"1"});
}

TEST_F(DocumentsTest, RThenUOfOneIdSetBothColumns) {
    WriteFile(m_dir.File("18619.r"), "plain");
    WriteFile(m_dir.File("18619.u"), "ukrainian");

    StoreDocumentFile(m_session.GetDatabase(), m_owner, m_dir.File("18619.r"));
    StoreDocumentFile(m_session.GetDatabase(), m_owner, m_dir.File("18619.u"));

    EXPECT_EQ(Note(18619), "plain");
    EXPECT_EQ(Note(18619, "note_u"), "ukrainian");
    EXPECT_EQ(AllNotes(), (std::vector<std::string>{"18612:old r:old u", "18619:plain:ukrainian"}));
}

TEST_F(DocumentsTest, OnlyExactLowerCaseUChoosesNoteU) {
    WriteFile(m_dir.File("18612.U"), "capital");
    StoreDocumentFile(m_session.GetDatabase(), m_owner, m_dir.File("18612.U"));
    EXPECT_EQ(Note(18612), "capital");
    EXPECT_EQ(Note(18612, "note_u"), "old u");

    // Any extension other than ".u" is the plain variant.
    WriteFile(m_dir.File("18619.doc"), "other");
    StoreDocumentFile(m_session.GetDatabase(), m_owner, m_dir.File("18619.doc"));
    EXPECT_EQ(Note(18619), "other");
}

TEST_F(DocumentsTest, IdWithoutRowChangesNothingAndLogsNothing) {
    WriteFile(m_dir.File("99999.u"), "orphan");
    const std::vector<std::string> before = AllNotes();

    StoreDocumentFile(m_session.GetDatabase(), m_owner, m_dir.File("99999.u"));

    EXPECT_EQ(AllNotes(), before);
    EXPECT_FALSE(FileExists(m_log));
    EXPECT_FALSE(TransactionActive());
}

TEST_F(DocumentsTest, NameThatIsNotAnIntegerIsLoggedExactlyAndStoresNothing) {
    const std::string path = m_dir.File("abc.u");
    WriteFile(path, "bytes");
    const std::vector<std::string> before = AllNotes();

    StoreDocumentFile(m_session.GetDatabase(), m_owner, path);

    EXPECT_EQ(ReadFile(m_log), path + "\n" + kSeparator +
                                   "\r\n'abc' is not a valid integer value\r\n" + kSeparator +
                                   "\r\n\r\n");
    EXPECT_EQ(AllNotes(), before);
    EXPECT_TRUE(m_owner.journal.empty());
}

TEST_F(DocumentsTest, StemRulesAcceptSignedDigitsWithinThirtyTwoBits) {
    // Logged: overflow, not digits, blanks, an empty stem, the stem left by a second ".u".
    const std::pair<const char*, const char*> rejected[] = {{"2147483648.u", "2147483648"},
                                                            {"-2147483649.u", "-2147483649"},
                                                            {" 18612.u", " 18612"},
                                                            {"18612x.u", "18612x"},
                                                            {".u", ""},
                                                            {"1.u2.u", "12.u"},
                                                            {"+.r", "+"}};
    for (const auto& [name, stem] : rejected) {
        RemoveFile(m_log);
        WriteFile(m_dir.File(name), "x");
        StoreDocumentFile(m_session.GetDatabase(), m_owner, m_dir.File(name));
        EXPECT_EQ(ReadFile(m_log), m_dir.File(name) + "\n" + kSeparator + "\r\n'" + stem +
                                       "' is not a valid integer value\r\n" + kSeparator +
                                       "\r\n\r\n")
            << name;
    }
    EXPECT_EQ(AllNotes(), (std::vector<std::string>{"18612:old r:old u", "18619:-:-"}));

    // Accepted: a sign and the extreme values (no such rows: nothing logged, nothing changed).
    RemoveFile(m_log);
    for (const char* name : {"+18619.u", "-2147483648.u", "2147483647.r"}) {
        WriteFile(m_dir.File(name), "signed");
        StoreDocumentFile(m_session.GetDatabase(), m_owner, m_dir.File(name));
    }
    EXPECT_FALSE(FileExists(m_log));
    EXPECT_EQ(Note(18619, "note_u"), "signed");
}

TEST_F(DocumentsTest, VanishedFilePropagatesWithoutLoggingOrCommitting) {
    EXPECT_THROW(StoreDocumentFile(m_session.GetDatabase(), m_owner, m_dir.File("18619.u")),
                 CSystemError);
    EXPECT_FALSE(FileExists(m_log));
    EXPECT_FALSE(TransactionActive());  // rolled back before the error went up
    EXPECT_EQ(Note(18619, "note_u"), std::nullopt);
}

TEST_F(DocumentsTest, LostConnectionPropagates) {
    ExecuteStatements(
        m_database, {"delete from mon$attachments where mon$attachment_id <> current_connection"});
    WriteFile(m_dir.File("18612.r"), "x");

    try {
        StoreDocumentFile(m_session.GetDatabase(), m_owner, m_dir.File("18612.r"));
        FAIL() << "no error on a lost connection";
    } catch (const CDbError& e) {
        EXPECT_EQ(std::string(e.what()), "connection shutdown");
    }
    EXPECT_FALSE(FileExists(m_log));
    EXPECT_EQ(Note(18612), "old r");
}

TEST_F(DocumentsTest, MultibyteNameIsLoggedWithItsStem) {
    const std::string path = m_dir.File("\xD0\xB4\xD0\xBE\xD0\xBA.u");  // "док.u" in UTF-8
    WriteFile(path, "bytes");

    StoreDocumentFile(m_session.GetDatabase(), m_owner, path);

    EXPECT_EQ(ReadFile(m_log), path + "\n" + kSeparator +
                                   "\r\n'\xD0\xB4\xD0\xBE\xD0\xBA' is not a valid integer "
                                   "value\r\n" +
                                   kSeparator + "\r\n\r\n");
    EXPECT_EQ(AllNotes(), (std::vector<std::string>{"18612:old r:old u", "18619:-:-"}));
}

TEST_F(DocumentsTest, StatementIsThreeLinesWithTheColumnOnTheSecond) {
    // The server's error positions show the layout: "update ARTICLE set" / "note_u=:note " /
    // "where id=:id". A table without note_u and without id fails on lines 2 and 3.
    const std::string other = m_dir.File("other.fdb");
    CreateDatabase(other, {"create table ARTICLE (ident integer, note blob)"});
    CGlobDB session(m_dir.Path());
    session.Connect("", other, "", "");
    WriteFile(m_dir.File("1.u"), "x");
    WriteFile(m_dir.File("1.r"), "x");
    auto error = [&](const std::string& name) {
        try {
            StoreDocumentFile(session.GetDatabase(), m_owner, m_dir.File(name));
        } catch (const CDbError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };

    EXPECT_EQ(error("1.u"),
              "Dynamic SQL Error\n-SQL error code = -206\n-Column unknown\n-NOTE_U\n"
              "-At line 2, column 1");
    EXPECT_EQ(error("1.r"),
              "Dynamic SQL Error\n-SQL error code = -206\n-Column unknown\n-ID\n"
              "-At line 3, column 7");
}

TEST_F(DocumentsTest, DatabaseErrorPropagates) {
    // A database without ARTICLE refuses the statement.
    const std::string other = m_dir.File("other.fdb");
    CreateDatabase(other, {"create table T (A integer)"});
    CGlobDB session(m_dir.Path());
    session.Connect("", other, "", "");
    WriteFile(m_dir.File("18612.r"), "x");

    EXPECT_THROW(StoreDocumentFile(session.GetDatabase(), m_owner, m_dir.File("18612.r")),
                 CDbError);
    EXPECT_FALSE(FileExists(m_log));
    EXPECT_FALSE(session.GetDatabase().DefaultTransaction().IsActive());
}

}  // namespace
