// Damaged, empty, read-only and locked list files in the working folder:
// each is skipped or reported, never a crash, and the good lists stay usable.

#include "dbtestutil.h"

#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace parvault;
using namespace dbtest;

namespace {

constexpr int kFolderType = 5;
const QString kNotWritten = QStringLiteral("Данные не записываются\n");

std::vector<TemplateRow> Rows(int n) {
    std::vector<TemplateRow> rows;
    for (int i = 0; i < n; ++i)
        rows.push_back({1, 10 + i, 0, 0, 0, kFolderType, "Параметр " + std::to_string(i), std::to_string(i)});
    return rows;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The list numbers of the tree's lists, by file name.
std::map<std::string, int> ListsByFile(const ListFileTable& table) {
    std::map<std::string, int> out;
    for (int n = 1; n <= table.count; ++n)
        out[table.entry(n)->fileName.toStdString()] = n;
    return out;
}

class FolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        makeMainDb(w.file("PARVLT2.mdb"), {{kFolderType, "Корректор"}}, Rows(3));
        makeListFile(w.file("260101100000.mdb"), kFolderType, "Хороший", Rows(4));
        makeListFile(w.file("260101100100.mdb"), kFolderType, "Второй хороший", Rows(5));
        const std::string good = ReadBytes(w.file("260101100000.mdb"));
        WriteBytes(w.file("260101110000.mdb"), "");                          // empty
        WriteBytes(w.file("260101110100.mdb"), "Просто текст\r\n");          // text
        WriteBytes(w.file("260101110200.mdb"), good.substr(0, 1500));        // cut short
        std::string spoilt = good;                                           // pages spoilt
        for (size_t k = 100; k < spoilt.size(); k += 5)
            spoilt[k] = static_cast<char>(k * 37);
        WriteBytes(w.file("260101110300.mdb"), spoilt);
        std::string header = good;                                           // header spoilt
        header.replace(0, 16, "Not a database!!");
        WriteBytes(w.file("260101110400.mdb"), header);
        std::filesystem::create_directory(w.file("260101110500.mdb"));       // a folder
        // A list without its header row, and one without any tables.
        makeListFile(w.file("260101110600.mdb"), kFolderType, "Без заголовка", Rows(2));
        exec(w.file("260101110600.mdb"), "DELETE FROM [Список]");
        exec(w.file("260101110700.mdb"), "CREATE TABLE t (a)");
    }

    Workspace w;
};

} // namespace

TEST_F(FolderTest, DamagedAndEmptyFilesAreSkippedAndGoodListsLoad) {
    w.session.BuildTree();
    const auto lists = ListsByFile(w.session.listFileTable);
    EXPECT_EQ(lists.size(), 2u);
    ASSERT_TRUE(lists.count("260101100000.mdb"));
    ASSERT_TRUE(lists.count("260101100100.mdb"));
    w.session.LoadTreeItem(MakeItemData(lists.at("260101100000.mdb"), kFolderType));
    EXPECT_EQ(w.rows.rowCount(), 4);
    w.session.LoadTreeItem(MakeItemData(lists.at("260101100100.mdb"), kFolderType));
    EXPECT_EQ(w.rows.rowCount(), 5);
    EXPECT_TRUE(w.ui.messages.empty());
    // The damaged files are left as they were.
    EXPECT_EQ(ReadBytes(w.file("260101110100.mdb")), "Просто текст\r\n");
    EXPECT_EQ(std::filesystem::file_size(w.file("260101110000.mdb")), 0u);
}

TEST_F(FolderTest, AListDamagedAfterTheTreeWasBuiltLoadsNothingAndStoresNothing) {
    w.session.BuildTree();
    const int n = ListsByFile(w.session.listFileTable).at("260101100100.mdb");
    WriteBytes(w.file("260101100100.mdb"), "испорчен");
    w.session.LoadTreeItem(MakeItemData(n, kFolderType));
    EXPECT_EQ(w.rows.rowCount(), 0);
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text,
              "Список не загружается: файл 260101100100.mdb не открывается — файл повреждён.\n");
    w.ui.messages.clear();
    // Values stored into it: reported, the file left alone.
    w.session.LoadTreeItem(MakeItemData(ListsByFile(w.session.listFileTable).at("260101100000.mdb"), kFolderType));
    ASSERT_EQ(w.rows.rowCount(), 4);
    w.session.currentListNumber = n;
    w.session.SaveValues();
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text, kNotWritten);
    EXPECT_EQ(ReadBytes(w.file("260101100100.mdb")), "испорчен");
}

