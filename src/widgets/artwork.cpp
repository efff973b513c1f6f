#include "artwork.h"

#include <QPainter>
#include <QPainterPath>

namespace parvault {

namespace {

QImage blank(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    return img;
}

void drawDatabase(QPainter& p, QColor body) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(body);
    p.drawRect(6, 8, 20, 18);
    p.drawEllipse(6, 4, 20, 8);
    p.drawEllipse(6, 22, 20, 8);
    p.setBrush(body.lighter(130));
    p.drawEllipse(6, 4, 20, 8);
}

void drawArrow(QPainter& p, QPointF from, QPointF to, QColor c) {
    p.setPen(QPen(c, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    QLineF line(to, from);
    QLineF a = line;
    a.setAngle(line.angle() + 35);
    a.setLength(7);
    QLineF b = line;
    b.setAngle(line.angle() - 35);
    b.setLength(7);
    p.drawLine(a);
    p.drawLine(b);
}

void drawDevice(QPainter& p) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(80, 80, 96));
    p.drawRoundedRect(3, 6, 14, 20, 2, 2);
    p.setBrush(QColor(120, 220, 120));
    p.drawRect(5, 9, 10, 6);
}

void drawDiskette(QPainter& p) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(40, 90, 200));
    p.drawRect(4, 4, 24, 24);
    p.setBrush(Qt::white);
    p.drawRect(9, 4, 14, 10);
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(8, 19, 16, 9);
}

void drawStopSign(QPainter& p) {
    QPainterPath oct;
    for (int i = 0; i < 8; ++i) {
        QLineF l(16, 16, 16, 3);
        l.setAngle(90 + 22.5 + 45 * i);
        i == 0 ? oct.moveTo(l.p2()) : oct.lineTo(l.p2());
    }
    oct.closeSubpath();
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(210, 20, 20));
    p.drawPath(oct);
    p.setPen(QPen(Qt::white, 3));
    p.drawLine(11, 16, 21, 16);
}

void drawGear(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(110, 110, 130));
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(16, 16);
        p.rotate(45 * i);
        p.drawRect(-3, -14, 6, 6);
        p.restore();
    }
    p.drawEllipse(QPointF(16, 16), 10, 10);
    p.setBrush(QColor(240, 240, 240));
    p.drawEllipse(QPointF(16, 16), 4, 4);
}

void drawQuestionMark(QPainter& p) {
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(40, 120, 230));
    p.drawEllipse(2, 2, 28, 28);
    QFont f;
    f.setBold(true);
    f.setPixelSize(22);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("?"));
}

} // namespace

QImage ButtonImage(ButtonArt art) {
    QImage img = blank(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    switch (art) {
    case ButtonArt::SaveList:
        drawDiskette(p);
        break;
    case ButtonArt::Read:
        drawDevice(p);
        drawArrow(p, {18, 16}, {30, 16}, QColor(0, 140, 0));
        break;
    case ButtonArt::Write:
        drawDevice(p);
        drawArrow(p, {30, 16}, {19, 16}, QColor(200, 30, 30));
        break;
    case ButtonArt::Stop:
        drawStopSign(p);
        break;
    case ButtonArt::SaveValues:
        drawDatabase(p, QColor(230, 180, 40));
        p.setPen(QPen(QColor(0, 120, 0), 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(14, 18, 19, 24);
        p.drawLine(19, 24, 30, 10);
        break;
    case ButtonArt::Settings:
        drawGear(p);
        break;
    case ButtonArt::Help:
        drawQuestionMark(p);
        break;
    case ButtonArt::Exit:
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(QColor(150, 100, 50));
        p.drawRect(5, 3, 16, 26);
        p.setBrush(QColor(255, 220, 80));
        p.drawEllipse(16, 15, 3, 3);
        drawArrow(p, {18, 22}, {30, 22}, QColor(200, 30, 30));
        break;
    case ButtonArt::Ok:
        p.setPen(QPen(QColor(0, 150, 0), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({{5, 17}, {13, 26}, {28, 6}}));
        break;
    case ButtonArt::Cancel:
        p.setPen(QPen(QColor(210, 20, 20), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(7, 7, 25, 25);
        p.drawLine(25, 7, 7, 25);
        break;
    }
    return img;
}

QImage ProgramImage(int size) {
    QImage img = blank(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawDatabase(p, QColor(60, 140, 220));
    drawArrow(p, {10, 17}, {22, 17}, Qt::white);
    p.end();
    return size == 32 ? img : img.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int s : {16, 32, 48})
        icon.addPixmap(QPixmap::fromImage(ProgramImage(s)));
    return icon;
}

QImage RowImageStrip() {
    QImage strip(91, 12, QImage::Format_RGB32);
    strip.fill(QColor(255, 0, 255));
    QPainter p(&strip);
    auto cell = [&](int i) { return QRect(12 * i, 0, 12, 12); };
    // 0: red figure (a person: the device did not answer a write)
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 0, 0));
    p.drawEllipse(cell(0).x() + 4, 1, 4, 4);
    p.drawRect(cell(0).x() + 3, 5, 6, 4);
    p.drawRect(cell(0).x() + 3, 9, 2, 3);
    p.drawRect(cell(0).x() + 7, 9, 2, 3);
    // 1: blue tick
    p.setPen(QPen(QColor(0, 0, 220), 2));
    p.drawLine(cell(1).x() + 2, 6, cell(1).x() + 5, 9);
    p.drawLine(cell(1).x() + 5, 9, cell(1).x() + 10, 2);
    // 2: blank
    // 3: red exclamation mark
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 0, 0));
    p.drawRect(cell(3).x() + 5, 1, 3, 7);
    p.drawRect(cell(3).x() + 5, 9, 3, 2);
    // 4: black question mark
    QFont f;
    f.setPixelSize(12);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(cell(4), Qt::AlignCenter, QStringLiteral("?"));
    // 5: blue double chevron pointing right
    p.setPen(QPen(QColor(0, 0, 220), 2));
    for (int dx : {1, 6}) {
        p.drawLine(cell(5).x() + dx, 2, cell(5).x() + dx + 4, 6);
        p.drawLine(cell(5).x() + dx + 4, 6, cell(5).x() + dx, 10);
    }
    // 6: red dot
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 0, 0));
    p.drawEllipse(cell(6).x() + 3, 3, 6, 6);
    return strip;
}

