#include "iconbutton.h"

#include "artwork.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace parvault {

CIconButton::CIconButton(QWidget* parent) : QPushButton(parent) {
    setAttribute(Qt::WA_Hover, false);
    setFocusPolicy(Qt::StrongFocus);
}

void CIconButton::SetIcon(const QImage& icon, bool makeGrey) {
    colour_ = QPixmap::fromImage(icon);
    grey_ = makeGrey ? QPixmap::fromImage(GreyCopy(icon)) : QPixmap();
    imageSize_ = icon.size();
    update();
}

bool CIconButton::drawsBorder() const {
    return isDown() || (hovered_ && isEnabled()) || !flat_;
}

const QPixmap& CIconButton::currentPixmap() const {
    return (!hovered_ && !grey_.isNull()) ? grey_ : colour_;
}

QSize CIconButton::sizeHint() const {
    return imageSize_.isValid() ? imageSize_ + QSize(8, 8) : QSize(40, 40);
}

void CIconButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.color(QPalette::Button));

    int x = (width() - imageSize_.width()) / 2;
    int y = (height() - imageSize_.height()) / 2;
    if (isDown()) {
        ++x;
        ++y;
    }
    QPixmap picture = currentPixmap();
    if (!isEnabled()) {
        QStyleOption opt;
        opt.initFrom(this);
        picture = style()->generatedIconPixmap(QIcon::Disabled, picture, &opt);
    }
    p.drawPixmap(x, y, picture);

    if (drawsBorder()) {
        const QColor topLeft = drawsSunken() ? pal.color(QPalette::Dark) : pal.color(QPalette::Light);
        const QColor bottomRight =
            drawsSunken() ? pal.color(QPalette::Light) : pal.color(QPalette::Dark);
        const QRect r = rect().adjusted(0, 0, -1, -1);
        p.setPen(topLeft);
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(bottomRight);
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
    }
    if (hasFocus()) {
        QStyleOptionFocusRect opt;
        opt.initFrom(this);
        opt.rect = rect().adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &opt, &p, this);
    }
}

void CIconButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QPushButton::enterEvent(event);
}

void CIconButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QPushButton::leaveEvent(event);
}

} // namespace parvault
