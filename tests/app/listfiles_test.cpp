// The window's list commands when a list file cannot be used, and folders
// with many lists: what the user sees in the tree and in the message boxes.

#include "daostorage.h"
#include "demowindow.h"
#include "recordsets.h"

#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace parvault;
using namespace parvault::testing;

namespace {

QTreeWidgetItem* itemWithData(QTreeWidget* tree, int data) {
    return findItem(tree, [data](QTreeWidgetItem* i) { return i->data(0, Qt::UserRole).toInt() == data; });
}

QTreeWidgetItem* itemWithText(QTreeWidget* tree, const QString& text) {
    return findItem(tree, [&](QTreeWidgetItem* i) { return i->text(0) == text; });
}

const QDateTime kSaveTime(QDate(2024, 5, 6), QTime(7, 8, 9));
constexpr int kType = 20;

class ListFilesWindow : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCwd cwd{dir.path()};
    std::vector<std::pair<QString, QString>> errors;
    QString listName = QStringLiteral("Обход");

    void SetUp() override { std::filesystem::copy_file(PV_DEMO_DB, dir.file("PARVLT2.mdb")); }

    std::unique_ptr<CMainDlg> open() {
        MainWindowOptions o;
        o.startTimers = false;
        o.showError = [this](const QString& t, const QString& c) { errors.emplace_back(t, c); };
        o.askListName = [this] { return std::optional<QString>(listName); };
        auto dlg = std::make_unique<CMainDlg>(o);
        dlg->wiring()->db().clock = [] { return kSaveTime; };
        dlg->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        return dlg;
    }

    // Loads the template rows of the type and saves them all as a list.
    void saveAll(CMainDlg& dlg) {
        doubleClick(dlg.tree(), itemWithData(dlg.tree(), kType));
        ASSERT_GT(dlg.rows().rowCount(), 0);
        dlg.list()->selectAll();
        QTest::mouseClick(dlg.button(IDC_SAVE_LIST), Qt::LeftButton);
    }
};

} // namespace

// A file under the save's name that holds no list, held by another program
// (its save in progress, or what a save that died left behind), is never
// touched: the save takes the next second's name and shows in the tree.
TEST_F(ListFilesWindow, AFileHeldByAnotherProgramUnderTheNameIsLeftAloneAndTheNextSecondIsTaken) {
    auto dlg = open();
    const QString held = ListFileNameFor(kSaveTime);
    {
        CDaoDatabase db;
        db.Create(held);
        CreateParamsTable(db);
        CreateListHeadTable(db);
    }
    CDaoDatabase other;
    other.Open(held);
    std::optional<DaoTransaction> tx(std::in_place, other);

    saveAll(*dlg);
    EXPECT_TRUE(errors.empty());
    ASSERT_NE(itemWithText(dlg->tree(), listName), nullptr);
    EXPECT_EQ(dlg->wiring()->db().lastSavedFile(), ListFileNameFor(kSaveTime.addSecs(1)));
    tx.reset();
    other.Close();
    // The held file is as the other program left it: no list in it.
    CDaoDatabase check;
    check.Open(held);
    CMySpisok head(&check);
    head.Open();
    EXPECT_TRUE(head.IsEOF());
}

// A list that cannot be loaded used to empty the list without a word.
TEST_F(ListFilesWindow, LoadingADamagedListSaysWhichFileAndWhy) {
    auto dlg = open();
    saveAll(*dlg);
    ASSERT_TRUE(errors.empty());
    QTreeWidgetItem* list = itemWithText(dlg->tree(), listName);
    ASSERT_NE(list, nullptr);
    const QString file = ListFileNameFor(kSaveTime);

    std::ofstream(dir.file(file.toStdString()), std::ios::trunc) << "испорчен";
    doubleClick(dlg->tree(), list);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first,
              QStringLiteral("Список не загружается: файл %1 не открывается — файл повреждён.\n").arg(file));
    EXPECT_EQ(errors[0].second, QString("Parvault"));
    EXPECT_EQ(dlg->rows().rowCount(), 0);

    std::filesystem::remove(dir.file(file.toStdString()));
    errors.clear();
    doubleClick(dlg->tree(), itemWithText(dlg->tree(), listName));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].first,
              QStringLiteral("Список не загружается: файл %1 не открывается — файла больше нет.\n").arg(file));
}

// The tree used to keep the first 128 lists of a folder; the newest ones and
// every list saved after them never showed.
TEST_F(ListFilesWindow, AThousandListsAllShowAndTheNewestLoadsSavesAndDeletes) {
    // One list a day for 1,000 days, made as the window makes them.
    const QDateTime first(QDate(2021, 1, 1), QTime(9, 0, 0));
    {
        auto maker = open();
        maker->wiring()->db().clock = [&] { return first; };
        saveAll(*maker);
        ASSERT_TRUE(errors.empty());
    }
    const std::string made = ListFileNameFor(first).toStdString();
    for (int day = 1; day < 1000; ++day)
        std::filesystem::copy_file(dir.file(made), dir.file(ListFileNameFor(first.addDays(day)).toStdString()));

    auto dlg = open();
    QTreeWidgetItem* group = itemWithData(dlg->tree(), kType);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->childCount(), 1000);
    QTreeWidgetItem* newest = group->child(999);
    EXPECT_EQ(newest->data(0, Qt::UserRole).toInt(), 1000 * 256 + kType);
    doubleClick(dlg->tree(), newest);
    DbSession& db = dlg->wiring()->db();
    EXPECT_EQ(db.currentListNumber, 1000);
    EXPECT_EQ(db.loadedFile(), ListFileNameFor(first.addDays(999)));
    EXPECT_GT(dlg->rows().rowCount(), 0);

    // Saving one more shows it as the last list of its group.
    db.clock = [&] { return first.addDays(1000); };
    listName = QStringLiteral("Тысяча первый");
    dlg->list()->selectAll();
    QTest::mouseClick(dlg->button(IDC_SAVE_LIST), Qt::LeftButton);
    EXPECT_TRUE(errors.empty());
    group = itemWithData(dlg->tree(), kType);
    ASSERT_EQ(group->childCount(), 1001);
    QTreeWidgetItem* added = group->child(1000);
    EXPECT_EQ(added->text(0), listName);
    EXPECT_EQ(added->data(0, Qt::UserRole).toInt(), 1001 * 256 + kType);
    doubleClick(dlg->tree(), added);
    EXPECT_EQ(db.loadedFile(), ListFileNameFor(first.addDays(1000)));

    // The Delete key removes exactly that list's file.
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    dlg->tree()->setCurrentItem(added);
    dlg->tree()->setFocus();
    QTest::keyClick(dlg->tree(), Qt::Key_Delete);
    EXPECT_FALSE(std::filesystem::exists(dir.file(ListFileNameFor(first.addDays(1000)).toStdString())));
    EXPECT_TRUE(std::filesystem::exists(dir.file(ListFileNameFor(first.addDays(999)).toStdString())));
}
