// The database session: connection string, defaults and the version query on real databases.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "db/DbError.h"
#include "db/FetchRows.h"
#include "db/Statement.h"
#include "db/Uglobdb.h"
#include "platform/FileSystem.h"
#include "tests/support/SilentServer.h"
#include "tests/support/TestSupport.h"

namespace {

class GlobDbTest : public ::testing::Test {
  protected:
    // A database whose `versions` has a `data` column of the given type and the given rows
    // (pairs of update_date and data as SQL literals).
    std::string MakeDatabase(const std::string& dataType,
                             const std::vector<std::pair<std::string, std::string>>& rows) {
        const std::string path = m_dir.File("v" + std::to_string(m_count++) + ".fdb");
        std::vector<std::string> statements{"create table versions (id integer, data " + dataType +
                                            ", update_date timestamp)"};
        for (const auto& [date, data] : rows) {
            statements.push_back("insert into versions (data, update_date) values (" + data +
                                 ", '" + date + "')");
        }
        CreateDatabase(path, statements);
        return path;
    }

    int32_t VersionOf(const std::string& path) {
        CGlobDB session(m_dir.Path());
        session.Connect("", path, "", "");
        return session.GetVersion();
    }

    std::string CurrentUser(CGlobDB& session) {
        auto rows = FetchRows(session.GetDatabase().DefaultTransaction(),
                              "select current_user from rdb$database");
        return rows.at(0).at(0).value.text;
    }

    CTempDir m_dir;
    int m_count = 0;
};

TEST_F(GlobDbTest, EmbeddedSessionBoundsItsPageCache) {
    // The engine's default of 2,048 pages would be 16 MB of the updater's memory.
    const std::string path = MakeDatabase("integer", {});
    const std::string pageBuffers = "select mon$page_buffers from mon$database";
    EXPECT_EQ(QueryColumn(path, pageBuffers), std::vector<std::string>{"2048"});
    CGlobDB session(m_dir.Path());
    session.Connect("", path, "", "");
    const std::vector<CDbRow> rows =
        FetchRows(session.GetDatabase().DefaultTransaction(), pageBuffers);
    EXPECT_EQ(rows.at(0).at(0).value.integer, kEmbeddedPageBuffers);
}

TEST_F(GlobDbTest, DatabaseInACyrillicDirectoryIsThatFile) {
    // Whatever the caller's locale, the bytes of the path name the file.
    const std::string path = m_dir.File("Тессара/Бібліотека.fdb");
    ASSERT_TRUE(MakeDirectory(m_dir.File("Тессара")));
    CreateDatabase(path, {"create table versions (id integer, data integer, "
                          "update_date timestamp)",
                          "insert into versions (data, update_date) values (238, '2024-05-01')"});
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(VersionOf(path), 238);
}

TEST_F(GlobDbTest, VersionComesFromTheNewestRow) {
    EXPECT_EQ(VersionOf(MakeDatabase("integer", {})), 0);
    // The later row wins although its value is smaller.
    EXPECT_EQ(VersionOf(MakeDatabase(
                  "integer", {{"2024-05-02", "238"}, {"2024-05-03", "17"}, {"2024-05-01", "500"}})),
              17);
    EXPECT_EQ(VersionOf(MakeDatabase("integer", {{"2024-05-02", "238"}, {"2024-05-03", "null"}})),
              0);
}

TEST_F(GlobDbTest, VersionIsReadFromOtherColumnTypes) {
    EXPECT_EQ(VersionOf(MakeDatabase("varchar(10)", {{"2024-05-03", "'238'"}})), 238);
    EXPECT_EQ(VersionOf(MakeDatabase("char(10)", {{"2024-05-03", "'-5'"}})), -5);
    EXPECT_EQ(VersionOf(MakeDatabase("bigint", {{"2024-05-03", "2147483647"}})), 2147483647);
    // Fractions are truncated toward zero.
    EXPECT_EQ(VersionOf(MakeDatabase("numeric(10,2)", {{"2024-05-03", "12.75"}})), 12);
    EXPECT_EQ(VersionOf(MakeDatabase("numeric(10,2)", {{"2024-05-03", "-12.75"}})), -12);
    EXPECT_EQ(VersionOf(MakeDatabase("double precision", {{"2024-05-03", "-7.9"}})), -7);
}

TEST_F(GlobDbTest, NonIntegerTextIsAnError) {
    const std::string path = MakeDatabase("varchar(10)", {{"2024-05-03", "'12.5a'"}});
    CGlobDB session(m_dir.Path());
    session.Connect("", path, "", "");
    try {
        session.GetVersion();
        FAIL() << "no error for a non-integer version";
    } catch (const CDbError& e) {
        EXPECT_STREQ(e.what(), "'12.5a' is not a valid integer value");
    }
    // The query neither commits nor rolls back.
    EXPECT_TRUE(session.GetDatabase().DefaultTransaction().IsActive());
}

TEST_F(GlobDbTest, MissingVersionsTableIsTheServerError) {
    const std::string path = m_dir.File("empty.fdb");
    CreateDatabase(path, {});
    CGlobDB session(m_dir.Path());
    session.Connect("", path, "", "");
    try {
        session.GetVersion();
        FAIL() << "no error without table versions";
    } catch (const CDbError& e) {
        EXPECT_NE(std::string(e.what()).find("Table unknown\n-VERSIONS"), std::string::npos)
            << e.what();
    }
}

TEST_F(GlobDbTest, MissingDatabaseGivesTheClientMessage) {
    const std::string missing = m_dir.File("missing.fdb");
    CGlobDB session(m_dir.Path());
    try {
        session.Connect("", missing, "", "");
        FAIL() << "connected to a missing database";
    } catch (const CDbError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(
                      "I/O error during \"open\" operation for file \"" + missing + "\"", 0),
                  0u)
            << e.what();
    }
    EXPECT_FALSE(session.GetDatabase().Attachment().IsOpen());
    EXPECT_FALSE(session.GetDatabase().DefaultTransaction().IsActive());
}