TEST_F(FolderTest, LockedListIsSkippedOrLoadsWholeAndShowsAgainOnceFree) {
    // The lock outlasts any wait: a short one is as good as the real one.
    SetDatabaseBusyWaitMs(200);
    struct RestoreWait {
        ~RestoreWait() { SetDatabaseBusyWaitMs(kDatabaseBusyWaitMs); }
    } restore;
    // Another program holds the file in the middle of a write.
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(w.file("260101100100.mdb").c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE; UPDATE [Параметры] SET data='x'", nullptr, nullptr, nullptr),
              SQLITE_OK);
    w.session.BuildTree();
    auto lists = ListsByFile(w.session.listFileTable);
    ASSERT_TRUE(lists.count("260101100000.mdb"));
    if (lists.count("260101100100.mdb")) {
        w.session.LoadTreeItem(MakeItemData(lists.at("260101100100.mdb"), kFolderType));
        EXPECT_TRUE(w.rows.rowCount() == 0 || w.rows.rowCount() == 5) << w.rows.rowCount();
    }
    // Storing values into a locked list is reported, not half done.
    w.ui.messages.clear();
    w.session.LoadTreeItem(MakeItemData(lists.at("260101100000.mdb"), kFolderType));
    sqlite3* holder2 = nullptr;
    ASSERT_EQ(sqlite3_open(w.file("260101100000.mdb").c_str(), &holder2), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder2, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    for (int i = 0; i < w.rows.rowCount(); ++i)
        w.rows.setText(i, ColValue, QStringLiteral("новое"));
    w.session.SaveValues();
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text, "Данные не записываются: файл 260101100000.mdb занят другой программой "
                                     "(ждали 0.2 с). Повторите позже.\n");
    sqlite3_exec(holder2, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder2);
    EXPECT_EQ(query(w.file("260101100000.mdb"), "SELECT count(*) FROM [Параметры] WHERE data='новое'"),
              std::vector<std::string>{"0"});

    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    w.session.BuildTree();
    lists = ListsByFile(w.session.listFileTable);
    ASSERT_TRUE(lists.count("260101100100.mdb"));
    w.session.LoadTreeItem(MakeItemData(lists.at("260101100100.mdb"), kFolderType));
    EXPECT_EQ(w.rows.rowCount(), 5);
}

// Read-only files need a user the permissions apply to: when the tests run as
// the superuser, this part runs in a child that has become "nobody".
TEST_F(FolderTest, ReadOnlyListLoadsAndAStoreIntoItIsReported) {
    const std::string ro = w.file("260101100100.mdb");
    ASSERT_EQ(chmod(ro.c_str(), 0444), 0);
    ASSERT_EQ(chmod(w.dir.path().c_str(), 0777), 0);
    for (const char* f : {"PARVLT2.mdb", "260101100000.mdb"})
        ASSERT_EQ(chmod(w.file(f).c_str(), 0666), 0);
    const std::string before = ReadBytes(ro);

    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(10);
            ScriptedUi ui;
            MemoryRowTable rows;
            DbSession session(ui, rows);
            session.BuildTree();
            const auto lists = ListsByFile(session.listFileTable);
            if (lists.size() != 2 || !lists.count("260101100100.mdb"))
                _exit(11);
            session.LoadTreeItem(MakeItemData(lists.at("260101100100.mdb"), kFolderType));
            if (rows.rowCount() != 5)
                _exit(12);
            for (int i = 0; i < rows.rowCount(); ++i)
                rows.setText(i, ColValue, QStringLiteral("новое"));
            session.SaveValues();
            if (ui.messages.size() != 1 || ui.messages[0].text != kNotWritten)
                _exit(13);
            // The other list still takes values.
            session.LoadTreeItem(MakeItemData(lists.at("260101100000.mdb"), kFolderType));
            rows.setText(0, ColValue, QStringLiteral("7"));
            session.SaveValues();
            _exit(ui.messages.size() == 1 ? 0 : 14);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadBytes(ro), before);
    EXPECT_EQ(query(w.file("260101100000.mdb"), "SELECT data FROM [Параметры] ORDER BY param LIMIT 1"),
              std::vector<std::string>{"7"});
}
