#include "daostatement.h"
#include "daostorage.h"
#include "dbreasons.h"
#include "dbtestutil.h"
#include "recordsets.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>
#include <functional>

using namespace parvault;
using namespace dbtest;

namespace {

class Storage : public ::testing::Test {
protected:
    parvault::testing::TempDir dir;
    parvault::testing::ScopedCwd cwd{dir.path()};
};

TEST_F(Storage, NewListFileHasTheFixedSchemaReadableBack) {
    {
        CDaoDatabase db;
        db.Create(QStringLiteral("new.mdb"));
        CreateParamsTable(db);
        CreateListHeadTable(db);
    }
    CDaoDatabase db;
    db.Open(QStringLiteral("new.mdb"));
    CDaoTableDef params(&db);
    params.Open(kTableParams);
    const std::vector<std::pair<QString, short>> expected = {
        {"canal", dbLong}, {"param", dbLong}, {"index", dbLong}, {"edizm", dbLong},
        {"flag_dt", dbLong}, {"data", dbText}, {"text", dbMemo}, {"type_spiska", dbLong},
        {"type_zapros", dbLong}, {"kod_type_pribor", dbLong}};
    ASSERT_EQ(params.GetFieldCount(), 10);
    for (int i = 0; i < 10; ++i) {
        const CDaoFieldInfo f = params.GetFieldInfo(i);
        EXPECT_EQ(f.m_strName, expected[static_cast<size_t>(i)].first) << i;
        EXPECT_EQ(f.m_nType, expected[static_cast<size_t>(i)].second) << i;
        EXPECT_FALSE(f.m_bPrimaryKey) << i;
    }
    EXPECT_EQ(params.GetFieldInfo(5).m_lSize, 255);
    EXPECT_EQ(params.GetFieldInfo(0).m_lSize, 4);
    EXPECT_EQ(params.GetIndexCount(), 0);

    CDaoTableDef head(&db);
    head.Open(kTableListHead);
    ASSERT_EQ(head.GetFieldCount(), 3);
    EXPECT_EQ(head.GetFieldInfo(0).m_strName, "kod_type_pribor");
    EXPECT_EQ(head.GetFieldInfo(1).m_nType, dbText);
    EXPECT_EQ(head.GetFieldInfo(2).m_strName, "number");
    EXPECT_EQ(head.GetIndexCount(), 0);
}

TEST_F(Storage, OpenFailsForMissingFileNonDatabaseAndMissingTable) {
    CDaoDatabase db;
    EXPECT_THROW(db.Open(QStringLiteral("absent.mdb")), CDaoException);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("absent.mdb"))) << "opening must not create the file";

    std::ofstream(dir.file("text.mdb"), std::ios::binary) << "this is a plain text file, not a database at all\n";
    EXPECT_THROW(db.Open(QStringLiteral("text.mdb")), CDaoException);
    EXPECT_FALSE(db.IsOpen());

    exec(dir.file("other.mdb"), "CREATE TABLE t (a LONG)");
    db.Open(QStringLiteral("other.mdb"));
    CMySpisok head(&db);
    EXPECT_THROW(head.Open(), CDaoException);
    CDaoTableDef td(&db);
    EXPECT_THROW(td.Open(kTableListHead), CDaoException);

    // Creating over an existing file fails and leaves it alone.
    CDaoDatabase again;
    EXPECT_THROW(again.Create(QStringLiteral("text.mdb")), CDaoException);
    EXPECT_EQ(QFileInfo(QStringLiteral("text.mdb")).size(), 49);
}

