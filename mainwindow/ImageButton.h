#pragma once

#include <QPushButton>

// A push button that draws its 16 x 16 image centred above its caption, the way the
// buttons of the main window's foot row look.
class ImageButton final : public QPushButton
{
    Q_OBJECT

public:
    ImageButton(const QIcon &icon, const QString &text, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
