// Comparing a saved list with the device in the window, as a user does it:
// the real simulator on UDP, real timers, the list's file on disk.

#include "demowindow.h"

#include <QAbstractItemView>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <map>

using namespace parvault;
using namespace parvault::testing;

namespace {

class WindowCompare : public DemoWindowTest {
protected:
    // Makes a saved list of device type 20 whose stored values are the
    // simulator's, and leaves it loaded; returns its tree data.
    int storedList(CMainDlg& dlg) {
        doubleClick(dlg.tree(), findType(dlg.tree(), 20));
        dlg.list()->selectAll();
        QTest::mouseClick(dlg.button(IDC_READ), Qt::LeftButton);
        EXPECT_TRUE(waitIdle(dlg));
        QTest::mouseClick(dlg.button(IDC_SAVE_LIST), Qt::LeftButton);
        QTreeWidgetItem* list = findItem(dlg.tree(), [](QTreeWidgetItem* i) { return i->text(0).contains("Обход"); });
        EXPECT_NE(list, nullptr);
        if (!list)
            return 0;
        const int data = list->data(0, Qt::UserRole).toInt();
        doubleClick(dlg.tree(), list);
        dlg.list()->selectAll();
        QTest::mouseClick(dlg.button(IDC_READ), Qt::LeftButton);
        EXPECT_TRUE(waitIdle(dlg));
        QTest::mouseClick(dlg.button(IDC_SAVE_VALUES), Qt::LeftButton);
        EXPECT_EQ(dlg.rows().text(rowOfParam(dlg.rows(), 301), ColValue), QString("25"));
        dlg.list()->clearSelection();
        return data;
    }

    static bool waitShown(CMainDlg& dlg) {
        return QTest::qWaitFor(
            [&] {
                return dlg.wiring()->compare().phase() == CompareRun::Phase::Shown &&
                       !dlg.wiring()->controller().busy();
            },
            30000);
    }

    // Every file of the working folder with a digest of its bytes.
    std::map<std::string, QByteArray> files() const {
        std::map<std::string, QByteArray> out;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            QFile f(QString::fromStdString(e.path().string()));
            if (e.path().extension() == ".mdb" && f.open(QIODevice::ReadOnly))
                out[e.path().filename().string()] = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
        }
        return out;
    }

    // The requests the simulator received since `from`: W for a write, R for a read.
    std::string requestKinds(size_t from) const {
        std::string kinds;
        const auto log = model->log();
        for (size_t i = from; i < log.size(); ++i) {
            const auto& b = log[i].bytes;
            if (!log[i].incoming)
                continue;
            for (size_t p = 0; p + 2 < b.size(); ++p) {
                if (b[p] == 0x10 && b[p + 1] == 0x1F) {
                    kinds += (b[p + 2] == 0x03 || b[p + 2] == 0x14) ? 'W' : 'R';
                    break;
                }
            }
        }
        return kinds;
    }

    static std::vector<int> visibleRows(CMainDlg& dlg) {
        std::vector<int> out;
        for (int r = 0; r < dlg.rows().rowCount(); ++r)
            if (!dlg.list()->isRowHidden(r, {}))
                out.push_back(r);
        return out;
    }

    static CompareMark markOf(CMainDlg& dlg, int param, int index = 0) {
        ParamListModel& rows = dlg.rows();
        for (int r = 0; r < rows.rowCount(); ++r)
            if (leadingInt(rows.text(r, ColParam)) == param && leadingInt(rows.text(r, ColIndex)) == index &&
                leadingInt(rows.text(r, ColCanal)) == (param == 320 ? 1 : 0))
                return rows.compareCell(r).mark;
        return CompareMark::None;
    }
};

} // namespace

