// Database errors: the client library's text and the error codes of the status vector, by which
// callers tell a lost connection or a refused statement apart without reading the text.

#include <gtest/gtest.h>
#include <ibase.h>

#include "db/DbError.h"
#include "tests/db/ScratchDatabase.h"

namespace {

class DbErrorTest : public ScratchDatabaseTest {
  protected:
    // The error of one statement run in its own transaction.
    CDbError ErrorOf(const std::string& sql) {
        try {
            Run(sql);
        } catch (const CDbError& e) {
            return e;
        }
        ADD_FAILURE() << "no error for: " << sql;
        return CDbError("no error");
    }
};

TEST_F(DbErrorTest, AttachToMissingDatabaseGivesClientTextAndCodes) {
    CAttachment attachment;
    const std::string missing = m_dir.File("missing.fdb");
    try {
        attachment.Attach(missing, "SYSDBA", "masterkey");
        FAIL() << "attached to a missing database";
    } catch (const CDbError& e) {
        EXPECT_EQ(std::string(e.what()), "I/O error during \"open\" operation for file \"" +
                                             missing +
                                             "\"\n-Error while trying to open file\n"
                                             "-No such file or directory");
        EXPECT_EQ(e.Code(), isc_io_error);
        EXPECT_TRUE(e.Has(isc_io_open_err));
    }
    EXPECT_FALSE(attachment.IsOpen());
}

TEST_F(DbErrorTest, StatementErrorsCarryEveryCodeOfTheirVector) {
    // The first code names the kind of failure; the later ones (found after the numeric
    // argument of "SQL error code = -204") tell the details.
    const CDbError unknownTable = ErrorOf("insert into nowhere values (1)");
    EXPECT_EQ(unknownTable.Code(), isc_dsql_error);
    EXPECT_EQ(unknownTable.Codes(),
              (std::vector<DbErrorCode>{isc_dsql_error, isc_sqlerr, isc_dsql_relation_err,
                                        isc_random, isc_dsql_line_col_error}));
    EXPECT_FALSE(unknownTable.Has(isc_no_dup));

    Run("create unique index t_id on t (id)");
    Run("insert into t (id) values (1)");
    const CDbError duplicate = ErrorOf("insert into t (id) values (1)");
    EXPECT_EQ(duplicate.Code(), isc_no_dup);
    EXPECT_TRUE(duplicate.Has(isc_idx_key_value));
    // Refusals of one statement leave the database usable.
    EXPECT_FALSE(IsLostDatabase(unknownTable));
    EXPECT_FALSE(IsLostDatabase(duplicate));

    // A marker that scanning left alone: the refusal that made the statement try a cursor is
    // the error that comes back, with its codes.
    const CDbError refused = ErrorOf("select 1 from rdb$database where ? is null");
    EXPECT_EQ(refused.Code(), isc_dsql_error);
    EXPECT_TRUE(refused.Has(isc_dsql_sqlda_err));
}

TEST_F(DbErrorTest, LostConnectionIsTheShutdownCode) {
    ExecuteStatements(
        m_path, {"delete from mon$attachments where mon$attachment_id <> current_connection"});

    const CDbError lost = ErrorOf("insert into t (id) values (2)");
    EXPECT_STREQ(lost.what(), "connection shutdown");
    EXPECT_EQ(lost.Code(), isc_att_shutdown);
    EXPECT_TRUE(IsLostDatabase(lost));
}

TEST_F(DbErrorTest, ErrorsOfTheWrapperItselfHaveNoCode) {
    try {
        Transaction().Commit();
        FAIL() << "committed a transaction that was never started";
    } catch (const CDbError& e) {
        EXPECT_STREQ(e.what(), "The transaction is not active");
        EXPECT_EQ(e.Code(), 0);
        EXPECT_TRUE(e.Codes().empty());
        EXPECT_FALSE(e.Has(0));
    }
}

}  // namespace
