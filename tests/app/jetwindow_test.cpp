// The window on a folder of existing Jet files: the same tree as the
// program's own demo database, a Jet list loaded with its values, and values
// stored into it after the one conversion.

#include "demowindow.h"

#include <QFile>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>

using namespace parvault;
using namespace parvault::testing;

namespace {

const std::filesystem::path kJetFolder = std::filesystem::path(PV_JET_FIXTURES) / "demo-jet3";
const char* const kJetList = "240115093000.mdb";

QStringList treeTexts(QTreeWidget* tree) {
    QStringList texts;
    std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* item, int depth) {
        texts << QString(depth * 2, QChar(' ')) + item->text(0);
        for (int i = 0; i < item->childCount(); ++i)
            walk(item->child(i), depth + 1);
    };
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        walk(tree->topLevelItem(i), 0);
    return texts;
}

class JetWindow : public ::testing::Test {
protected:
    TempDir dir;
    ScopedCwd cwd{dir.path()};
    std::vector<std::pair<QString, QString>> messages;

    std::unique_ptr<CMainDlg> open() {
        MainWindowOptions o;
        o.startTimers = false;
        o.showError = [this](const QString& t, const QString& c) { messages.emplace_back(t, c); };
        // Storing values goes on to the text table; it is written into the folder.
        o.askSaveFile = [this](const QString&, const QString&, const QString&) {
            return std::optional<QString>(QString::fromStdString(dir.file("таблица.txt")));
        };
        auto dlg = std::make_unique<CMainDlg>(o);
        dlg->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        return dlg;
    }
    QByteArray bytesOf(const std::string& name) {
        QFile f(QString::fromStdString(dir.file(name)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

} // namespace

TEST_F(JetWindow, TreeOfTheJetMainDatabaseIsTheProgramsOwn) {
    std::filesystem::copy_file(PV_DEMO_DB, dir.file("PARVLT2.mdb"));
    const QStringList own = treeTexts(open()->tree());
    ASSERT_GT(own.size(), 3);

    std::filesystem::copy_file(kJetFolder / "PARVLT2.mdb", dir.file("PARVLT2.mdb"),
                               std::filesystem::copy_options::overwrite_existing);
    auto dlg = open();
    EXPECT_EQ(treeTexts(dlg->tree()), own);
    EXPECT_TRUE(messages.empty()) << messages.front().first.toStdString();

    // Template rows load from the Jet file as from the program's own.
    doubleClick(dlg->tree(), findType(dlg->tree(), 20));
    EXPECT_GT(dlg->rows().rowCount(), 0);
}

TEST_F(JetWindow, AJetListLoadsAndTakesValuesAfterOneConversion) {
    for (const char* f : {"PARVLT2.mdb", kJetList})
        std::filesystem::copy_file(kJetFolder / f, dir.file(f));
    const QByteArray original = bytesOf(kJetList);
    auto dlg = open();
    QTreeWidgetItem* list = findItem(dlg->tree(), [](QTreeWidgetItem* i) {
        return i->text(0).contains(QStringLiteral("Полный список ТВ-20"));
    });
    ASSERT_NE(list, nullptr) << treeTexts(dlg->tree()).join('\n').toStdString();
    doubleClick(dlg->tree(), list);
    ASSERT_EQ(dlg->rows().rowCount(), 488);
    EXPECT_EQ(dlg->rows().text(rowOfParam(dlg->rows(), 8), ColValue), QStringLiteral("Нет ответа"));

    // Storing values: converted once, said once, the original kept whole.
    dlg->rows().setText(rowOfParam(dlg->rows(), 8), ColValue, QStringLiteral("7,5"));
    QTest::mouseClick(dlg->button(IDC_SAVE_VALUES), Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].first.contains(QStringLiteral("240115093000.mdb.jet"))) << messages[0].first.toStdString();
    EXPECT_EQ(bytesOf(std::string(kJetList) + ".jet"), original);
    EXPECT_NE(bytesOf(kJetList), original);
    QTest::mouseClick(dlg->button(IDC_SAVE_VALUES), Qt::LeftButton);
    EXPECT_EQ(messages.size(), 1u) << "the second save finds the program's own file";

    // The kept original is not a list of the tree; the stored value reloads.
    auto again = open();
    QTreeWidgetItem* reloaded = findItem(again->tree(), [](QTreeWidgetItem* i) {
        return i->text(0).contains(QStringLiteral("Полный список ТВ-20"));
    });
    ASSERT_NE(reloaded, nullptr);
    EXPECT_EQ(findItem(again->tree(), [&](QTreeWidgetItem* i) { return i != reloaded && i->text(0) == reloaded->text(0); }),
              nullptr);
    doubleClick(again->tree(), reloaded);
    EXPECT_EQ(again->rows().text(rowOfParam(again->rows(), 8), ColValue), QStringLiteral("7,5"));
}