TEST_F(Storage, MovingPastEitherEndAndOnEmptySetsRaises) {
    makeListFile(dir.file("l.mdb"), 5, "x", {{1, 10, 0, 0, 0, 5, "a"}, {2, 20, 0, 0, 0, 5, "b"}});
    CDaoDatabase db;
    db.Open(QStringLiteral("l.mdb"));
    CParametr rs(&db);
    rs.Open();
    EXPECT_FALSE(rs.IsEOF());
    EXPECT_EQ(rs.canal, 1);
    rs.MoveNext();
    EXPECT_EQ(rs.canal, 2);
    rs.MoveNext();
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_THROW(rs.MoveNext(), CDaoException);
    EXPECT_THROW(rs.Edit(), CDaoException);
    rs.MoveLast();
    rs.MovePrev();
    rs.MovePrev();
    EXPECT_TRUE(rs.IsBOF());
    EXPECT_THROW(rs.MovePrev(), CDaoException);
    rs.Close();

    CParametr none(&db);
    none.m_strFilter = ParamFilter(17);
    none.Open();
    EXPECT_TRUE(none.IsEOF());
    EXPECT_TRUE(none.IsBOF());
    EXPECT_THROW(none.MoveFirst(), CDaoException);
    EXPECT_THROW(none.MoveLast(), CDaoException);
}

TEST_F(Storage, FilterIsTwoDigitCodeAndSortCoversTheIndexField) {
    EXPECT_EQ(ParamFilter(5), "kod_type_pribor=05");
    EXPECT_EQ(ParamFilter(17), "kod_type_pribor=17");
    makeListFile(dir.file("l.mdb"), 5, "x",
                 {{1, 10, 2, 0, 1, 5, "c"}, {1, 10, 0, 0, 1, 5, "a"}, {0, 99, 0, 0, 0, 5, "first"},
                  {1, 10, 1, 0, 1, 5, "b"}, {1, 10, 0, 0, 0, 6, "other type"}});
    CDaoDatabase db;
    db.Open(QStringLiteral("l.mdb"));
    CParametr rs(&db);
    rs.m_strFilter = ParamFilter(5);
    rs.m_strSort = kParamSort;
    rs.Open();
    QStringList names;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext())
        names << rs.text;
    EXPECT_EQ(names, QStringList({"first", "a", "b", "c"}));
}

TEST_F(Storage, AddNewStoresOnlyAssignedFieldsAndEmptyAsNull) {
    makeListFile(dir.file("l.mdb"), 5, "x");
    {
        CDaoDatabase db;
        db.Open(QStringLiteral("l.mdb"));
        CParametr rs(&db);
        rs.Open();
        rs.AddNew();
        rs.canal = 0; // an assigned zero is a value, not an empty field
        rs.param = 12;
        rs.text = QStringLiteral("1.50"); // a name that looks like a number stays as typed
        rs.Update();
    }
    EXPECT_EQ(query(dir.file("l.mdb"), "SELECT * FROM [Параметры]"),
              std::vector<std::string>({"0|12|NULL|NULL|NULL|NULL|1.50|NULL|NULL|NULL"}));
}

TEST_F(Storage, EditWritesAssignedFieldsAndTurnsNullIntoZeroWhenAssigned) {
    makeListFile(dir.file("l.mdb"), 5, "x", {{3, 30, 0, 4, 0, 5, "name"}});
    {
        CDaoDatabase db;
        db.Open(QStringLiteral("l.mdb"));
        CParametr rs(&db);
        rs.Open();
        EXPECT_EQ(rs.flag_dt, 0);      // Null reads as 0
        EXPECT_EQ(rs.data, QString()); // and as an empty text
        rs.Edit();
        rs.flag_dt = 0;
        rs.data = QStringLiteral("Нет данных");
        rs.Update();
        EXPECT_EQ(rs.data, QStringLiteral("Нет данных"));
    }
    EXPECT_EQ(query(dir.file("l.mdb"), "SELECT flag_dt, data, edizm, type_spiska FROM [Параметры]"),
              std::vector<std::string>({"0|Нет данных|4|7"}));
}