TEST_F(WindowCompare, MarksCountsAndFilterThenLeaving) {
    CMainDlg dlg(options());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    storedList(dlg);
    ParamListModel& rows = dlg.rows();
    const int n = rows.rowCount();

    // The device now differs from the list in two rows (one of them only by
    // a rounding), writes another in a number with the other decimal mark,
    // is silent on one row and refuses another.
    model->setEntry({0, 301, 0}, {"30", "день"});
    model->setEntry({1, 320, 0}, {"40,001", "т/ч"});
    model->setEntry({0, 310, 0}, {"0.85", "Гкал/ч"});
    devsim::Failure silent;
    silent.silent = true;
    model->setRowFailure({0, 8, 0}, silent);
    devsim::Failure refused;
    refused.errorText = QString("Нет доступа");
    model->setRowFailure({0, 302, 0}, refused);
    const auto before = files();

    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    QTest::keyClick(dlg.list(), Qt::Key_D, Qt::ControlModifier); // nothing selected: every row
    EXPECT_TRUE(rows.comparing());
    EXPECT_EQ(rows.columnCount(), ColumnCount + 1);
    EXPECT_EQ(rows.headerData(ParamListModel::kDeviceColumn, Qt::Horizontal, Qt::DisplayRole).toString(),
              QString("В приборе"));
    ASSERT_TRUE(waitShown(dlg));
    // The README's picture of a comparison.
    if (qEnvironmentVariableIsSet("PV_SCREENSHOT"))
        dlg.grab().save(qEnvironmentVariable("PV_SCREENSHOT"));

    const int day = rowOfParam(rows, 301);
    EXPECT_EQ(rows.text(day, ColValue), QString("25")) << "the stored value stays in its column";
    EXPECT_EQ(rows.compareCell(day).device, QString("30"));
    EXPECT_EQ(markOf(dlg, 301), CompareMark::Differs);
    EXPECT_EQ(rows.compareCell(rowOfParam(rows, 320)).device, QString("40,001"));
    EXPECT_EQ(markOf(dlg, 320), CompareMark::Differs) << "a rounded value is another value";
    EXPECT_EQ(markOf(dlg, 310, 0), CompareMark::Same) << "either decimal mark";
    EXPECT_EQ(markOf(dlg, 8), CompareMark::NotRead);
    EXPECT_EQ(markOf(dlg, 302), CompareMark::NotRead);
    EXPECT_EQ(rows.compareCell(rowOfParam(rows, 302)).device, QString("Нет доступа"));
    EXPECT_EQ(markOf(dlg, 1), CompareMark::Same);
    // Differing rows stand out in every column; same rows do not.
    EXPECT_TRUE(rows.data(rows.index(day, ColName + 1), Qt::BackgroundRole).isValid());
    EXPECT_FALSE(rows.data(rows.index(rowOfParam(rows, 1), ColName + 1), Qt::BackgroundRole).isValid());
    EXPECT_EQ(dlg.progress()->text(), QString("Отличаются: 2, совпадают: %1, не прочитаны: 2").arg(n - 4));

    // The filter: the two differing and the two unread rows, and back.
    QTest::keyClick(dlg.list(), Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(dlg.onlyDifferences());
    std::vector<int> shown = visibleRows(dlg);
    std::vector<int> expected = {rowOfParam(rows, 8), day, rowOfParam(rows, 302), rowOfParam(rows, 320)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
    dlg.ShowOnlyDifferences(false);
    EXPECT_EQ(static_cast<int>(visibleRows(dlg).size()), n);

    // Nothing reached the list or its file; the units stay the list's.
    EXPECT_EQ(files(), before);
    EXPECT_EQ(rows.text(rowOfParam(rows, 310), ColValue), QString("0,850"));

    // A command leaves the compare: the column goes, the filter with it.
    dlg.ShowOnlyDifferences(true);
    dlg.list()->clearSelection();
    model->setRowFailure({0, 8, 0}, {});
    rows.setSelected(rowOfParam(rows, 1), true);
    QTest::mouseClick(dlg.button(IDC_READ), Qt::LeftButton);
    EXPECT_FALSE(rows.comparing());
    EXPECT_EQ(rows.columnCount(), ColumnCount);
    EXPECT_EQ(static_cast<int>(visibleRows(dlg).size()), n);
    EXPECT_EQ(dlg.list()->columnWidth(ColUnits), ParamListModel::kWidths[ColUnits]);
    ASSERT_TRUE(waitIdle(dlg));
    EXPECT_TRUE(errors.empty());
    dlg.reject();
}

TEST_F(WindowCompare, WritesChosenRowsThenReadsThemBack) {
    CMainDlg dlg(options());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    const int listData = storedList(dlg);
    ParamListModel& rows = dlg.rows();
    model->setEntry({0, 301, 0}, {"30", "день"});
    model->setEntry({0, 3, 0}, {"01.01.25", ""});
    model->setEntry({1, 320, 0}, {"41", "т/ч"});
    // This device says yes to 302 but keeps its own value.
    model->setEntry({0, 302, 0}, {"5", "ч"});
    devsim::Failure keeps;
    keeps.keeps = QString("6");
    model->setRowFailure({0, 302, 0}, keeps);

    dlg.CompareWithDevice();
    ASSERT_TRUE(waitShown(dlg));
    EXPECT_EQ(dlg.progress()->text(),
              QString("Отличаются: 4, совпадают: %1, не прочитаны: 0").arg(rows.rowCount() - 4));

    // Two chosen differing rows and a same one: two writes, then two reads.
    dlg.list()->clearSelection();
    for (int p : {301, 3, 1})
        rows.setSelected(rowOfParam(rows, p), true);
    const size_t mark = model->log().size();
    dlg.WriteStoredValues();
    ASSERT_TRUE(waitShown(dlg));
    EXPECT_EQ(requestKinds(mark), "WWRR");
    EXPECT_EQ(model->entry({0, 301, 0})->value, QString("25"));
    EXPECT_EQ(markOf(dlg, 301), CompareMark::Confirmed);
    EXPECT_EQ(markOf(dlg, 3), CompareMark::Confirmed);
    EXPECT_EQ(markOf(dlg, 1), CompareMark::Same);
    EXPECT_EQ(markOf(dlg, 320), CompareMark::Differs) << "not chosen, not written";
    EXPECT_EQ(model->entry({1, 320, 0})->value, QString("41"));

    // The device that keeps another value is shown with what it keeps.
    dlg.list()->clearSelection();
    rows.setSelected(rowOfParam(rows, 302), true);
    dlg.WriteStoredValues();
    ASSERT_TRUE(waitShown(dlg));
    EXPECT_EQ(markOf(dlg, 302), CompareMark::DiffersAfterWrite);
    EXPECT_EQ(rows.compareCell(rowOfParam(rows, 302)).device, QString("6"));
    EXPECT_EQ(rows.text(rowOfParam(rows, 302), ColValue), QString("0"));
    EXPECT_TRUE(dlg.progress()->text().contains("другое после записи: 1")) << dlg.progress()->text().toStdString();

    // Nothing chosen that differs: said, and nothing sent.
    dlg.list()->clearSelection();
    rows.setSelected(rowOfParam(rows, 1), true);
    const size_t quiet = model->log().size();
    dlg.WriteStoredValues();
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(model->log().size(), quiet);
    errors.clear();

    // Loading another list or type leaves the compare.
    doubleClick(dlg.tree(), findType(dlg.tree(), 21));
    EXPECT_FALSE(rows.comparing());
    EXPECT_EQ(rows.columnCount(), ColumnCount);
    EXPECT_EQ(dlg.wiring()->compare().phase(), CompareRun::Phase::Idle);
    EXPECT_NE(listData, 0);
    EXPECT_TRUE(errors.empty());
    dlg.reject();
}

TEST_F(WindowCompare, StopMidwayLeavesTheListAlone) {
    CMainDlg dlg(options());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    storedList(dlg);
    ParamListModel& rows = dlg.rows();
    std::vector<QString> stored;
    for (int r = 0; r < rows.rowCount(); ++r)
        stored.push_back(rows.text(r, ColValue));
    for (int r = 0; r < rows.rowCount(); ++r)
        model->setEntry({leadingInt(rows.text(r, ColCanal)), leadingInt(rows.text(r, ColParam)),
                         leadingInt(rows.text(r, ColIndex))},
                        {"99", ""});
    devsim::Failure slow;
    slow.delayMs = 150;
    model->setRunFailure(slow);
    const auto before = files();

    // Stop while reading.
    dlg.CompareWithDevice();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.wiring()->compare().counts().differs >= 2; }, 10000));
    QTest::mouseClick(dlg.button(IDC_STOP), Qt::LeftButton);
    ASSERT_TRUE(waitShown(dlg));
    const CompareRun::Counts c = dlg.wiring()->compare().counts();
    EXPECT_GE(c.notRead, 1) << "rows after the stop are not read";
    EXPECT_EQ(c.differs + c.notRead + c.nothingStored, rows.rowCount());
    EXPECT_TRUE(rows.comparing()) << "a stop keeps what was found";

    // Stop while writing back: no read-back follows, the list stays.
    dlg.list()->clearSelection();
    std::vector<int> differing;
    for (int r = 0; r < rows.rowCount(); ++r)
        if (rows.compareCell(r).mark == CompareMark::Differs)
            differing.push_back(r);
    ASSERT_GE(differing.size(), 2u);
    rows.selectOnly(differing);
    const size_t mark = model->log().size();
    dlg.WriteStoredValues();
    ASSERT_TRUE(QTest::qWaitFor([&] { return requestKinds(mark).size() >= 1; }, 10000));
    QTest::mouseClick(dlg.button(IDC_STOP), Qt::LeftButton);
    ASSERT_TRUE(waitShown(dlg));
    EXPECT_EQ(requestKinds(mark).find('R'), std::string::npos) << requestKinds(mark);
    int notWritten = 0;
    for (int r : differing)
        notWritten += rows.compareCell(r).mark == CompareMark::NotWritten ? 1 : 0;
    EXPECT_GE(notWritten, 1);

    for (int r = 0; r < rows.rowCount(); ++r)
        EXPECT_EQ(rows.text(r, ColValue), stored[static_cast<size_t>(r)]) << r;
    EXPECT_EQ(files(), before);
    dlg.LeaveCompare();
    EXPECT_FALSE(rows.comparing());
    EXPECT_TRUE(errors.empty());
    dlg.reject();
}

