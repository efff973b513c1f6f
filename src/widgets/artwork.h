#pragma once

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>

namespace parvault {

// All pictures are drawn in code: 32x32 button icons, the 91x12 row image
// strip (7 images of 12x12, magenta transparent), the 13 tree icons and the
// program icon.
enum class ButtonArt { SaveList, Read, Write, Stop, SaveValues, Settings, Help, Exit, Ok, Cancel };

QImage ButtonImage(ButtonArt art);
QImage ProgramImage(int size = 32);
QIcon ProgramIcon();
QImage RowImageStrip();
// Cuts the strip into its seven 12x12 images, magenta made transparent.
QList<QPixmap> RowImages();
// The 13 tree icons in their fixed order: 4 group pictures, a list, two
// spares, the root, the 4 selected group pictures, a selected list.
QList<QIcon> TreeIcons();

// Grey copy for the un-hovered state: g = (30R + 59G + 11B) / 100 into all
// three channels; alpha (the icon's mask) untouched.
QImage GreyCopy(const QImage& image);

} // namespace parvault
