#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

namespace parvault {

// Offsets measured once at start-up that let the list follow the right and
// bottom edges and the tree the bottom edge.
struct LayoutMetrics {
    int listLeft = 0;
    int listTop = 0;
    int listRightGap = 0;
    int treeTop = 0;
    int treeWidth = 0;

    // The rule adds 10 px to the heights; on a framed dialog the caption and
    // frame counted into the top offsets take that back. Our window's outer
    // rectangle is its client area (the window manager draws the frame
    // outside it), so we count in their place whatever keeps the dialog's own
    // bottom margins: the starting size is a fixed point of the rule.
    static LayoutMetrics Measure(const QRect& window, const QRect& list, const QRect& tree);

    QSize ListSize(int cx, int cy) const;
    QSize TreeSize(int cx, int cy) const;
};

// What the window's key filter does with a key press.
enum class KeyVerdict {
    Pass,            // normal handling
    Consume,         // swallowed
    DeleteThenConsume, // run the list deletion, then swallow
};
// key: a Qt::Key; keypad: whether the key came from the keypad.
KeyVerdict FilterKey(int key, bool keypad);

// The first character of the arguments after the program's name, skipping
// the blanks and control characters that follow the name; 0 when none.
char CommandChar(const QStringList& argumentsAfterProgram);
bool FullRowSelection(char commandChar);

// The list's start rectangle and every other control, in dialog units.
struct DialogUnits {
    double charWidth = 6;  // average character width of the dialog font
    double charHeight = 13;
    QRect toPixels(int x, int y, int w, int h) const;
    // The units of a dialog font: the average width of the alphabet, rounded
    // as dialog templates do, and the character height.
    static DialogUnits ForFont(const QFont& font);
};

} // namespace parvault