// The device stops answering half-way through a compare (its cable pulled):
// the rows it answered keep their marks, the rest end as not read, the counts
// say so, and nothing of the list changes.
TEST_F(WindowCompare, ADeviceGoingSilentHalfWayLeavesTheRestNotRead) {
    CMainDlg dlg(options());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    storedList(dlg);
    ParamListModel& rows = dlg.rows();
    const int n = rows.rowCount();
    ASSERT_GE(n, 4);
    std::vector<QString> stored;
    for (int r = 0; r < n; ++r)
        stored.push_back(rows.text(r, ColValue));
    const auto before = files();

    dlg.CompareWithDevice();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dlg.wiring()->compare().counts().same >= n - 2; }, 10000));
    devsim::Failure silent;
    silent.silent = true;
    model->setRunFailure(silent);
    ASSERT_TRUE(waitShown(dlg));

    const CompareRun::Counts c = dlg.wiring()->compare().counts();
    EXPECT_GE(c.notRead, 1);
    EXPECT_GE(c.same, n - 2);
    EXPECT_EQ(c.same + c.notRead + c.nothingStored, n) << "no row is left pending or taken as differing";
    EXPECT_EQ(c.differs, 0);
    for (int r = 0; r < n; ++r) {
        EXPECT_NE(rows.compareCell(r).mark, CompareMark::Pending) << r;
        EXPECT_EQ(rows.text(r, ColValue), stored[static_cast<size_t>(r)]) << r;
    }
    EXPECT_TRUE(rows.comparing());
    EXPECT_EQ(files(), before);
    dlg.reject();
}
