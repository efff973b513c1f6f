#include "daostatement.h"
#include "daostorage.h"
#include "dbtestutil.h"
#include "recordsets.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <utility>

using namespace parvault;
using namespace dbtest;

namespace {

// Statements still alive on a connection; SQLite counts them for us.
int liveStatements(const CDaoDatabase& db) {
    int n = 0;
    for (sqlite3_stmt* s = sqlite3_next_stmt(db.handle(), nullptr); s; s = sqlite3_next_stmt(db.handle(), s))
        ++n;
    return n;
}

class Statement : public ::testing::Test {
protected:
    void SetUp() override {
        exec(dir.file("t.mdb"), "CREATE TABLE t (a LONG); INSERT INTO t VALUES (1), (2), (3)");
        db.Open(QStringLiteral("t.mdb"));
    }
    parvault::testing::TempDir dir;
    parvault::testing::ScopedCwd cwd{dir.path()};
    CDaoDatabase db;
};

TEST_F(Statement, ResetStartsAgainAtTheFirstRowWithEveryParameterUnbound) {
    DaoStatement all(db.handle(), "SELECT a FROM t ORDER BY a");
    ASSERT_TRUE(all.step());
    ASSERT_TRUE(all.step());
    EXPECT_EQ(sqlite3_column_int(all.get(), 0), 2);
    all.reset();
    ASSERT_TRUE(all.step());
    EXPECT_EQ(sqlite3_column_int(all.get(), 0), 1);

    DaoStatement echo(db.handle(), "SELECT ?1");
    echo.bindInt64(1, 42);
    ASSERT_TRUE(echo.step());
    EXPECT_EQ(sqlite3_column_int(echo.get(), 0), 42);
    echo.reset();
    ASSERT_TRUE(echo.step());
    EXPECT_EQ(sqlite3_column_type(echo.get(), 0), SQLITE_NULL);
}

TEST_F(Statement, ExecuteLeavesItReadyToRunAgain) {
    DaoStatement insert(db.handle(), "INSERT INTO t VALUES (?1)");
    insert.bindInt64(1, 7);
    insert.execute("insert failed");
    insert.execute("insert failed"); // no reset needed in between
    EXPECT_EQ(query(dir.file("t.mdb"), "SELECT count(*) FROM t WHERE a=7"), std::vector<std::string>({"2"}));
}

TEST_F(Statement, FailuresRaiseTheStorageExceptionWithSqlitesCode) {
    try {
        DaoStatement missing(db.handle(), "SELECT a FROM nosuchtable");
        ADD_FAILURE() << "a statement on a missing table was prepared";
    } catch (const CDaoException& e) {
        EXPECT_EQ(e.sqliteCode(), SQLITE_ERROR);
        EXPECT_STREQ(e.what(), "prepare failed (SELECT a FROM nosuchtable): no such table: nosuchtable");
    }

    DaoStatement echo(db.handle(), "SELECT ?1");
    try {
        echo.bindInt64(2, 1);
        ADD_FAILURE() << "a parameter that is not there was bound";
    } catch (const CDaoException& e) {
        EXPECT_EQ(e.sqliteCode(), SQLITE_RANGE);
        EXPECT_STREQ(e.what(), "bind failed: column index out of range");
    }
    // Longer than the connection allows: refused, not bound as Null.
    sqlite3_limit(db.handle(), SQLITE_LIMIT_LENGTH, 100);
    try {
        echo.bindText(1, QByteArray(200, 'x'));
        ADD_FAILURE() << "an over-long text was bound";
    } catch (const CDaoException& e) {
        EXPECT_EQ(e.sqliteCode(), SQLITE_TOOBIG);
    }
}

TEST(CheckSqlite, PassesSuccessAndRowResultsAndRaisesTheRestEvenWithoutAConnection) {
    EXPECT_EQ(checkSqlite(nullptr, SQLITE_OK, "x"), SQLITE_OK);
    EXPECT_EQ(checkSqlite(nullptr, SQLITE_ROW, "x"), SQLITE_ROW);
    EXPECT_EQ(checkSqlite(nullptr, SQLITE_DONE, "x"), SQLITE_DONE);
    try {
        checkSqlite(nullptr, SQLITE_NOMEM, "cannot open a.mdb");
        ADD_FAILURE() << "no exception";
    } catch (const CDaoException& e) {
        EXPECT_EQ(e.sqliteCode(), SQLITE_NOMEM);
        EXPECT_EQ(e.systemErrno(), 0);
        EXPECT_STREQ(e.what(), "cannot open a.mdb: out of memory");
    }
}

TEST_F(Statement, IsFinalizedWhenItGoesOrIsReplacedAndMovesWithoutACopy) {
    {
        DaoStatement first(db.handle(), "SELECT a FROM t");
        EXPECT_EQ(liveStatements(db), 1);
        DaoStatement moved(std::move(first));
        EXPECT_FALSE(first.isValid()); // NOLINT(bugprone-use-after-move): a moved-from statement holds nothing
        EXPECT_TRUE(moved.isValid());
        EXPECT_EQ(moved.sql(), "SELECT a FROM t");
        EXPECT_EQ(liveStatements(db), 1);
        ASSERT_TRUE(moved.step());

        moved = DaoStatement(db.handle(), "SELECT count(*) FROM t");
        EXPECT_EQ(liveStatements(db), 1) << "the replaced statement must be finalized";
        ASSERT_TRUE(moved.step());
        EXPECT_EQ(sqlite3_column_int(moved.get(), 0), 3);
    }
    EXPECT_EQ(liveStatements(db), 0);
}

TEST_F(Statement, ARecordSetKeepsOneWriteStatementAndLetsItGoAtClose) {
    makeListFile(dir.file("l.mdb"), 5, "x");
    CDaoDatabase list;
    list.Open(QStringLiteral("l.mdb"));
    CParametr rs(&list);
    rs.Open();
    for (int canal = 1; canal <= 3; ++canal) {
        rs.AddNew();
        rs.canal = canal;
        rs.Update();
    }
    EXPECT_EQ(liveStatements(list), 1);
    rs.Close();
    EXPECT_EQ(liveStatements(list), 0);
    EXPECT_EQ(query(dir.file("l.mdb"), "SELECT canal FROM [Параметры] ORDER BY canal"),
              std::vector<std::string>({"1", "2", "3"}));
}

} // namespace
