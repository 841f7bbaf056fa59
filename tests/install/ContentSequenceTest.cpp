// The content sequence over a real work directory and a real embedded database.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "db/Uglobdb.h"
#include "install/ContentSequence.h"
#include "platform/FileSystem.h"
#include "tests/install/RecordingOwner.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kSeparator = "------------------------- error ------------------------------";

// What the window showed each time messages were pumped.
struct Snapshot {
    std::string fileCaption;
    bool timeVisible;
    int position;
    int maximum;
};

class SnapshotOwner : public CRecordingOwner {
  public:
    SnapshotOwner(const ILabel& fileLabel, const ILabel& timeLabel, const IProgressBar& bar)
        : m_fileLabel(fileLabel), m_timeLabel(timeLabel), m_bar(bar) {}
    void PumpMessages() override {
        CRecordingOwner::PumpMessages();
        snapshots.push_back(
            {m_fileLabel.Caption(), m_timeLabel.IsVisible(), m_bar.Position(), m_bar.Maximum()});
    }
    std::vector<Snapshot> snapshots;

  private:
    const ILabel& m_fileLabel;
    const ILabel& m_timeLabel;
    const IProgressBar& m_bar;
};

TEST(HandledNameTest, KeepsTheScriptsLetterAndTheOtherKindsDot) {
    EXPECT_EQ(HandledName("/w/up.99.238.lsql", 3, "~lsql"), "/w/up.99.238.l~lsql");
    EXPECT_EQ(HandledName("/w/18619.r", 1, "~r"), "/w/18619.~r");
    EXPECT_EQ(HandledName("/w/18619.u", 1, "~u"), "/w/18619.~u");
    EXPECT_EQ(HandledName("/w/INFO_DOC.NOTE.ID 10.blo", 3, "~blo"), "/w/INFO_DOC.NOTE.ID 10.~blo");
    EXPECT_EQ(HandledName("/w/T.F.ID 1.BLO", 3, "~blo"), "/w/T.F.ID 1.~blo");
}

const std::vector<std::string> kSuiteTables = {
    "create table ARTICLE (id integer primary key, name varchar(255) character set win1251, "
    "name_u varchar(255) character set win1251, ext varchar(10), ext_u varchar(10), note blob, "
    "note_u blob)",
    "create table INFO_DOC (ID integer, NOTE blob, NOTE_U blob)",
    "create table versions (data integer, update_date timestamp)",
    "insert into ARTICLE (id, name) values (1, 'one')",
    "insert into ARTICLE (id, name) values (2, 'two')",
    "insert into ARTICLE (id, name) values (3, 'three')",
    "insert into INFO_DOC (ID) values (10)"};

class ContentSequenceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateDatabase(m_database, kSuiteTables);
        std::filesystem::create_directories(m_work);
        m_session.Connect("", m_database, "", "");
        SetGlobDB(&m_session);
    }
    void TearDown() override { SetGlobDB(nullptr); }

    int Install() {
        return InstallDatabaseContents(m_session.GetDatabase(), m_owner, m_work,
                                       {&m_bar, nullptr, &m_fileLabel, &m_timeLabel});
    }
    void Put(const std::string& name, const std::string& bytes) { WriteFile(Work(name), bytes); }
    std::string Work(const std::string& name) const { return m_work + "/" + name; }
    std::optional<std::string> Article(int id, const char* column) {
        return QueryBlob(m_database, std::string("select ") + column +
                                         " from ARTICLE where id = " + std::to_string(id));
    }

    CTempDir m_dir;
    std::string m_database = m_dir.File("lib.fdb");
    std::string m_work = m_dir.File("lib.kvr");
    CGlobDB m_session{m_dir.Path()};
    CRecordingLabel m_fileLabel;
    CRecordingLabel m_timeLabel;
    CRecordingBar m_bar;
    SnapshotOwner m_owner{m_fileLabel, m_timeLabel, m_bar};
};

