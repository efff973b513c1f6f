#include "artwork.h"
#include "iconbutton.h"
#include "percentbar.h"
#include "windowrules.h"

#include <QApplication>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

using namespace parvault;

TEST(GreyCopy, UsesWeightedSumAndKeepsAlpha) {
    QImage img(4, 1, QImage::Format_ARGB32);
    img.setPixel(0, 0, qRgba(255, 0, 0, 255));
    img.setPixel(1, 0, qRgba(0, 255, 0, 128));
    img.setPixel(2, 0, qRgba(0, 0, 255, 0));
    img.setPixel(3, 0, qRgba(10, 20, 30, 255));
    const QImage grey = GreyCopy(img);
    EXPECT_EQ(grey.pixel(0, 0), qRgba(76, 76, 76, 255));   // 30*255/100 = 76
    EXPECT_EQ(qGray(grey.pixel(1, 0)), 150);                // 59*255/100 = 150
    EXPECT_EQ(qAlpha(grey.pixel(1, 0)), 128);
    EXPECT_EQ(qAlpha(grey.pixel(2, 0)), 0);
    // (300 + 1180 + 330) / 100 = 18, integer division
    EXPECT_EQ(qRed(grey.pixel(3, 0)), 18);
    EXPECT_EQ(qGreen(grey.pixel(3, 0)), 18);
    EXPECT_EQ(qBlue(grey.pixel(3, 0)), 18);
}

TEST(Artwork, RowStripHasSevenCellsWithMagentaBackground) {
    const QImage strip = RowImageStrip();
    EXPECT_EQ(strip.size(), QSize(91, 12));
    EXPECT_EQ(strip.pixel(90, 0), qRgb(255, 0, 255)); // unused right end
    const auto images = RowImages();
    ASSERT_EQ(images.size(), 7);
    // Image 2 is blank: fully transparent once magenta is masked.
    const QImage blank = images[2].toImage();
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(qAlpha(blank.pixel(x, y)), 0);
    // Image 6 (red dot) has red in its centre.
    EXPECT_GT(qRed(images[6].toImage().pixel(6, 6)), 200);
    EXPECT_EQ(TreeIcons().size(), 13);
}

TEST(IconButton, GreyUntilHoveredAndBorderRules) {
    CIconButton button;
    button.resize(60, 60);
    QImage red(32, 32, QImage::Format_ARGB32);
    red.fill(qRgba(200, 0, 0, 255));
    button.SetIcon(red, true);
    EXPECT_EQ(qRed(button.currentPixmap().toImage().pixel(5, 5)), 60); // grey 30*200/100
    EXPECT_FALSE(button.drawsBorder());

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&button, &enter);
    EXPECT_TRUE(button.hovered());
    EXPECT_EQ(button.currentPixmap().toImage().pixel(5, 5), qRgba(200, 0, 0, 255));
    EXPECT_TRUE(button.drawsBorder());
    EXPECT_FALSE(button.drawsSunken());

    button.setEnabled(false);
    EXPECT_FALSE(button.drawsBorder()) << "a disabled button gets no border on hover";
    button.setEnabled(true);

    button.setDown(true);
    EXPECT_TRUE(button.drawsBorder());
    EXPECT_TRUE(button.drawsSunken());
    button.setDown(false);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.hovered());
    EXPECT_FALSE(button.drawsBorder());

    // Without a grey copy the colour image is shown always.
    CIconButton plain;
    plain.SetIcon(red, false);
    EXPECT_EQ(plain.currentPixmap().toImage().pixel(5, 5), qRgba(200, 0, 0, 255));
}

