// The services manager of the embedded engine: a backup restored into a new database holds the
// rows, and the service's own errors reach the caller with their text.

#include <gtest/gtest.h>

#include <string>

#include "db/DbError.h"
#include "db/ServiceManager.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

namespace {

class ServiceManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CreateDatabase(m_database,
                       {"create table t (id integer primary key, s varchar(20))",
                        "insert into t values (1, 'one')", "insert into t values (2, 'two')"});
        m_service.Attach("", "SYSDBA", "masterkey");
    }

    CTempDir m_dir;
    std::string m_database = m_dir.File("source.fdb");
    std::string m_backup = m_dir.File("source.fbk");
    std::string m_restored = m_dir.File("restored.fdb");
    CServiceManager m_service;
};

TEST_F(ServiceManagerTest, BackupRestoredIntoANewDatabaseHoldsTheRows) {
    m_service.Backup(m_database, m_backup);
    ASSERT_GT(FileSize(m_backup), 0);
    m_service.Restore(m_backup, m_restored, false);
    EXPECT_EQ(QueryColumn(m_restored, "select s from t order by id"),
              (std::vector<std::string>{"one", "two"}));

    // Restoring again over the database needs `replace`; with it the rows are the backup's.
    ExecuteStatements(m_restored, {"delete from t"});
    EXPECT_THROW(m_service.Restore(m_backup, m_restored, false), CDbError);
    m_service.Restore(m_backup, m_restored, true);
    EXPECT_EQ(QueryColumn(m_restored, "select count(*) from t"), (std::vector<std::string>{"2"}));
}

TEST_F(ServiceManagerTest, ServiceErrorsCarryTheirText) {
    try {
        m_service.Backup(m_dir.File("missing.fdb"), m_backup);
        FAIL() << "a missing database was backed up";
    } catch (const CDbError& error) {
        EXPECT_NE(std::string(error.what()).find("missing.fdb"), std::string::npos) << error.what();
    }
    try {
        m_service.Restore(m_dir.File("missing.fbk"), m_restored, false);
        FAIL() << "a missing backup was restored";
    } catch (const CDbError& error) {
        EXPECT_NE(std::string(error.what()).find("missing.fbk"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(FileExists(m_restored));
}

}  // namespace
