#include "percentbar.h"

#include <QPainter>
#include <QPixmap>

#include <cmath>

namespace parvault {

CPercentBar::CPercentBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent); // no background erase: we paint every pixel
}

void CPercentBar::SetRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
}

double CPercentBar::fraction() const {
    return static_cast<double>(position_ - lower_) / static_cast<double>(upper_ - lower_);
}

int CPercentBar::SetPos(int position) {
    const int previous = position_;
    position_ = position;
    if (upper_ == lower_)
        return previous; // no width to compute; keep the position only
    const int barWidth = static_cast<int>(std::trunc(width() * fraction()));
    if (barWidth != lastBarWidth_) {
        lastBarWidth_ = barWidth;
        redraw();
    }
    return previous;
}

void CPercentBar::SetShowText(bool show) {
    if (show == showText_)
        return;
    showText_ = show;
    redraw();
}

void CPercentBar::SetText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    redraw();
}

QString CPercentBar::displayText() const {
    if (!text_.isEmpty())
        return text_;
    return QStringLiteral("%1%").arg(static_cast<int>(std::trunc(fraction() * 100)));
}

int CPercentBar::barEnd() const {
    if (lower_ >= upper_)
        return -1;
    return static_cast<int>(std::trunc(width() * fraction()));
}

void CPercentBar::redraw() {
    ++redraws_;
    if (isVisible())
        repaint();
}

void CPercentBar::resizeEvent(QResizeEvent*) {
    lastBarWidth_ = -1;
}

void CPercentBar::paintEvent(QPaintEvent*) {
    if (lower_ >= upper_)
        return;
    // Paint off-screen, then copy unchanged: no flicker while the bar moves.
    QPixmap buffer(size());
    {
        QPainter p(&buffer);
        const QColor bar = palette().color(QPalette::Highlight);
        const QColor background = palette().color(QPalette::Base);
        const int end = barEnd();
        const QRect done(0, 0, end, height());
        const QRect rest(end, 0, width() - end, height());
        p.fillRect(done, bar);
        p.fillRect(rest, background);
        if (showText_) {
            const QString text = displayText();
            p.setClipRect(done);
            p.setPen(background);
            p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text);
            p.setClipRect(rest);
            p.setPen(bar);
            p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text);
        }
    }
    QPainter(this).drawPixmap(0, 0, buffer);
}

} // namespace parvault