TEST(PercentBar, TextAndRedrawRules) {
    CPercentBar bar;
    bar.resize(200, 20);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    bar.SetRange(0, 100);
    EXPECT_EQ(bar.displayText(), "0%");

    const int before = bar.redrawCount();
    EXPECT_EQ(bar.SetPos(50), 0);
    EXPECT_EQ(bar.barEnd(), 100);
    EXPECT_EQ(bar.displayText(), "50%");
    const int afterFirst = bar.redrawCount();
    EXPECT_EQ(afterFirst, before + 1);
    EXPECT_EQ(bar.SetPos(50), 50);
    EXPECT_EQ(bar.redrawCount(), afterFirst) << "same position, no second redraw";
    // 50.3% of 200 px still ends at pixel 100: no redraw either.
    bar.SetRange(0, 1000);
    bar.SetPos(500);
    const int at500 = bar.redrawCount();
    bar.SetPos(502);
    EXPECT_EQ(bar.redrawCount(), at500);

    bar.SetText("Подключение...");
    const int afterText = bar.redrawCount();
    bar.SetText("Подключение...");
    EXPECT_EQ(bar.redrawCount(), afterText) << "same text, no second redraw";
    EXPECT_EQ(bar.displayText(), "Подключение...");

    bar.SetRange(0, 100);
    bar.SetText(QString());
    bar.SetPos(100);
    EXPECT_EQ(bar.barEnd(), 200);
    EXPECT_EQ(bar.displayText(), "100%");

    // Painted picture: at 100 the whole bar is the highlight colour.
    const QImage full = bar.grab().toImage();
    const QColor highlight = bar.palette().color(QPalette::Highlight);
    EXPECT_EQ(QColor(full.pixel(2, 2)), highlight);
    EXPECT_EQ(QColor(full.pixel(197, 17)), highlight);

    bar.SetPos(0);
    const QImage empty = bar.grab().toImage();
    EXPECT_EQ(QColor(empty.pixel(2, 2)), bar.palette().color(QPalette::Base));
}

TEST(PercentBar, EmptyRangeStoresPositionAndDrawsNothing) {
    CPercentBar bar;
    bar.resize(100, 20);
    bar.SetRange(5, 5);
    EXPECT_EQ(bar.SetPos(7), 0);
    EXPECT_EQ(bar.pos(), 7);
    EXPECT_EQ(bar.barEnd(), -1);
    (void)bar.grab(); // painting must not divide by zero
    bar.SetRange(10, 0);
    EXPECT_EQ(bar.barEnd(), -1);
}

TEST(WindowRules, CommandCharacterSelectsFullRows) {
    EXPECT_EQ(CommandChar({}), 0);
    EXPECT_EQ(CommandChar({"x"}), 'x');
    EXPECT_EQ(CommandChar({"   X"}), 'X');
    EXPECT_EQ(CommandChar({"", "\tx"}), 'x');
    EXPECT_EQ(CommandChar({"-x"}), '-');
    EXPECT_EQ(CommandChar({"xyz", "other"}), 'x');
    EXPECT_TRUE(FullRowSelection('x'));
    EXPECT_TRUE(FullRowSelection('X'));
    EXPECT_FALSE(FullRowSelection('-'));
    EXPECT_FALSE(FullRowSelection(0));
}

TEST(WindowRules, KeyFilter) {
    EXPECT_EQ(FilterKey(Qt::Key_Escape, false), KeyVerdict::Consume);
    EXPECT_EQ(FilterKey(Qt::Key_Return, false), KeyVerdict::Consume);
    EXPECT_EQ(FilterKey(Qt::Key_Enter, true), KeyVerdict::Consume);
    EXPECT_EQ(FilterKey(Qt::Key_F5, false), KeyVerdict::Consume);
    EXPECT_EQ(FilterKey(Qt::Key_Plus, true), KeyVerdict::Consume);
    EXPECT_EQ(FilterKey(Qt::Key_Plus, false), KeyVerdict::Pass) << "only the keypad's plus";
    EXPECT_EQ(FilterKey(Qt::Key_Delete, false), KeyVerdict::DeleteThenConsume);
    EXPECT_EQ(FilterKey(Qt::Key_A, false), KeyVerdict::Pass);
    EXPECT_EQ(FilterKey(Qt::Key_Tab, false), KeyVerdict::Pass);
}

TEST(WindowRules, LayoutFollowsEdgesAndNeverGoesNegative) {
    const QRect window(0, 0, 800, 530);
    const QRect list(207, 70, 584, 449);
    const QRect tree(3, 70, 195, 449);
    const LayoutMetrics m = LayoutMetrics::Measure(window, list, tree);
    // The starting client size gives back the starting sizes.
    EXPECT_EQ(m.ListSize(800, 530), list.size());
    EXPECT_EQ(m.TreeSize(800, 530), tree.size());
    // The list follows the right and bottom edges, the tree only the bottom.
    EXPECT_EQ(m.ListSize(900, 600), QSize(684, 519));
    EXPECT_EQ(m.TreeSize(900, 600), QSize(195, 519));
    // Minimised, or smaller than the offsets: zero, never negative.
    EXPECT_EQ(m.ListSize(0, 0), QSize(0, 0));
    EXPECT_EQ(m.TreeSize(0, 0), QSize(195, 0));
    const QRect pixels = DialogUnits{6, 13}.toPixels(138, 43, 389, 276);
    EXPECT_EQ(pixels, QRect(207, 70, 584, 449));
}
