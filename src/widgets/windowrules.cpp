#include "windowrules.h"

#include <QFontMetrics>
#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace parvault {

LayoutMetrics LayoutMetrics::Measure(const QRect& window, const QRect& list, const QRect& tree) {
    // All three rectangles are taken from the window's top-left corner.
    LayoutMetrics m;
    m.listLeft = list.left() - window.left();
    const int windowBottom = window.top() + window.height();
    m.listTop = list.top() - window.top() + (windowBottom - (list.top() + list.height())) + 10;
    m.listRightGap = (window.left() + window.width()) - (list.left() + list.width());
    m.treeTop = tree.top() - window.top() + (windowBottom - (tree.top() + tree.height())) + 10;
    m.treeWidth = tree.width();
    return m;
}

QSize LayoutMetrics::ListSize(int cx, int cy) const {
    return {std::max(0, cx - (listLeft + listRightGap)), std::max(0, cy - listTop + 10)};
}

QSize LayoutMetrics::TreeSize(int, int cy) const {
    return {std::max(0, treeWidth), std::max(0, cy - treeTop + 10)};
}

KeyVerdict FilterKey(int key, bool keypad) {
    switch (key) {
    case Qt::Key_Escape:
    case Qt::Key_F5:
        return KeyVerdict::Consume;
    case Qt::Key_Delete:
        return KeyVerdict::DeleteThenConsume;
    case Qt::Key_Plus:
        return keypad ? KeyVerdict::Consume : KeyVerdict::Pass;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return KeyVerdict::Consume;
    default:
        return KeyVerdict::Pass;
    }
}

char CommandChar(const QStringList& argumentsAfterProgram) {
    const QString line = argumentsAfterProgram.join(QLatin1Char(' '));
    for (const QChar c : line) {
        if (c.unicode() <= 0x20)
            continue; // blanks and control characters after the program name
        return c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?';
    }
    return 0;
}

bool FullRowSelection(char commandChar) {
    return commandChar == 'x' || commandChar == 'X';
}

DialogUnits DialogUnits::ForFont(const QFont& font) {
    const QFontMetrics fm(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    DialogUnits u;
    u.charWidth = (fm.horizontalAdvance(alphabet) / 26 + 1) / 2;
    u.charHeight = fm.height();
    return u;
}

QRect DialogUnits::toPixels(int x, int y, int w, int h) const {
    auto px = [](int dlu, double unit, int base) {
        return static_cast<int>(std::lround(dlu * unit / base));
    };
    return {px(x, charWidth, 4), px(y, charHeight, 8), px(w, charWidth, 4), px(h, charHeight, 8)};
}

} // namespace parvault
