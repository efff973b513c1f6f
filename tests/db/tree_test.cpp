#include "dbtestutil.h"
#include "recordsets.h"

#include <gtest/gtest.h>

#include <QFile>

#include <filesystem>
#include <fstream>

using namespace parvault;
using namespace dbtest;

namespace {

const std::vector<std::pair<int, std::string>> kTypes = {
    {0, "Код ноль"}, {1, "Код один"}, {2, "Код два"}, {20, "Тепловычислитель"}, {23, "Регулятор"},
    {21, "Счётчик"}, {26, "Модуль"}, {63, "Код шестьдесят три"}, {64, "Код шестьдесят четыре"},
    {5, "Корректор"}};

TEST(TreeImages, GroupPicturesByCode) {
    for (int c : {20, 25, 27, 28, 35, 36, 37})
        EXPECT_EQ(GroupImages(c), std::make_pair(0, 8)) << c;
    EXPECT_EQ(GroupImages(23), std::make_pair(1, 9));
    for (int c : {21, 22, 24, 29, 30, 31, 32, 33, 38, 39, 40, 41, 42})
        EXPECT_EQ(GroupImages(c), std::make_pair(2, 10)) << c;
    for (int c : {2, 5, 19, 26, 34, 43, 63})
        EXPECT_EQ(GroupImages(c), std::make_pair(3, 11)) << c;
    EXPECT_EQ(MakeItemData(3, 21), 3 * 256 + 21);
    EXPECT_EQ(TypeCodeOf(MakeItemData(128, 63)), 63);
    EXPECT_EQ(ListNumberOf(MakeItemData(128, 63)), 128);
    // List numbers take the bits they need; the type code keeps the low byte.
    for (int n : {255, 256, 1000, 70000}) {
        EXPECT_EQ(ListNumberOf(MakeItemData(n, 63)), n) << n;
        EXPECT_EQ(TypeCodeOf(MakeItemData(n, 63)), 63) << n;
    }
}

TEST(Tree, EmptyFolderGivesRootAndOneGroupPerShownCode) {
    Workspace w;
    makeMainDb(w.file("PARVLT2.mdb"), kTypes, {});
    w.session.BuildTree();
    ASSERT_EQ(w.ui.trees, 1);
    const TreeNode& root = w.ui.lastTree;
    EXPECT_EQ(root.text, "Приборы");
    EXPECT_EQ(root.image, 7);
    EXPECT_EQ(root.selectedImage, 7);
    EXPECT_EQ(root.data, 0);
    EXPECT_TRUE(root.expanded);
    QStringList groups;
    for (const TreeNode& g : root.children) {
        groups << g.text;
        EXPECT_TRUE(g.children.empty());
        EXPECT_EQ(std::make_pair(g.image, g.selectedImage), GroupImages(g.data));
    }
    // In the order of the device type table; codes 0, 1 and 64 are not groups.
    EXPECT_EQ(groups, QStringList({"Код два", "Тепловычислитель", "Регулятор", "Счётчик", "Модуль",
                                   "Код шестьдесят три", "Корректор"}));
    EXPECT_EQ(w.session.listFileTable.count, 0);
    EXPECT_TRUE(w.session.currentDatabase.IsOpen());
    EXPECT_EQ(w.session.currentDatabase.GetName(), "PARVLT2.mdb");
}

TEST(Tree, ListsAttachToTheirGroupsWithItemDataAndCutNames) {
    Workspace w;
    const std::string longType(40, 'T');
    const std::string hugeType(3000, 'H');
    makeMainDb(w.file("PARVLT2.mdb"), {{20, "Тепловычислитель"}, {21, longType}, {22, hugeType}}, {});
    const std::string longName = "Список " + std::string(70, 'x');
    makeListFile(w.file("170308140509.mdb"), 20, "Первый");
    makeListFile(w.file("170308140510.mdb"), 21, longName);
    makeListFile(w.file("170308140511.mdb"), 45, "Без группы");
    exec(w.file("170308140511.mdb"), "INSERT INTO [Список] VALUES (20, 'второй ряд', NULL)");
    makeListFile(w.file("170308140512.mdb"), 20, "Второй");
    makeListFile(w.file("170308140513.mdb"), 22, "При огромном имени");
    // Only the first header row counts: this file stays a list of type 45.

    w.session.BuildTree();
    const ListFileTable& t = w.session.listFileTable;
    ASSERT_EQ(t.count, 5);
    EXPECT_EQ(t.entries[4].typeName, QString::fromStdString(hugeType).left(31));
    ASSERT_NE(child(w.ui.lastTree, QString::fromStdString(hugeType)), nullptr);
    EXPECT_EQ(t.entries[0].fileName, "170308140509.mdb");
    EXPECT_EQ(t.entries[1].listName, QString::fromStdString(longName).left(63));
    EXPECT_EQ(t.entries[1].typeName, QString::fromStdString(longType).left(31));
    EXPECT_EQ(t.entries[2].typeCode, 45);
    EXPECT_EQ(t.entries[2].typeName, "") << "a list without a group is never attached";

    const TreeNode* heat = child(w.ui.lastTree, "Тепловычислитель");
    ASSERT_NE(heat, nullptr);
    ASSERT_EQ(heat->children.size(), 2u);
    EXPECT_EQ(heat->children[0].text, "Первый");
    EXPECT_EQ(heat->children[0].data, 1 * 256 + 20);
    EXPECT_EQ(heat->children[0].image, 4);
    EXPECT_EQ(heat->children[0].selectedImage, 12);
    EXPECT_EQ(heat->children[1].text, "Второй");
    EXPECT_EQ(heat->children[1].data, 4 * 256 + 20);
    const TreeNode* water = child(w.ui.lastTree, QString::fromStdString(longType));
    ASSERT_NE(water, nullptr) << "the group shows a long type name whole";
    ASSERT_EQ(water->children.size(), 1u);
    EXPECT_EQ(water->children[0].data, 2 * 256 + 21);
    // Nothing in the tree refers to the type-45 list.
    int lists = 0;
    for (const TreeNode& g : w.ui.lastTree.children)
        lists += static_cast<int>(g.children.size());
    EXPECT_EQ(lists, 4);
}

TEST(Tree, ReservedNamesAndNonListFilesAreSkipped) {
    Workspace w;
    makeMainDb(w.file("PARVLT2.mdb"), {{20, "Тепловычислитель"}}, {});
#ifndef _WIN32
    // Names that differ only in letter case are one file on Windows.
    makeListFile(w.file("parvlt2.mdb"), 20, "reserved lower");
    makeListFile(w.file("Pvl100-1.mdb"), 20, "case differs");
#endif
    makeListFile(w.file("pvl100-1.mdb"), 20, "reserved other");
    std::ofstream(w.file("garbage.mdb")) << "not a database";
    std::ofstream(w.file("empty.mdb")); // a zero-length file
    exec(w.file("nohead.mdb"), dbtest::kParamsDdl);
    makeListFile(w.file("emptyhead.mdb"), 20, "x");
    exec(w.file("emptyhead.mdb"), "DELETE FROM [Список]");
    makeListFile(w.file("upper.MDB"), 20, "upper-case extension");
    makeListFile(w.file("list.txt"), 20, "wrong extension");
    std::filesystem::create_directory(w.dir.path() / "folder.mdb");

    w.session.BuildTree();
    QStringList names;
    for (int k = 0; k < w.session.listFileTable.count; ++k)
        names << w.session.listFileTable.entries[static_cast<size_t>(k)].fileName;
#ifndef _WIN32
    EXPECT_EQ(names, QStringList({"Pvl100-1.mdb", "upper.MDB"}));
#else
    EXPECT_EQ(names, QStringList({"upper.MDB"}));
#endif
}

// A folder of years of lists: the tree used to stop at 256 entries and 128
// lists, hiding the newest ones and every list saved after them.
TEST(Tree, AThousandListsAllShowTheNewestLastAndOneMoreSavedShowsToo) {
    Workspace w;
    makeMainDb(w.file("PARVLT2.mdb"), {{20, "Тепловычислитель"}}, {{1, 10, 0, 0, 0, 20, "шаблон"}});
    // One list a day, each holding its own day as its value, with files that
    // are not lists in between (they sort before the lists of their day).
    const QDateTime first(QDate(2021, 1, 1), QTime(9, 0, 0));
    QStringList files;
    for (int day = 0; day < 1000; ++day) {
        const QString name = ListFileNameFor(first.addDays(day));
        files << name;
        makeListFile(w.file(name.toStdString()), 20, "День " + std::to_string(day + 1),
                     {{1, 10, 0, 0, 0, 20, "шаблон", std::to_string(day + 1)}});
        if (day % 4 == 0)
            std::ofstream(w.file(name.left(6).toStdString() + ".mdb")) << "не список";
    }
    w.session.BuildTree();
    const ListFileTable& t = w.session.listFileTable;
    ASSERT_EQ(t.count, 1000);
    ASSERT_EQ(w.ui.lastTree.children.size(), 1u);
    const std::vector<TreeNode>& lists = w.ui.lastTree.children[0].children;
    ASSERT_EQ(lists.size(), 1000u);
    for (int n = 1; n <= 1000; ++n) {
        const TreeNode& item = lists[static_cast<size_t>(n - 1)];
        ASSERT_EQ(ListNumberOf(item.data), n);
        ASSERT_EQ(TypeCodeOf(item.data), 20);
        ASSERT_EQ(t.entry(n)->fileName, files[n - 1]) << "in name order, which is the order of saving";
    }
    EXPECT_EQ(lists.back().text, "День 1000");

    // The newest loads its own rows, and a write reopens its file, not the main database.
    w.session.LoadTreeItem(lists.back().data);
    EXPECT_EQ(w.session.currentListNumber, 1000);
    ASSERT_EQ(w.rows.rowCount(), 1);
    EXPECT_EQ(w.rows.text(0, ColValue), "1000");
    w.session.LoadTreeItem(lists[299].data);
    EXPECT_EQ(w.rows.text(0, ColValue), "300");
    ASSERT_TRUE(w.session.ReopenCurrentDatabase());
    EXPECT_EQ(w.session.currentDatabase.GetName(), files[299]);

    // One more saved list shows at the end, and loads.
    w.session.clock = [&] { return first.addDays(1000); };
    w.rows.setSelected(0, true);
    w.ui.listNames.push_back(QStringLiteral("Новый"));
    w.session.SaveList();
    EXPECT_TRUE(w.ui.messages.empty());
    const std::vector<TreeNode>& after = w.ui.lastTree.children[0].children;
    ASSERT_EQ(after.size(), 1001u);
    EXPECT_EQ(after.back().text, "Новый");
    EXPECT_EQ(ListNumberOf(after.back().data), 1001);
    EXPECT_EQ(w.session.currentListNumber, 300) << "the loaded list is followed to its number";
    w.session.LoadTreeItem(after.back().data);
    EXPECT_EQ(w.session.currentDatabase.GetName(), ListFileNameFor(first.addDays(1000)));
    EXPECT_EQ(w.rows.rowCount(), 1);
}

TEST(Tree, MissingMainDatabaseLeavesTheRootOnly) {
    Workspace w;
    makeListFile(w.file("170308140509.mdb"), 20, "x");
    w.session.BuildTree();
    EXPECT_TRUE(w.ui.lastTree.children.empty());
    EXPECT_EQ(w.ui.lastTree.text, "Приборы");
    EXPECT_FALSE(w.session.currentDatabase.IsOpen());
}

TEST(MainDatabase, WithoutItsTablesIsRefusedNamingWhatIsMissing) {
    {
        Workspace w;
        std::ofstream(w.file("PARVLT2.mdb")); // zero bytes: SQLite takes it as an empty database
        EXPECT_FALSE(w.session.OpenMainDatabase());
        EXPECT_EQ(w.session.mainDatabaseMissing(), QStringList({"ТипыПриборов", "Параметры"}));
        EXPECT_EQ(w.session.MainDatabaseProblemText(),
                  "Нет таблицы «ТипыПриборов».\nНет таблицы «Параметры».");
        EXPECT_FALSE(w.session.currentDatabase.IsOpen());
        EXPECT_EQ(std::filesystem::file_size(w.file("PARVLT2.mdb")), 0u) << "the file is left alone";
    }
    {
        Workspace w; // a saved list put in the main database's place
        makeListFile(w.file("PARVLT2.mdb"), 20, "Список, а не база");
        EXPECT_FALSE(w.session.OpenMainDatabase());
        EXPECT_EQ(w.session.mainDatabaseMissing(), QStringList({"ТипыПриборов"}));
        EXPECT_EQ(w.session.MainDatabaseProblemText(), "Нет таблицы «ТипыПриборов».");
    }
    {
        Workspace w;
        makeMainDb(w.file("PARVLT2.mdb"), {{20, "Тепловычислитель"}}, {});
        EXPECT_TRUE(w.session.OpenMainDatabase());
        EXPECT_TRUE(w.session.mainDatabaseMissing().isEmpty());
        EXPECT_TRUE(w.session.MainDatabaseProblemText().isEmpty());
        EXPECT_TRUE(w.session.currentDatabase.IsOpen());
    }
}

TEST(Delete, OnlyAListWithTheTreeFocusedIsDeleted) {
    Workspace w;
    makeMainDb(w.file("PARVLT2.mdb"), {{20, "Тепловычислитель"}}, {{1, 10, 0, 0, 0, 20, "a"}});
    makeListFile(w.file("170308140509.mdb"), 20, "Первый", {{1, 10, 0, 0, 0, 20, "a", "5"}});
    w.session.BuildTree();
    w.session.LoadTreeItem(MakeItemData(1, 20));
    ASSERT_EQ(w.rows.rowCount(), 1);

    const int framesBefore = static_cast<int>(w.ui.frames.size());
    const int arrowsBefore = w.ui.arrows;
    EXPECT_FALSE(w.session.DeleteSelectedList(0, true));                      // root
    EXPECT_FALSE(w.session.DeleteSelectedList(20, true));                     // group
    EXPECT_FALSE(w.session.DeleteSelectedList(MakeItemData(1, 20), false));   // tree not focused
    EXPECT_FALSE(w.session.DeleteSelectedList(std::nullopt, true));          // nothing selected
    EXPECT_EQ(w.ui.arrows, arrowsBefore + 4) << "the cursor is flashed and set back every time";
    EXPECT_EQ(static_cast<int>(w.ui.frames.size()), framesBefore);
    EXPECT_EQ(w.rows.rowCount(), 1);
    EXPECT_TRUE(QFile::exists("170308140509.mdb"));

    EXPECT_TRUE(w.session.DeleteSelectedList(MakeItemData(1, 20), true));
    EXPECT_FALSE(QFile::exists("170308140509.mdb"));
    EXPECT_EQ(w.rows.rowCount(), 0);
    EXPECT_FALSE(w.session.currentDatabase.IsOpen());
    // The deleted list was the current one: nothing is loaded any more.
    EXPECT_EQ(w.session.currentTypeCode, 0);
    EXPECT_EQ(w.session.currentListNumber, 0);
    // Its slot stays until the next build.
    EXPECT_EQ(w.session.listFileTable.count, 1);
}

} // namespace
