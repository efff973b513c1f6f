// The window under misuse: the list replaced or deleted while an exchange
// runs on it, Delete held down, a header dragged, Help pressed twice. The
// window runs with its real timers against the simulator.

#include "demowindow.h"

#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QTextBrowser>
#include <QTreeView>

#include <filesystem>

using namespace parvault;
using namespace parvault::testing;

namespace {

class WindowSafety : public DemoWindowTest {
protected:
    // Loads device type 20 (29 rows), selects them all and presses `command`;
    // returns when a few rows are done and the exchange is still running.
    void startOnType20(CMainDlg& dlg, int command) {
        doubleClick(dlg.tree(), findType(dlg.tree(), 20));
        ASSERT_GT(dlg.rows().rowCount(), 20);
        dlg.list()->selectAll();
        QTest::mouseClick(dlg.button(command), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->framesReceived() >= 4; }, 10000));
        ASSERT_TRUE(dlg.wiring()->controller().busy());
    }

    // The exchange is over, the port free, and it stays over: nothing more
    // goes to the device and the list keeps what it was given.
    void expectEndedAndQuiet(CMainDlg& dlg) {
        EXPECT_FALSE(dlg.wiring()->controller().busy());
        const int frames = model->framesReceived();
        QTest::qWait(400);
        EXPECT_EQ(model->framesReceived(), frames);
        EXPECT_FALSE(dlg.wiring()->controller().busy());
    }

    int listFiles() const {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            n += e.path().extension() == ".mdb" && e.path().filename() != "PARVLT2.mdb";
        return n;
    }

    void saveList(CMainDlg& dlg) {
        doubleClick(dlg.tree(), findType(dlg.tree(), 20));
        dlg.list()->selectAll();
        QTest::mouseClick(dlg.button(IDC_SAVE_LIST), Qt::LeftButton);
    }

    void pressDelete(CMainDlg& dlg, QTreeWidgetItem* item, bool autoRepeat = false) {
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
        if (item)
            dlg.tree()->setCurrentItem(item);
        dlg.tree()->setFocus();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(dlg.tree(), &press);
    }
};

} // namespace

// Reading and writing alike: the list a double-click loads is never touched
// by the exchange that ran on the list before it.
TEST_F(WindowSafety, LoadingAnotherTypeDuringAnExchangeEndsIt) {
    for (int command : {IDC_READ, IDC_WRITE}) {
        CMainDlg dlg(options());
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        startOnType20(dlg, command);
        doubleClick(dlg.tree(), findType(dlg.tree(), 2));
        ASSERT_EQ(dlg.rows().rowCount(), 5) << command;
        expectEndedAndQuiet(dlg);
        for (int r = 0; r < 5; ++r) {
            EXPECT_EQ(dlg.rows().icon(r), IconNeutral) << command << " row " << r;
            EXPECT_TRUE(dlg.rows().text(r, ColValue).isEmpty()) << command << " row " << r;
        }
        EXPECT_EQ(dlg.wiring()->serial().openPort(), 0) << command;
        dlg.reject();
    }
}

TEST_F(WindowSafety, DeletingTheListDuringAReadEndsTheRead) {
    CMainDlg dlg(options());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    saveList(dlg);
    QTreeWidgetItem* list = findItem(dlg.tree(), [](QTreeWidgetItem* i) { return i->text(0).contains("Обход"); });
    ASSERT_NE(list, nullptr);
    doubleClick(dlg.tree(), list);
    dlg.list()->selectAll();
    QTest::mouseClick(dlg.button(IDC_READ), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->framesReceived() >= 4; }, 10000));
    ASSERT_TRUE(dlg.wiring()->controller().busy());
    pressDelete(dlg, list);
    EXPECT_EQ(listFiles(), 0);
    EXPECT_EQ(dlg.rows().rowCount(), 0);
    expectEndedAndQuiet(dlg);
    dlg.reject();
}

// Holding Delete down, or pressing it again, deletes one list: the one chosen.
TEST_F(WindowSafety, DeleteTakesOneListPerChoice) {
    CMainDlg dlg(options());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    std::vector<QDateTime> times{QDateTime({2026, 1, 1}, {10, 0, 0}), QDateTime({2026, 1, 2}, {10, 0, 0}),
                                 QDateTime({2026, 1, 3}, {10, 0, 0})};
    for (const QDateTime& t : times) {
        dlg.wiring()->db().clock = [t] { return t; };
        saveList(dlg);
    }
    ASSERT_EQ(listFiles(), 3);
    QTreeWidgetItem* type20 = findType(dlg.tree(), 20);
    ASSERT_EQ(type20->childCount(), 3);

    pressDelete(dlg, type20->child(1), true);
    EXPECT_EQ(listFiles(), 3) << "an auto-repeated press deletes nothing";
    pressDelete(dlg, type20->child(1));
    EXPECT_EQ(listFiles(), 2);
    QTreeWidgetItem* current = dlg.tree()->currentItem();
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->data(0, Qt::UserRole).toInt(), 20) << "the type group is selected";
    pressDelete(dlg, nullptr);
    pressDelete(dlg, nullptr, true);
    EXPECT_EQ(listFiles(), 2) << "further presses find no list selected";
    dlg.reject();
}

// Dragging a column header would put the edit box over the wrong column.
TEST_F(WindowSafety, ColumnHeadersCannotBeDragged) {
    CMainDlg dlg(options());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QHeaderView* header = dlg.list()->header();
    QWidget* port = header->viewport();
    const QPoint from(header->sectionViewportPosition(ColValue) + header->sectionSize(ColValue) / 2,
                      header->height() / 2);
    const QPoint to(header->sectionViewportPosition(ColCanal) + 2, header->height() / 2);
    QTest::mousePress(port, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 10; ++step) {
        const QPoint at = from + (to - from) * step / 10;
        QMouseEvent move(QEvent::MouseMove, at, port->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(port, &move);
    }
    QTest::mouseRelease(port, Qt::LeftButton, {}, to);
    for (int c = 0; c < ColumnCount; ++c)
        EXPECT_EQ(header->visualIndex(c), c) << c;
    dlg.reject();
}

TEST_F(WindowSafety, HelpOpensOneWindow) {
    MainWindowOptions o = options();
    o.showHelp = nullptr; // the real help window
    CMainDlg dlg(o);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QTest::mouseClick(dlg.button(IDC_HELP), Qt::LeftButton);
    QTest::mouseClick(dlg.button(IDC_HELP), Qt::LeftButton);
    int helpWindows = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        helpWindows += w->isVisible() &&
                       w->findChild<QTextBrowser*>(QString(), Qt::FindDirectChildrenOnly) != nullptr;
    EXPECT_EQ(helpWindows, 1);
    dlg.reject();
}
