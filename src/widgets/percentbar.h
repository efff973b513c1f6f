#pragma once

#include <QString>
#include <QWidget>

namespace parvault {

// Progress display that draws its own text centred over the bar, in the
// inverse colours of whatever lies under each part of the text.
class CPercentBar : public QWidget {
    Q_OBJECT
public:
    explicit CPercentBar(QWidget* parent = nullptr);

    void SetRange(int lower, int upper);
    // Stores the position (unclamped) and returns the previous one; redraws
    // only when the bar's width in pixels changes.
    int SetPos(int position);
    void SetShowText(bool show);
    void SetText(const QString& text);

    int lower() const { return lower_; }
    int upper() const { return upper_; }
    int pos() const { return position_; }
    QString text() const { return text_; }
    // What is drawn over the bar: the own text, or "N%" when it is empty.
    QString displayText() const;
    // The bar end in pixels from the left, or -1 when nothing is drawn.
    int barEnd() const;
    // Redraws requested since construction, for the no-redundant-redraw rule.
    int redrawCount() const { return redraws_; }

    QSize sizeHint() const override { return {180, 20}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void redraw();
    double fraction() const;

    int lower_ = 0;
    int upper_ = 100;
    int position_ = 0;
    QString text_;
    bool showText_ = true;
    int lastBarWidth_ = -1;
    int redraws_ = 0;
};

} // namespace parvault
