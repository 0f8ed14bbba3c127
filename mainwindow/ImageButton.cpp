#include "mainwindow/ImageButton.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace {
constexpr int kImage = 16;
constexpr int kTopMargin = 5;
constexpr int kSpacing = 2;
} // namespace

ImageButton::ImageButton(const QIcon &icon, const QString &text, QWidget *parent)
    : QPushButton(icon, text, parent)
{
    setIconSize(QSize(kImage, kImage));
}

void ImageButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);

    // The style draws the frame and the focus mark; image and caption are laid out here.
    QStyleOptionButton frame = option;
    frame.text.clear();
    frame.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButton, frame);

    const bool down = isDown() || isChecked();
    const int shiftX = down ? style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this) : 0;
    const int shiftY = down ? style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this) : 0;

    const QRect image((width() - kImage) / 2 + shiftX, kTopMargin + shiftY, kImage, kImage);
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    painter.drawPixmap(image, icon().pixmap(QSize(kImage, kImage), devicePixelRatio(), mode));

    const QRect caption(
        shiftX, image.bottom() + 1 + kSpacing + shiftY, width(), height() - image.bottom() - 1 - kSpacing);
    painter.drawItemText(caption, Qt::AlignHCenter | Qt::AlignTop | Qt::TextShowMnemonic, palette(), isEnabled(),
        text(), QPalette::ButtonText);
}
