#include "mainwindow.h"
#include "tempdir.h"
#include "valueeditdlg.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace parvault;

namespace {

std::vector<ParamRow> sampleRows() {
    std::vector<ParamRow> rows;
    for (int i = 0; i < 5; ++i) {
        ParamRow r;
        r.texts = {QString("%1").arg(1, 3), QString("%1").arg(i + 7, 4), QString("%1").arg(0, 3),
                   QString("v%1").arg(i), "ед", "Имя"};
        r.kind = i == 3 ? KindDataBlock : KindPlain;
        rows.push_back(r);
    }
    return rows;
}

// Runs `act` on the edit box as soon as it is open.
void whenBoxOpens(std::function<void(CValueEditDlg&)> act) {
    QTimer::singleShot(0, [act] {
        auto* box = qobject_cast<CValueEditDlg*>(QApplication::activeModalWidget());
        if (!box)
            box = qobject_cast<CValueEditDlg*>(QApplication::activePopupWidget());
        ASSERT_NE(box, nullptr);
        act(*box);
    });
}

class ValueEditTest : public ::testing::Test {
protected:
    parvault::testing::TempDir dir;
    parvault::testing::ScopedCwd cwd{dir.path()};
    std::unique_ptr<CMainDlg> dlg;

    void SetUp() override {
        MainWindowOptions o;
        o.startTimers = false;
        o.showError = [](const QString&, const QString&) {};
        dlg = std::make_unique<CMainDlg>(o);
        dlg->rows().setRows(sampleRows());
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }
    void TearDown() override { dlg->reject(); }
};

} // namespace

TEST_F(ValueEditTest, NoSelectionOpensNothing) {
    EXPECT_FALSE(EditSelectedValue(dlg->list(), dlg->rows()));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(ValueEditTest, TopmostSelectedRowIsEditedAndMarked) {
    dlg->rows().setSelected(3, true);
    dlg->rows().setSelected(1, true);
    whenBoxOpens([](CValueEditDlg& box) {
        EXPECT_EQ(box.edit()->text(), QString("v1"));
        EXPECT_TRUE(box.edit()->hasFocus());
        box.edit()->setText("42,5");
        QTest::keyClick(box.edit(), Qt::Key_Return);
    });
    EXPECT_TRUE(EditSelectedValue(dlg->list(), dlg->rows()));
    EXPECT_EQ(dlg->rows().text(1, ColValue), QString("42,5"));
    EXPECT_EQ(dlg->rows().icon(1), IconEdited);
    EXPECT_EQ(dlg->rows().text(1, ColCanal), QString("  1"));
    EXPECT_EQ(dlg->rows().text(3, ColValue), QString("v3")) << "only the topmost row";
}

TEST_F(ValueEditTest, ConfirmUnchangedOrEmptyStillMarks) {
    dlg->rows().setSelected(3, true);
    whenBoxOpens([](CValueEditDlg& box) { QTest::keyClick(box.edit(), Qt::Key_Enter); });
    EXPECT_TRUE(EditSelectedValue(dlg->list(), dlg->rows()));
    EXPECT_EQ(dlg->rows().text(3, ColValue), QString("v3"));
    EXPECT_EQ(dlg->rows().icon(3), IconEdited);
    EXPECT_EQ(dlg->rows().kind(3), KindDataBlock) << "the request kind stays";

    dlg->rows().setIcon(3, IconNeutral);
    whenBoxOpens([](CValueEditDlg& box) {
        box.edit()->clear();
        QTest::keyClick(box.edit(), Qt::Key_Return);
    });
    EXPECT_TRUE(EditSelectedValue(dlg->list(), dlg->rows()));
    EXPECT_EQ(dlg->rows().text(3, ColValue), QString());
    EXPECT_EQ(dlg->rows().icon(3), IconEdited);
}

TEST_F(ValueEditTest, EscapeOrClickOutsideChangesNothing) {
    dlg->rows().setSelected(2, true);
    whenBoxOpens([](CValueEditDlg& box) {
        box.edit()->setText("changed");
        QTest::keyClick(box.edit(), Qt::Key_Escape);
    });
    EXPECT_FALSE(EditSelectedValue(dlg->list(), dlg->rows()));
    EXPECT_EQ(dlg->rows().text(2, ColValue), QString("v2"));
    EXPECT_EQ(dlg->rows().icon(2), IconNeutral);

    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        whenBoxOpens([button](CValueEditDlg& box) {
            box.edit()->setText("changed");
            QTest::mousePress(&box, button, {}, QPoint(-5, 3));
        });
        EXPECT_FALSE(EditSelectedValue(dlg->list(), dlg->rows()));
        EXPECT_EQ(dlg->rows().text(2, ColValue), QString("v2"));
    }
    // The window's key filter did not swallow the box's own Escape and Enter.
    EXPECT_TRUE(dlg->isVisible());
}

TEST(ValueEditBox, PositionIgnoresScrollAndUsesOuterTop) {
    const int widths[4] = {50, 75, 50, 160};
    const QRect box = ValueEditBox(QPoint(300, 200), 40, widths, 13);
    EXPECT_EQ(box, QRect(300 + 175 + 2, 240, 160, 13));
}
