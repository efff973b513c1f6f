// The program's main job as a user does it: load a device type, read its
// rows from the simulator, save them as a list, load the list, edit and write
// a value, store the values and print the table.

#include "demowindow.h"
#include "valueeditdlg.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QLabel>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>

using namespace parvault;
using namespace parvault::testing;

namespace {
using EndToEnd = parvault::testing::DemoWindowTest;
} // namespace

TEST_F(EndToEnd, ReadSaveLoadEditWriteAndExport) {
    CMainDlg dlg(options());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    ASSERT_TRUE(errors.empty());

    // Double-click the device type: its template rows, without values.
    QTreeWidgetItem* type20 = findItem(dlg.tree(), [](QTreeWidgetItem* i) {
        return i->data(0, Qt::UserRole).toInt() == 20;
    });
    ASSERT_NE(type20, nullptr);
    doubleClick(dlg.tree(), type20);
    ParamListModel& rows = dlg.rows();
    ASSERT_GT(rows.rowCount(), 5);
    EXPECT_EQ(dlg.wiring()->db().currentTypeCode, 20);
    const int serial = rowOfParam(rows, 1);
    ASSERT_GE(serial, 0);
    EXPECT_EQ(rows.text(serial, ColValue), QString());

    // Select every row and read.
    dlg.list()->selectAll();
    QTest::mouseClick(dlg.button(IDC_READ), Qt::LeftButton);
    ASSERT_TRUE(waitIdle(dlg));
    EXPECT_EQ(rows.text(serial, ColValue), QString("20117"));
    for (int r = 0; r < rows.rowCount(); ++r)
        EXPECT_EQ(rows.icon(r), IconNeutral) << "row " << r << " " << rows.text(r, ColValue).toStdString();
    if (qEnvironmentVariableIsSet("PV_SCREENSHOT"))
        dlg.grab().save(qEnvironmentVariable("PV_SCREENSHOT"));

    // Save the rows as a list; it shows in the tree under its device type.
    QTest::mouseClick(dlg.button(IDC_SAVE_LIST), Qt::LeftButton);
    QTreeWidgetItem* list = findItem(dlg.tree(), [](QTreeWidgetItem* i) {
        return i->text(0).contains("Обход ТВ-20");
    });
    ASSERT_NE(list, nullptr);
    const int listData = list->data(0, Qt::UserRole).toInt();
    EXPECT_EQ(listData & 0xFF, 20);
    EXPECT_GE(listData >> 8, 1);

    // Load the list: a new list keeps the rows, not the values, until they
    // are read and stored.
    rows.clear();
    doubleClick(dlg.tree(), list);
    ASSERT_GT(rows.rowCount(), 5);
    EXPECT_EQ(dlg.wiring()->db().currentListNumber, listData >> 8);
    EXPECT_EQ(rows.text(rowOfParam(rows, 1), ColValue), QString());
    dlg.list()->selectAll();
    QTest::mouseClick(dlg.button(IDC_READ), Qt::LeftButton);
    ASSERT_TRUE(waitIdle(dlg));
    EXPECT_EQ(rows.text(rowOfParam(rows, 1), ColValue), QString("20117"));
    const int day = rowOfParam(rows, 301);
    ASSERT_GE(day, 0);

    // Edit a value in place (double-click, type, Enter) and write it.
    dlg.list()->clearSelection();
    rows.setSelected(day, true);
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<CValueEditDlg*>(QApplication::activePopupWidget());
        if (!box)
            box = qobject_cast<CValueEditDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->edit()->setText("15");
        QTest::keyClick(box->edit(), Qt::Key_Return);
    });
    dlg.list()->scrollTo(rows.index(day, ColValue));
    const QRect cell = dlg.list()->visualRect(rows.index(day, ColValue));
    QTest::mouseClick(dlg.list()->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(dlg.list()->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(rows.text(day, ColValue), QString("15"));
    EXPECT_EQ(rows.icon(day), IconEdited);
    QTest::mouseClick(dlg.button(IDC_WRITE), Qt::LeftButton);
    ASSERT_TRUE(waitIdle(dlg));
    EXPECT_EQ(rows.icon(day), IconWritten);
    EXPECT_EQ(model->entry({0, 301, 0})->value, QString("15"));

    // Store the values and print the table.
    QTest::mouseClick(dlg.button(IDC_SAVE_VALUES), Qt::LeftButton);
    QFile exported(QString::fromStdString(dir.file("таблица.txt")));
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    const QByteArray bytes = exported.readAll();
    EXPECT_TRUE(bytes.contains("20117"));
    EXPECT_TRUE(bytes.contains("\r\n"));
    EXPECT_TRUE(errors.empty()) << errors.front().first.toStdString();

    // The stored value is there after a fresh load.
    rows.clear();
    doubleClick(dlg.tree(), findItem(dlg.tree(), [&](QTreeWidgetItem* i) {
                    return i->data(0, Qt::UserRole).toInt() == listData;
                }));
    EXPECT_EQ(rows.text(rowOfParam(rows, 301), ColValue), QString("15"));

    // Delete the list with the Delete key while the tree has the focus.
    QTreeWidgetItem* saved = findItem(dlg.tree(), [&](QTreeWidgetItem* i) {
        return i->data(0, Qt::UserRole).toInt() == listData;
    });
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    dlg.tree()->setCurrentItem(saved);
    dlg.tree()->setFocus();
    ASSERT_TRUE(dlg.tree()->hasFocus());
    const int filesBefore = static_cast<int>(std::distance(
        std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()));
    QTest::keyClick(dlg.tree(), Qt::Key_Delete);
    EXPECT_EQ(findItem(dlg.tree(), [](QTreeWidgetItem* i) { return i->text(0).contains("Обход"); }),
              nullptr);
    const int filesAfter = static_cast<int>(std::distance(
        std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()));
    EXPECT_EQ(filesAfter, filesBefore - 1) << "the list file is gone";
    EXPECT_EQ(rows.rowCount(), 0);
    dlg.reject();
}

TEST_F(EndToEnd, ErrorTextsInTheValueColumnAreMarkedBeforeTheyAreStored) {
    devsim::Failure refused;
    refused.errorText = QStringLiteral("Нет доступа");
    model->setRowFailure({0, 2, 0}, refused);
    CMainDlg dlg(options());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    doubleClick(dlg.tree(), findItem(dlg.tree(), [](QTreeWidgetItem* i) {
                    return i->data(0, Qt::UserRole).toInt() == 20;
                }));
    ParamListModel& rows = dlg.rows();
    const int refusing = rowOfParam(rows, 2);
    const int serial = rowOfParam(rows, 1);
    ASSERT_GE(refusing, 0);
    EXPECT_FALSE(rows.data(rows.index(refusing, ColValue), Qt::ToolTipRole).isValid()) << "no text yet";

    rows.setSelected(refusing, true);
    rows.setSelected(serial, true);
    QTest::mouseClick(dlg.button(IDC_READ), Qt::LeftButton);
    ASSERT_TRUE(waitIdle(dlg));
    ASSERT_EQ(rows.text(refusing, ColValue), QString("Нет доступа"));
    const QModelIndex cell = rows.index(refusing, ColValue);
    EXPECT_TRUE(rows.data(cell, Qt::ToolTipRole).toString().contains("вместо прежнего значения"));
    EXPECT_TRUE(rows.data(cell, Qt::ForegroundRole).isValid());
    EXPECT_FALSE(rows.data(rows.index(refusing, ColName), Qt::ToolTipRole).isValid()) << "the value cell only";
    EXPECT_FALSE(rows.data(rows.index(serial, ColValue), Qt::ToolTipRole).isValid()) << "a value is no error";
    EXPECT_FALSE(rows.data(rows.index(serial, ColValue), Qt::ForegroundRole).isValid());
    dlg.reject();
}