TEST_F(Storage, TableTypeRecordSetDeletesEveryRecord) {
    makeListFile(dir.file("l.mdb"), 5, "x", {{1, 1, 0, 0, 0, 5, "a"}, {1, 2, 0, 0, 0, 5, "b"}, {1, 3, 0, 0, 0, 5, "c"}});
    CDaoDatabase db;
    db.Open(QStringLiteral("l.mdb"));
    CDaoTableDef td(&db);
    td.Open(kTableParams);
    CDaoRecordset rs(&db);
    rs.Open(&td, dbOpenTable);
    int deleted = 0;
    while (!rs.IsEOF()) {
        rs.Delete();
        rs.MoveNext();
        ++deleted;
    }
    EXPECT_EQ(deleted, 3);
    EXPECT_EQ(query(dir.file("l.mdb"), "SELECT count(*) FROM [Параметры]"), std::vector<std::string>({"0"}));
}

TEST_F(Storage, TransactionRollsBackUnlessCommitted) {
    makeListFile(dir.file("l.mdb"), 5, "x", {{1, 1, 0, 0, 0, 5, "a"}});
    CDaoDatabase db;
    db.Open(QStringLiteral("l.mdb"));
    {
        DaoTransaction tx(db);
        CParametr rs(&db);
        rs.Open();
        rs.Edit();
        rs.text = QStringLiteral("changed");
        rs.Update();
    }
    EXPECT_EQ(query(dir.file("l.mdb"), "SELECT text FROM [Параметры]"), std::vector<std::string>({"a"}));
    {
        DaoTransaction tx(db);
        CParametr rs(&db);
        rs.Open();
        rs.Edit();
        rs.text = QStringLiteral("changed");
        rs.Update();
        tx.Commit();
    }
    EXPECT_EQ(query(dir.file("l.mdb"), "SELECT text FROM [Параметры]"), std::vector<std::string>({"changed"}));
}

TEST_F(Storage, CommittingTwiceOrAfterARollbackIsAnError) {
    makeListFile(dir.file("l.mdb"), 5, "x", {{1, 1, 0, 0, 0, 5, "a"}});
    CDaoDatabase db;
    db.Open(QStringLiteral("l.mdb"));
    {
        DaoTransaction tx(db);
        db.Execute(QStringLiteral("UPDATE [Параметры] SET text='committed'"));
        tx.Commit();
        EXPECT_THROW(tx.Commit(), CDaoException);
        EXPECT_THROW(tx.Rollback(), CDaoException);
    }
    EXPECT_EQ(query(dir.file("l.mdb"), "SELECT text FROM [Параметры]"), std::vector<std::string>({"committed"}));
    {
        DaoTransaction tx(db);
        db.Execute(QStringLiteral("UPDATE [Параметры] SET text='rolled back'"));
        tx.Rollback();
        EXPECT_THROW(tx.Commit(), CDaoException);
        EXPECT_THROW(tx.Rollback(), CDaoException);
        // The connection is free for the next transaction.
        DaoTransaction next(db);
        next.Commit();
    }
    EXPECT_EQ(query(dir.file("l.mdb"), "SELECT text FROM [Параметры]"), std::vector<std::string>({"committed"}));
}

// A commit that failed (the file held by another connection) may be tried
// again; only a commit that went through ends the transaction.
TEST_F(Storage, ACommitThatFailedCanBeTriedAgain) {
    makeListFile(dir.file("l.mdb"), 5, "x", {{1, 1, 0, 0, 0, 5, "a"}});
    CDaoDatabase db;
    db.Open(QStringLiteral("l.mdb"));
    CDaoDatabase reader;
    reader.Open(QStringLiteral("l.mdb"));
    DaoTransaction tx(db);
    db.Execute(QStringLiteral("UPDATE [Параметры] SET text='changed'"));
    {
        DaoStatement reading(reader.handle(), "SELECT text FROM [Параметры]");
        ASSERT_TRUE(reading.step()); // holds a read lock until reset
        try {
            tx.Commit();
            ADD_FAILURE() << "committed past a reader";
        } catch (const CDaoException& e) {
            EXPECT_EQ(e.sqliteCode() & 0xFF, SQLITE_BUSY);
        }
    }
    tx.Commit();
    EXPECT_EQ(query(dir.file("l.mdb"), "SELECT text FROM [Параметры]"), std::vector<std::string>({"changed"}));
}

