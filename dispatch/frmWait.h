#pragma once

#include <QWidget>

#include <memory>

class SendWait;
class QTimer;

// "Espere un momento...": stands over the main window while one recipient is served.
// Each dispatch builds a fresh one, which places itself centred on the main window.
class frmWait final : public QWidget
{
    Q_OBJECT

public:
    explicit frmWait(QWidget *principal);

    // The wait of one recipient: principal (which may be null) disabled and a fresh wait window
    // over it, drawn before this returns; both undone when the result is destroyed.
    static std::unique_ptr<SendWait> waitOver(QWidget *principal);

    // Where the window's outer frame goes, centred on the main window's outer frame, in
    // pixels; the arithmetic is done in twips as floats, as the layout is given in twips.
    static QPoint centredPosition(const QRect &principal, const QSize &own);

private:
    QTimer *m_timer;
};