QList<QPixmap> RowImages() {
    const QImage strip = RowImageStrip();
    QList<QPixmap> images;
    for (int i = 0; i < 7; ++i) {
        QImage cell = strip.copy(12 * i, 0, 12, 12).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 12; ++x)
                if (cell.pixel(x, y) == qRgb(255, 0, 255))
                    cell.setPixel(x, y, qRgba(0, 0, 0, 0));
        images.append(QPixmap::fromImage(cell));
    }
    return images;
}

QList<QIcon> TreeIcons() {
    // Group colours for device type groups 0..3.
    const QColor groups[4] = {QColor(60, 120, 220), QColor(40, 160, 70), QColor(220, 140, 30),
                              QColor(150, 70, 180)};
    auto group = [&](int g, bool selected) {
        QImage img = blank(16, 16);
        QPainter p(&img);
        p.setPen(Qt::black);
        p.setBrush(selected ? groups[g].lighter(140) : groups[g]);
        p.drawRoundedRect(1, 2, 13, 11, 2, 2);
        p.setBrush(selected ? QColor(255, 255, 160) : QColor(200, 255, 200));
        p.drawRect(3, 4, 9, 4);
        return QIcon(QPixmap::fromImage(img));
    };
    auto list = [&](bool selected) {
        QImage img = blank(16, 16);
        QPainter p(&img);
        p.setPen(Qt::black);
        p.setBrush(selected ? QColor(255, 255, 180) : Qt::white);
        p.drawRect(3, 1, 10, 14);
        for (int y = 4; y < 14; y += 3)
            p.drawLine(5, y, 11, y);
        return QIcon(QPixmap::fromImage(img));
    };
    auto plain = [&](QColor c) {
        QImage img = blank(16, 16);
        QPainter p(&img);
        p.setPen(Qt::black);
        p.setBrush(c);
        p.drawEllipse(3, 3, 10, 10);
        return QIcon(QPixmap::fromImage(img));
    };
    QList<QIcon> icons;
    for (int g = 0; g < 4; ++g)
        icons.append(group(g, false));
    icons.append(list(false));
    icons.append(plain(QColor(180, 180, 180)));
    icons.append(plain(QColor(120, 120, 120)));
    icons.append(QIcon(QPixmap::fromImage(ProgramImage(16))));
    for (int g = 0; g < 4; ++g)
        icons.append(group(g, true));
    icons.append(list(true));
    return icons;
}

QImage GreyCopy(const QImage& image) {
    QImage grey = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const QRgb c = line[x];
            const int g = (30 * qRed(c) + 59 * qGreen(c) + 11 * qBlue(c)) / 100;
            line[x] = qRgba(g, g, g, qAlpha(c));
        }
    }
    return grey;
}

} // namespace parvault