// What a storage call raised: SQLite's code and the message, or nothing.
struct Raised {
    bool raised = false;
    int code = 0;
    std::string what;
};

Raised raisedBy(const std::function<void()>& call) {
    try {
        call();
    } catch (const CDaoException& e) {
        return {true, e.sqliteCode(), e.what()};
    }
    return {};
}

TEST_F(Storage, SqliteFailuresRaiseTheStorageExceptionWithSqlitesCodeAndMessage) {
    makeListFile(dir.file("l.mdb"), 5, "x", {{1, 1, 0, 0, 0, 5, "a"}});
    {
        CDaoDatabase db;
        db.Open(QStringLiteral("l.mdb"), false, true);
        CParametr rs(&db);
        rs.Open();
        rs.Edit();
        rs.text = QStringLiteral("changed");
        const Raised update = raisedBy([&] { rs.Update(); });
        EXPECT_TRUE(update.raised);
        EXPECT_EQ(update.code, SQLITE_READONLY);
        EXPECT_THAT(update.what, ::testing::HasSubstr("update failed: attempt to write a readonly database"));
        EXPECT_EQ(raisedBy([&] { db.Execute(QStringLiteral("DELETE FROM [Параметры]")); }).code, SQLITE_READONLY);
    }
    EXPECT_EQ(query(dir.file("l.mdb"), "SELECT text FROM [Параметры]"), std::vector<std::string>({"a"}));

    // A file that is not a database is refused at open with SQLite's code.
    std::ofstream(dir.file("text.mdb")) << "this is a plain text file, not a database at all\n";
    CDaoDatabase text;
    const Raised open = raisedBy([&] { text.Open(QStringLiteral("text.mdb")); });
    EXPECT_EQ(open.code, SQLITE_NOTADB);
    EXPECT_THAT(open.what, ::testing::HasSubstr("not a database: text.mdb: file is not a database"));
}

// A failure the layer finds itself never reads as success (code 0): callers
// that sort failures by code (busy, gone, damaged) must not take it for one
// of theirs, and the message stays what it was.
TEST_F(Storage, FailuresFoundByTheLayerCarryTheNearestSqliteCodeAndTheirMessage) {
    makeListFile(dir.file("l.mdb"), 5, "x", {{1, 1, 0, 0, 0, 5, "a"}});
    CDaoDatabase db;
    const Raised closed = raisedBy([&] { db.Execute(QStringLiteral("DELETE FROM [Параметры]")); });
    EXPECT_EQ(closed.code, SQLITE_MISUSE);
    EXPECT_EQ(closed.what, "database is not open");

    db.Open(QStringLiteral("l.mdb"));
    const Raised twice = raisedBy([&] { db.Open(QStringLiteral("l.mdb")); });
    EXPECT_EQ(twice.code, SQLITE_MISUSE);
    EXPECT_EQ(twice.what, "database is already open");

    CParametr rs(&db);
    rs.Open();
    const Raised update = raisedBy([&] { rs.Update(); });
    EXPECT_EQ(update.code, SQLITE_MISUSE);
    EXPECT_EQ(update.what, "Update without AddNew or Edit");
    rs.MoveNext();
    const Raised past = raisedBy([&] { rs.MoveNext(); });
    EXPECT_EQ(past.code, SQLITE_NOTFOUND);
    EXPECT_EQ(past.what, "moved past the end of the record set");
    rs.Close();

    CDaoTableDef td(&db);
    const Raised noTable = raisedBy([&] { td.Open(QStringLiteral("nosuch")); });
    EXPECT_EQ(noTable.code, SQLITE_ERROR);
    EXPECT_EQ(noTable.what, "no such table: nosuch");
    td.Open(kTableParams);
    const Raised noField = raisedBy([&] { td.GetFieldInfo(10); });
    EXPECT_EQ(noField.code, SQLITE_RANGE);
    EXPECT_EQ(noField.what, "field index out of range");

    DaoTransaction tx(db);
    tx.Commit();
    const Raised ended = raisedBy([&] { tx.Commit(); });
    EXPECT_EQ(ended.code, SQLITE_MISUSE);
    EXPECT_EQ(ended.what, "transaction already committed");

    // The user is told what the layer said, as before the codes.
    EXPECT_EQ(whyUnusable(QStringLiteral("l.mdb"), CDaoException(past.what, past.code)).toStdString(),
              "ошибка базы данных (moved past the end of the record set)");
}