TEST_F(ContentSequenceTest, InstallsAllPassesInOrderAndRenamesEveryFile) {
    // Scripts sort by lower-cased characters: "up.10" < "up.2026" < "up.9".
    Put("up.9.lsql", "insert into versions values (238, current_timestamp);\r\n");
    Put("UP.10.lsql",
        "insert into ARTICLE (id, name) values (18612, 'a');\r\n"
        "insert into ARTICLE (id, name) values (18619, 'b');\r\n");
    Put("up.2026.05.03.lsql", "update ARTICLE set ext = 'pdf' where id = 18612;\r\n");
    Put("18619.r", "");
    Put("18612.r", "");
    Put("18612.u", "first u");
    Put("18619.u", "second u");
    Put("ARTICLE.NOTE_U.ID 18612.blo", "blob after documents");
    Put("readme.txt", "ignored");

    EXPECT_EQ(Install(), 8);

    EXPECT_EQ(m_owner.journal,
              (std::vector<std::string>{"UP.10.lsql", "up.2026.05.03.lsql", "up.9.lsql"}));
    EXPECT_EQ(
        m_fileLabel.captions,
        (std::vector<std::string>{"UP.10.lsql (1/3)", "up.2026.05.03.lsql (2/3)", "up.9.lsql (3/3)",
                                  "18612.r (1/2)", "18619.r (2/2)", "18612.u (1/2)",
                                  "18619.u (2/2)", "ARTICLE.NOTE_U.ID 18612.blo (1/1)"}));
    // Pass 1 spans the four script lines; passes 2 and 3 reset; pass 4 keeps pass 3's range.
    EXPECT_EQ(m_bar.maximums, (std::vector<int>{4, 2, 2}));
    EXPECT_EQ(m_bar.Position(), 2);
    EXPECT_EQ(m_timeLabel.visibilityChanges, (std::vector<bool>{true, false}));

    // The time label is visible exactly while scripts are handled; the document passes count
    // 1, 2 each; the blob pass shows no movement.
    std::vector<int> documentPositions;
    for (const Snapshot& s : m_owner.snapshots) {
        const bool script = s.fileCaption.find(".lsql (") != std::string::npos;
        EXPECT_EQ(s.timeVisible, script) << s.fileCaption;
        if (script) {
            EXPECT_EQ(s.maximum, 4);
        } else {
            documentPositions.push_back(s.position);
        }
    }
    EXPECT_EQ(documentPositions, (std::vector<int>{1, 2, 1, 2, 2}));

    EXPECT_EQ(DirectoryEntries(m_work),
              (std::vector<std::string>{"18612.~r", "18612.~u", "18619.~r", "18619.~u",
                                        "ARTICLE.NOTE_U.ID 18612.~blo", "UP.10.l~lsql",
                                        "readme.txt", "up.2026.05.03.l~lsql", "up.9.l~lsql"}));

    EXPECT_EQ(QueryColumn(m_database, "select data from versions"),
              std::vector<std::string>{"238"});
    EXPECT_EQ(Article(18612, "note"), std::optional<std::string>(""));
    EXPECT_EQ(Article(18612, "note_u"), "blob after documents");
    EXPECT_EQ(Article(18619, "note"), std::optional<std::string>(""));
    EXPECT_EQ(Article(18619, "note_u"), "second u");
    EXPECT_EQ(QueryColumn(m_database, "select ext from ARTICLE where id = 18612"),
              std::vector<std::string>{"pdf"});

    // Everything handled is renamed: a second call finds nothing and reports nothing.
    const size_t journalLines = m_owner.journal.size();
    EXPECT_EQ(Install(), 0);
    EXPECT_EQ(m_owner.journal.size(), journalLines);
}

