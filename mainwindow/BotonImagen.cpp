#include "mainwindow/BotonImagen.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace {
constexpr int kImagen = 16;
constexpr int kMargenSuperior = 5;
constexpr int kSeparacion = 2;
} // namespace

BotonImagen::BotonImagen(const QIcon &icon, const QString &text, QWidget *parent)
    : QPushButton(icon, text, parent)
{
    setIconSize(QSize(kImagen, kImagen));
}

void BotonImagen::paintEvent(QPaintEvent *)
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

    const QRect imagen((width() - kImagen) / 2 + shiftX, kMargenSuperior + shiftY, kImagen, kImagen);
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    painter.drawPixmap(imagen, icon().pixmap(QSize(kImagen, kImagen), devicePixelRatio(), mode));

    const QRect caption(
        shiftX, imagen.bottom() + 1 + kSeparacion + shiftY, width(), height() - imagen.bottom() - 1 - kSeparacion);
    painter.drawItemText(caption, Qt::AlignHCenter | Qt::AlignTop | Qt::TextShowMnemonic, palette(), isEnabled(),
        text(), QPalette::ButtonText);
}