TEST_F(Storage, ADamagedTablePageRaisesCorruptWhenTheTableIsRead) {
    makeListFile(dir.file("l.mdb"), 5, "x", {{1, 1, 0, 0, 0, 5, "a"}, {2, 2, 0, 0, 0, 5, "b"}});
    const int page = std::stoi(query(dir.file("l.mdb"), "SELECT rootpage FROM sqlite_master WHERE name='Параметры'")[0]);
    const int pageSize = std::stoi(query(dir.file("l.mdb"), "PRAGMA page_size")[0]);
    {
        std::fstream f(dir.file("l.mdb"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(page - 1) * pageSize);
        const std::string garbage(static_cast<size_t>(pageSize), '\xA5');
        f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    CDaoDatabase db;
    db.Open(QStringLiteral("l.mdb")); // the schema page is intact
    CParametr rs(&db);
    const Raised read = raisedBy([&] { rs.Open(); });
    EXPECT_TRUE(read.raised);
    EXPECT_EQ(read.code & 0xFF, SQLITE_CORRUPT);
    EXPECT_FALSE(rs.IsOpen());
}

TEST_F(Storage, DeviceTypeRecordSetReadsTheFieldWithSpaces) {
    makeMainDb(dir.file("PARVLT2.mdb"), {{20, "Тепловычислитель"}}, {});
    CDaoDatabase db;
    db.Open(QStringLiteral("PARVLT2.mdb"));
    CSpisokHead types(&db);
    types.Open();
    EXPECT_EQ(types.kodTipaPribora, 20);
    EXPECT_EQ(types.naimTipaPribora, QStringLiteral("Тепловычислитель"));
    EXPECT_EQ(types.posledniyNomerSpiska, 0);
}

// The demo main database has what the program's main job shows.
TEST(DemoDatabase, HasGroupsOfEveryPictureAndRowsOfEveryKind) {
    const std::string db = PARVAULT_DEMO_DB;
    const auto codes = query(db, "SELECT КодТипаПрибора FROM ТипыПриборов");
    for (const char* code : {"5", "20", "21", "23", "26"})
        EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << code;
    EXPECT_EQ(query(db, "SELECT DISTINCT type_zapros FROM Параметры ORDER BY 1"),
              std::vector<std::string>({"0", "1", "25"}));
    EXPECT_NE(query(db, "SELECT count(*) FROM Параметры WHERE param < 300"), std::vector<std::string>({"0"}));
    EXPECT_NE(query(db, "SELECT count(*) FROM Параметры WHERE param >= 300"), std::vector<std::string>({"0"}));
    EXPECT_NE(query(db, "SELECT count(*) FROM Параметры WHERE [index] > 0"), std::vector<std::string>({"0"}));
    // Every template row belongs to a device type.
    EXPECT_EQ(query(db, "SELECT count(*) FROM Параметры WHERE kod_type_pribor NOT IN "
                        "(SELECT КодТипаПрибора FROM ТипыПриборов)"),
              std::vector<std::string>({"0"}));
}

} // namespace