TEST_F(ContentSequenceTest, WorksWithoutAnyControls) {
    Put("a.lsql", "update ARTICLE set ext = 'doc' where id = 1;\r\n");
    Put("1.u", "u");
    CRecordingOwner owner;
    EXPECT_EQ(InstallDatabaseContents(m_session.GetDatabase(), owner, m_work, {}), 2);
    EXPECT_EQ(owner.journal, std::vector<std::string>{"a.lsql"});
    EXPECT_EQ(Article(1, "note_u"), "u");
    EXPECT_EQ(DirectoryEntries(m_work), (std::vector<std::string>{"1.~u", "a.l~lsql"}));
}

TEST_F(ContentSequenceTest, EveryPassWorksInTheDatabaseItIsGivenNotTheSessions) {
    // The session names the fixture's database; the sequence is handed another one, and every
    // installer below it must take that one.
    const std::string other = m_dir.File("other.fdb");
    CreateDatabase(other, kSuiteTables);
    CGlobDB otherSession(m_dir.Path());
    otherSession.Connect("", other, "", "");
    Put("a.lsql", "insert into versions values (238, current_timestamp);\r\n");
    Put("1.r", "document");
    Put("INFO_DOC.NOTE.ID 10.blo", "blob value");
    CRecordingOwner owner;

    EXPECT_EQ(InstallDatabaseContents(otherSession.GetDatabase(), owner, m_work, {}), 3);

    EXPECT_EQ(QueryColumn(other, "select data from versions"), std::vector<std::string>{"238"});
    EXPECT_EQ(QueryBlob(other, "select note from ARTICLE where id = 1"), "document");
    EXPECT_EQ(QueryBlob(other, "select NOTE from INFO_DOC where ID = 10"), "blob value");
    EXPECT_TRUE(QueryColumn(m_database, "select data from versions").empty());
    EXPECT_EQ(Article(1, "note"), std::nullopt);
    EXPECT_EQ(QueryBlob(m_database, "select NOTE from INFO_DOC where ID = 10"), std::nullopt);
    EXPECT_FALSE(FileExists(Work("a.lsql.log")));  // nothing failed on the way
}

TEST_F(ContentSequenceTest, SecondPackagesFileReplacesTheFirstOnesRenamedFile) {
    Put("1.u", "first package");
    EXPECT_EQ(Install(), 1);
    EXPECT_EQ(ReadFile(Work("1.~u")), "first package");

    Put("1.u", "second package");
    EXPECT_EQ(Install(), 1);

    EXPECT_EQ(DirectoryEntries(m_work), std::vector<std::string>{"1.~u"});
    EXPECT_EQ(ReadFile(Work("1.~u")), "second package");
    EXPECT_EQ(Article(1, "note_u"), "second package");
}

TEST_F(ContentSequenceTest, VanishedDocumentEndsTheSequenceAndKeepsItsName) {
    Put("1.r", "");
    ASSERT_EQ(symlink(Work("gone").c_str(), Work("2.r").c_str()), 0);  // listed, cannot be opened
    Put("3.r", "");
    Put("1.u", "u");
    Put("T.F.ID 1.blo", "");

    EXPECT_ANY_THROW(Install());

    EXPECT_EQ(DirectoryEntries(m_work),
              (std::vector<std::string>{"1.u", "1.~r", "2.r", "3.r", "T.F.ID 1.blo"}));
    EXPECT_TRUE(IsSymbolicLink(Work("2.r")));
    EXPECT_EQ(Article(1, "note"), std::optional<std::string>(""));
    EXPECT_EQ(Article(3, "note"), std::nullopt);
    EXPECT_EQ(Article(1, "note_u"), std::nullopt);
}

TEST_F(ContentSequenceTest, UnreadableScriptEndsTheSequenceBeforeAnyScriptRuns) {
    Put("a.lsql", "update ARTICLE set ext = 'doc' where id = 1;\r\n");
    ASSERT_EQ(symlink(Work("gone").c_str(), Work("b.lsql").c_str()), 0);
    Put("1.r", "");

    EXPECT_ANY_THROW(Install());

    EXPECT_TRUE(m_owner.journal.empty());
    EXPECT_EQ(QueryColumn(m_database, "select ext from ARTICLE where id = 1"),
              std::vector<std::string>{"<null>"});
    EXPECT_EQ(DirectoryEntries(m_work), (std::vector<std::string>{"1.r", "a.lsql", "b.lsql"}));
}

