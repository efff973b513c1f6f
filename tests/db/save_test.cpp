#include "dbtestutil.h"
#include "recordsets.h"

#include <gtest/gtest.h>

#include <QFile>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace parvault;
using namespace dbtest;

namespace {

const QDateTime kNow(QDate(2017, 3, 8), QTime(14, 5, 9));

// Template rows of type 20 (edizm, kinds and a template value that must not
// be carried), and one row of type 21.
const std::vector<TemplateRow> kSaveTemplates = {
    {0, 1, 0, 0, 0, 20, "Заводской номер", "шаблон"},
    {1, 10, 0, 1, 0, 20, "Температура"},
    {1, 100, 0, 0, 1, 20, "Константа, точка 0"},
    {1, 100, 1, 0, 1, 20, "Константа, точка 1"},
    {1, 350, 0, 0, 25, 20, "Архив часовой"},
    {0, 1, 0, 0, 0, 21, "Чужой"},
};

struct SaveFixture : ::testing::Test {
    Workspace w;
    void SetUp() override {
        makeMainDb(w.file("PARVLT2.mdb"), {{20, "Тепловычислитель"}, {21, "Счётчик"}, {23, "Регулятор"}}, kSaveTemplates);
        w.session.clock = [this] { return now; };
        w.session.BuildTree();
    }
    void select(std::initializer_list<int> rows) {
        for (int r : rows)
            w.rows.setSelected(r, true);
    }
    std::vector<std::string> params(const std::string& file) {
        return query(w.file(file), "SELECT * FROM [Параметры] ORDER BY rowid");
    }
    std::vector<std::string> head(const std::string& file) {
        return query(w.file(file), "SELECT * FROM [Список]");
    }
    QDateTime now = kNow;
};

TEST(ListFileName, TwoDigitsEachFromTheLocalTime) {
    EXPECT_EQ(ListFileNameFor(kNow), "170308140509.mdb");
    EXPECT_EQ(ListFileNameFor(QDateTime(QDate(2000, 12, 31), QTime(0, 0, 0))), "001231000000.mdb");
}

TEST_F(SaveFixture, SelectedRowsAreSavedWithTheCarriedFieldsOnly) {
    w.session.LoadTreeItem(20);
    select({0, 2, 4});
    w.rows.setText(0, ColValue, QStringLiteral("read from the device")); // not saved here
    w.ui.listNames.push_back(QStringLiteral("Мой список"));
    w.session.SaveList();

    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_EQ(params("170308140509.mdb"),
              std::vector<std::string>({"0|1|0|0|NULL|NULL|Заводской номер|NULL|0|20",
                                        "1|100|0|0|NULL|NULL|Константа, точка 0|NULL|1|20",
                                        "1|350|0|0|NULL|NULL|Архив часовой|NULL|25|20"}));
    EXPECT_EQ(head("170308140509.mdb"), std::vector<std::string>({"20|Мой список|NULL"}));

    // The tree was rebuilt with the new list under its type.
    const TreeNode* heat = child(w.ui.lastTree, "Тепловычислитель");
    ASSERT_NE(heat, nullptr);
    ASSERT_EQ(heat->children.size(), 1u);
    EXPECT_EQ(heat->children[0].text, "Мой список");
    EXPECT_EQ(w.session.currentDatabase.GetName(), "PARVLT2.mdb");
    EXPECT_EQ(w.session.currentTypeCode, 20);
    EXPECT_EQ(w.session.currentListNumber, 0);
    // The list and its selection are untouched.
    EXPECT_EQ(w.rows.rowCount(), 5);
    EXPECT_TRUE(w.rows.isSelected(2));
    EXPECT_FALSE(w.rows.isSelected(1));
    EXPECT_FALSE(w.session.waitCursor.stepDue());
    EXPECT_GE(w.ui.arrows, 1);
}

TEST_F(SaveFixture, CancelledNameCreatesNothingAndLongNamesAreCut) {
    w.session.LoadTreeItem(20);
    const int trees = w.ui.trees;
    w.ui.listNames.push_back(std::nullopt);
    w.session.SaveList();
    EXPECT_FALSE(QFile::exists("170308140509.mdb"));
    EXPECT_EQ(w.ui.trees, trees);

    const QString seventy = QString(70, QChar(0x0416)); // Ж
    w.ui.listNames.push_back(seventy);
    w.session.SaveList();
    EXPECT_EQ(head("170308140509.mdb"), std::vector<std::string>({"20|" + seventy.left(62).toStdString() + "|NULL"}));
}

TEST_F(SaveFixture, NoSelectionOrNoSourceRecordsGiveAnEmptyListThatStillShows) {
    w.session.LoadTreeItem(20);
    w.ui.listNames.push_back(QString()); // an empty name is accepted
    w.session.SaveList();
    EXPECT_TRUE(params("170308140509.mdb").empty());
    EXPECT_EQ(head("170308140509.mdb"), std::vector<std::string>({"20||NULL"}));
    EXPECT_EQ(child(w.ui.lastTree, "Тепловычислитель")->children.size(), 1u);

    w.session.LoadTreeItem(23); // no template rows
    now = kNow.addSecs(60);
    w.ui.listNames.push_back(QStringLiteral("Пустой"));
    w.session.SaveList();
    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_TRUE(params("170308140609.mdb").empty());
    EXPECT_EQ(head("170308140609.mdb"), std::vector<std::string>({"23|Пустой|NULL"}));
    EXPECT_EQ(child(w.ui.lastTree, "Регулятор")->children.size(), 1u);
}

TEST_F(SaveFixture, MoreRowsThanSourceRecordsKeepsWhatWasCopied) {
    w.session.LoadTreeItem(20);
    exec(w.file("PARVLT2.mdb"), "DELETE FROM [Параметры] WHERE kod_type_pribor=20 AND param=350");
    select({0, 1, 2, 3, 4});
    w.ui.listNames.push_back(QStringLiteral("Неполный"));
    w.session.SaveList();
    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_EQ(params("170308140509.mdb").size(), 4u);
    EXPECT_EQ(head("170308140509.mdb"), std::vector<std::string>({"20|Неполный|NULL"}));
}

// Mended: a second save within the same second used to empty the first list.
TEST_F(SaveFixture, TwoSavesWithinOneSecondKeepBothLists) {
    w.session.LoadTreeItem(20);
    select({0});
    w.ui.listNames.push_back(QStringLiteral("Первый"));
    w.session.SaveList();
    w.rows.setSelected(0, false);
    select({1});
    w.ui.listNames.push_back(QStringLiteral("Второй"));
    w.session.SaveList();

    EXPECT_EQ(head("170308140509.mdb"), std::vector<std::string>({"20|Первый|NULL"}));
    EXPECT_EQ(params("170308140509.mdb").size(), 1u);
    EXPECT_EQ(head("170308140510.mdb"), std::vector<std::string>({"20|Второй|NULL"}));
    EXPECT_EQ(params("170308140510.mdb"), std::vector<std::string>({"1|10|0|1|NULL|NULL|Температура|NULL|0|20"}));
    EXPECT_EQ(child(w.ui.lastTree, "Тепловычислитель")->children.size(), 2u);

    // A file that is not a database is never taken over either.
    std::ofstream(w.file("170308140511.mdb")) << "someone else's file";
    w.ui.listNames.push_back(QStringLiteral("Третий"));
    w.session.SaveList();
    EXPECT_EQ(head("170308140512.mdb"), std::vector<std::string>({"20|Третий|NULL"}));
    std::ifstream kept(w.file("170308140511.mdb"));
    std::string line;
    std::getline(kept, line);
    EXPECT_EQ(line, "someone else's file");
}

// Mended: after a save the main database is current; rows loaded from a list
// used to be paired with the template records on the next save.
TEST_F(SaveFixture, SavingListRowsAgainCopiesFromTheListFile) {
    makeListFile(w.file("160101000000.mdb"), 20, "Исходный",
                 {{2, 200, 0, 5, 0, 20, "Из списка А", "1"}, {2, 201, 0, 6, 0, 20, "Из списка Б", "2"}});
    w.session.BuildTree();
    w.session.LoadTreeItem(MakeItemData(1, 20));
    select({1});
    w.ui.listNames.push_back(QStringLiteral("Копия 1"));
    w.session.SaveList();
    w.ui.listNames.push_back(QStringLiteral("Копия 2"));
    w.session.SaveList();
    const std::vector<std::string> expected = {"2|201|0|6|NULL|NULL|Из списка Б|NULL|0|20"};
    EXPECT_EQ(params("170308140509.mdb"), expected);
    EXPECT_EQ(params("170308140510.mdb"), expected);
    // The loaded list keeps its identity although the new lists were added.
    EXPECT_EQ(w.session.listFileTable.entry(w.session.currentListNumber)->fileName, "160101000000.mdb");
}

TEST_F(SaveFixture, FileCannotBeCreatedShowsTheThreeMessagesAndStops) {
    w.session.LoadTreeItem(20);
    select({0});
    const int trees = w.ui.trees;
    // A working folder that has been removed: nothing can be created in it.
    std::filesystem::create_directory(w.dir.path() / "gone");
    parvault::testing::ScopedCwd inGone(w.dir.path() / "gone");
    std::filesystem::remove(w.dir.path() / "gone");
    w.ui.listNames.push_back(QStringLiteral("Никуда"));
    w.session.SaveList();
    ASSERT_GE(w.ui.messages.size(), 3u);
    EXPECT_EQ(w.ui.messages[0].text, "Невозможно открыть базу данных\n");
    EXPECT_EQ(w.ui.messages[0].caption, "170308140509.mdb");
    EXPECT_EQ(w.ui.messages[1].text, "Невозможно создать таблицу\n");
    EXPECT_EQ(w.ui.messages[1].caption, "Parvault");
    EXPECT_EQ(w.ui.messages[2].text, "Невозможно создать таблицу\n");
    EXPECT_EQ(w.ui.messages[2].caption, "Parvault");
    // The save ends there, and says why.
    ASSERT_EQ(w.ui.messages.size(), 4u);
    EXPECT_EQ(w.ui.messages[3].text,
              "Список не записался: файл 170308140509.mdb не создаётся — рабочей папки больше нет.\n");
    EXPECT_EQ(w.ui.messages[3].caption, "Parvault");
    EXPECT_EQ(w.ui.trees, trees) << "no header row, no rebuild";
    EXPECT_FALSE(w.session.waitCursor.stepDue());
}

TEST_F(SaveFixture, TablesThatCannotBeCreatedAreReportedAndNothingIsWritten) {
    w.session.LoadTreeItem(20);
    select({0});
    const int trees = w.ui.trees;
    // Files may not grow past one page: the empty database can be made, but
    // no table can be written into it.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    w.ui.listNames.push_back(QStringLiteral("Тесно"));
    w.session.SaveList();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(w.ui.messages.size(), 3u);
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(w.ui.messages[k].text, "Невозможно создать таблицу\n");
        EXPECT_EQ(w.ui.messages[k].caption, "Parvault");
    }
    // The first failure is the reason, not the missing table it left behind.
    EXPECT_EQ(w.ui.messages[2].text,
              "Список не записался: файл 170308140509.mdb не создаётся — превышен допустимый размер файла.\n");
    EXPECT_EQ(w.ui.messages[2].caption, "Parvault");
    EXPECT_EQ(w.ui.trees, trees);
    // Nothing under the list's name, and no temporary file either.
    EXPECT_FALSE(std::filesystem::exists(w.file("170308140509.mdb")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(w.dir.path()), {}), 1) << "only PARVLT2.mdb";
}