TEST_F(GlobDbTest, ServerNameIsTrimmedAndPathKeptAsPassed) {
    const std::string path = MakeDatabase("integer", {{"2024-05-03", "5"}});
    CGlobDB session(m_dir.Path());

    // Nothing listens on port 1, so the attempt fails at once.
    EXPECT_THROW(session.Connect(" \t127.0.0.1/1 ", path, "", ""), CDbError);
    EXPECT_EQ(session.ConnectionString(), "127.0.0.1/1:" + path);

    // Without a server the path is used unchanged, trailing blanks included.
    session.Connect(" \t ", path + "  ", "", "");
    EXPECT_EQ(session.ConnectionString(), path + "  ");
    EXPECT_EQ(session.GetVersion(), 5);
}

TEST_F(GlobDbTest, BlankPathMeansTheDefaultDatabase) {
    CreateDatabase(m_dir.File("velmora.fdb"),
                   {"create table versions (data integer, update_date date)",
                    "insert into versions values (237, '2024-01-01')"});
    CGlobDB session(m_dir.Path());
    session.Connect("", " \t\r\n", "", "");
    EXPECT_EQ(session.ConnectionString(), m_dir.Path() + "/velmora.fdb");
    EXPECT_EQ(session.GetVersion(), 237);
}

TEST_F(GlobDbTest, EmptyUserNameMeansTheAdministrator) {
    const std::string path = MakeDatabase("integer", {});
    CGlobDB session(m_dir.Path());

    session.Connect("", path, "", "any password");
    EXPECT_EQ(CurrentUser(session), "SYSDBA");
    EXPECT_TRUE(session.GetDatabase().DefaultTransaction().IsActive());

    // A given user name is passed on (the embedded engine accepts any password).
    session.Connect("", path, "reader", "secret");
    EXPECT_EQ(CurrentUser(session), "READER");
    EXPECT_TRUE(session.GetDatabase().DefaultTransaction().IsActive());
}