TEST_F(ContentSequenceTest, BlobFailureAfterACleanScriptStartsThatScriptsLog) {
    Put("up.1.lsql", "update ARTICLE set ext = 'doc' where id = 1;\r\n");
    Put("NO_SUCH.NOTE.ID 1.blo", "x");

    EXPECT_EQ(Install(), 2);

    const std::string log = ReadFile(Work("up.1.lsql.log"));
    const std::string head =
        "update NO_SUCH set NOTE = :NOTE where (ID=1)\r\n\n" + kSeparator + "\r\n";
    EXPECT_EQ(log.rfind(head, 0), 0u) << log;
    EXPECT_NE(log.find("Table unknown"), std::string::npos) << log;
    EXPECT_EQ(DirectoryEntries(m_work),
              (std::vector<std::string>{"NO_SUCH.NOTE.ID 1.~blo", "up.1.lsql.log", "up.1.l~lsql"}));
}

TEST_F(ContentSequenceTest, DirectoryNamedLikeABlobFileIsHandedOverLoggedAndRenamed) {
    std::filesystem::create_directories(Work("x.blo"));
    m_owner.SetCurrentLogPath(Work("up.1.lsql.log"));

    EXPECT_EQ(Install(), 1);

    EXPECT_EQ(
        ReadFile(Work("up.1.lsql.log")).rfind("update  set  = : where (x)\r\n\n" + kSeparator, 0),
        0u);
    EXPECT_EQ(m_fileLabel.captions, std::vector<std::string>{"x.blo (1/1)"});
    EXPECT_TRUE(std::filesystem::is_directory(Work("x.~blo")));
}

TEST_F(ContentSequenceTest, MasksMatchWithoutRegardToCase) {
    Put("2.R", "");
    Put("INFO_DOC.NOTE.ID 10.BLO", "upper");  // handed over; its key keeps "BLO" and fails
    m_owner.SetCurrentLogPath(Work("x.log"));

    EXPECT_EQ(Install(), 2);

    EXPECT_EQ(Article(2, "note"), std::optional<std::string>(""));
    EXPECT_NE(ReadFile(Work("x.log")).find("where (ID=10)and(BLO)\r\n"), std::string::npos);
    EXPECT_EQ(DirectoryEntries(m_work),
              (std::vector<std::string>{"2.~r", "INFO_DOC.NOTE.ID 10.~blo", "x.log"}));
}

}  // namespace

namespace {

TEST_F(ContentSequenceTest, MultibyteNamesAreHandledAsBytes) {
    const std::string script = "\xD0\xBE\xD0\xBD\xD0\xBE\xD0\xB2.lsql";  // "онов.lsql" in UTF-8
    Put(script, "update ARTICLE set ext = 'doc' where id = 1;\r\n");
    Put("\xD1\x84.blo", "x");  // "ф.blo": no dots left, fails and is logged

    EXPECT_EQ(Install(), 2);

    EXPECT_EQ(m_owner.journal, std::vector<std::string>{script});
    EXPECT_EQ(m_fileLabel.captions,
              (std::vector<std::string>{script + " (1/1)", "\xD1\x84.blo (1/1)"}));
    EXPECT_EQ(QueryColumn(m_database, "select ext from ARTICLE where id = 1"),
              std::vector<std::string>{"doc"});
    EXPECT_EQ(ReadFile(Work(script + ".log"))
                  .rfind("update  set  = : where (\xD1\x84)\r\n\n" + kSeparator, 0),
              0u);
    EXPECT_EQ(DirectoryEntries(m_work),
              (std::vector<std::string>{script + ".log", "\xD0\xBE\xD0\xBD\xD0\xBE\xD0\xB2.l~lsql",
                                        "\xD1\x84.~blo"}));
}

}  // namespace