// A file without a list header under a list's name may be another program's
// save, or anything else: it is never emptied or reused, whatever it holds.
TEST_F(SaveFixture, AFileWithoutAListIsLeftAloneAndTheNextNameIsTaken) {
    // Both tables, stale rows, no header row.
    makeListFile(w.file("170308140509.mdb"), 20, "x", {{9, 9, 9, 9, 0, 20, "старьё"}});
    exec(w.file("170308140509.mdb"), "DELETE FROM [Список]");
    // Only the parameter table.
    exec(w.file("170308140510.mdb"), dbtest::kParamsDdl);
    // Held by another program in the middle of a write.
    makeListFile(w.file("170308140511.mdb"), 20, "x", {{9, 9, 9, 9, 0, 20, "чужое"}});
    exec(w.file("170308140511.mdb"), "DELETE FROM [Список]");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(w.file("170308140511.mdb").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    w.session.LoadTreeItem(20);
    select({1});
    w.ui.listNames.push_back(QStringLiteral("Новый"));
    w.session.SaveList();
    sqlite3_close(other);
    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_EQ(w.session.lastSavedFile(), "170308140512.mdb");
    EXPECT_EQ(params("170308140512.mdb"), std::vector<std::string>({"1|10|0|1|NULL|NULL|Температура|NULL|0|20"}));
    EXPECT_EQ(head("170308140512.mdb"), std::vector<std::string>({"20|Новый|NULL"}));
    EXPECT_EQ(params("170308140509.mdb"), std::vector<std::string>({"9|9|9|9|NULL|NULL|старьё|7|0|20"}));
    EXPECT_TRUE(head("170308140509.mdb").empty());
    EXPECT_TRUE(params("170308140510.mdb").empty());
    EXPECT_EQ(params("170308140511.mdb"), std::vector<std::string>({"9|9|9|9|NULL|NULL|чужое|7|0|20"}));
    ASSERT_EQ(w.session.listFileTable.count, 1);
    EXPECT_EQ(w.session.listFileTable.entry(1)->fileName, "170308140512.mdb");
}

// Permissions need a user they apply to: as the superuser, this runs in a
// child that has become "nobody".
TEST_F(SaveFixture, AFolderWithoutWritePermissionIsNamedAsTheReason) {
    w.session.LoadTreeItem(20);
    select({0});
    ASSERT_EQ(chmod(w.dir.path().c_str(), 0555), 0);
    ASSERT_EQ(chmod(w.file("PARVLT2.mdb").c_str(), 0666), 0);
    const QString expected = QStringLiteral("Список не записался: файл 170308140509.mdb не создаётся — "
                                            "нет права записи в папку %1.\n")
                                 .arg(QString::fromStdString(w.dir.path().string()));
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(10);
            w.ui.listNames.push_back(QStringLiteral("Некуда"));
            w.session.SaveList();
            if (w.ui.messages.empty())
                _exit(11);
            _exit(w.ui.messages.back().text == expected && w.ui.messages.back().caption == "Parvault" ? 0 : 12);
        },
        ::testing::ExitedWithCode(0), "");
    chmod(w.dir.path().c_str(), 0755);
}

// Mended: emptying and refilling a list file happens whole: a program that
// dies in the middle leaves the old content.
TEST_F(SaveFixture, DyingWhileRefillingLeavesTheOldContent) {
    makeListFile(w.file("170308140509.mdb"), 20, "x", {{9, 9, 9, 9, 0, 20, "старьё"}});
    exec(w.file("170308140509.mdb"), "DELETE FROM [Список]");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        DyingUi ui(4); // the start frame, then rows 1..3 of the copy
        CountingRowTable table;
        DbSession s(ui, table);
        s.clock = [] { return kNow; };
        s.BuildTree();
        s.LoadTreeItem(20);
        for (int i = 0; i < table.rowCount(); ++i)
            table.setSelected(i, true);
        ui.listNames.push_back(QStringLiteral("Новый"));
        ui.cursor = &s.waitCursor;
        s.SaveList();
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the child did not die half-way";
    EXPECT_EQ(params("170308140509.mdb"), std::vector<std::string>({"9|9|9|9|NULL|NULL|старьё|7|0|20"}));
    EXPECT_TRUE(head("170308140509.mdb").empty());
}

} // namespace