TEST_F(GlobDbTest, ReconnectDropsUncommittedWorkOfTheOldConnection) {
    const std::string first = MakeDatabase("integer", {{"2024-05-03", "1"}});
    const std::string second = MakeDatabase("integer", {{"2024-05-03", "2"}});
    CGlobDB session(m_dir.Path());
    session.Connect("", first, "", "");

    CSqlStatement statement(session.GetDatabase());
    statement.SetText("insert into versions (data, update_date) values (9, '2030-01-01')");
    statement.Execute();

    session.Connect("", second, "", "");
    EXPECT_EQ(session.GetVersion(), 2);
    EXPECT_EQ(QueryColumn(first, "select data from versions"), (std::vector<std::string>{"1"}));
}

TEST_F(GlobDbTest, SessionNamesItselfSeesOtherAttachmentsAndReadsCommittedVersions) {
    const std::string path = MakeDatabase("integer", {{"2024-05-03", "237"}});
    CDatabase other;
    other.Attachment().Attach(path, "SYSDBA", "masterkey",
                              CClientIdentity{"C:\\Tessara\\tessara.exe", 4242});
    CGlobDB session(m_dir.Path());
    session.Connect("", path, "", "");

    std::vector<std::string> processes;
    for (const CAttachmentInfo& attachment : session.OtherAttachments()) {
        processes.push_back(attachment.process);
    }
    EXPECT_NE(std::find(processes.begin(), processes.end(), "C:\\Tessara\\tessara.exe"),
              processes.end());
    EXPECT_EQ(std::find(processes.begin(), processes.end(), kUpdaterProcessName), processes.end())
        << "our own attachment is not among the others";

    // The other attachment sees the session under its name and process id.
    other.DefaultTransaction().Start();
    const std::vector<CDbRow> named =
        FetchRows(other.DefaultTransaction(),
                  "select MON$REMOTE_PID from MON$ATTACHMENTS where MON$REMOTE_PROCESS = '" +
                      std::string(kUpdaterProcessName) + "'");
    other.DefaultTransaction().Commit();
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named[0].at(0).value.integer, getpid());

    // A version committed by another connection after the session connected: the session's
    // snapshot still shows the old one, a fresh read the new one.
    CSqlStatement update(other);
    update.SetText("update versions set data = 238");
    RunInOwnTransaction(other.DefaultTransaction(), [&] { update.Execute(); });
    EXPECT_EQ(session.GetVersion(), 237);
    EXPECT_EQ(session.ReadCommittedVersion(), 238);
    EXPECT_TRUE(session.GetDatabase().DefaultTransaction().IsActive());
}

TEST(GlobDbPointer, IsSetProcessWide) {
    CGlobDB session("/nowhere");
    CGlobDB* previous = GlobDB();
    SetGlobDB(&session);
    EXPECT_EQ(GlobDB(), &session);
    SetGlobDB(previous);
}

}  // namespace

TEST(GlobDbServer, ServerThatNeverAnswersFailsTheConnectionAfterTheTimeout) {
    CSilentServer server;
    CTempDir dir;
    CGlobDB session(dir.Path());
    session.SetConnectTimeout(2);
    const auto start = std::chrono::steady_clock::now();
    try {
        session.Connect("127.0.0.1/" + std::to_string(server.Port()), "/nowhere/lib.gdb", "", "");
        FAIL() << "attached to a server that never answers";
    } catch (const CDbError& error) {
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(took, 1.5);
        EXPECT_LT(took, 10.0);
        EXPECT_TRUE(session.IsConnectTimeout(error, took)) << error.what();
        EXPECT_FALSE(session.IsConnectTimeout(error, 0.1));
    }
    // The probe of a running call's server asks a new connection the same way.
    EXPECT_FALSE(session.ServerAnswers());
}
