#pragma once

#include <QPushButton>
#include <QImage>
#include <QPixmap>

namespace parvault {

// A flat push button showing only an icon: grey while the pointer is
// elsewhere, in colour while it rests on the button.
class CIconButton : public QPushButton {
    Q_OBJECT
public:
    explicit CIconButton(QWidget* parent = nullptr);

    void SetIcon(const QImage& icon, bool makeGrey);
    bool hovered() const { return hovered_; }
    // Whether the border is drawn in the current state, and whether sunken.
    bool drawsBorder() const;
    bool drawsSunken() const { return isDown(); }
    // The picture the button shows now (grey or colour).
    const QPixmap& currentPixmap() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    QPixmap colour_;
    QPixmap grey_;
    QSize imageSize_;
    bool hovered_ = false;
    bool flat_ = true;
};

} // namespace parvault
