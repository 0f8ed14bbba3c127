#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// "Más mensajes recibidos": one window for every message that arrived while too many were
// waiting to pop up, saying how many they are and opening "Mensajes recibidos", where they all
// are. Like a pop-up it comes to the front without taking the keyboard, and is destroyed when
// closed.
class frmMasRecibidos final : public QDialog
{
    Q_OBJECT

public:
    explicit frmMasRecibidos(QWidget *parent = nullptr);

    void anadir(int mensajes);
    // For tests: the messages counted.
    int cuenta() const { return m_cuenta; }

Q_SIGNALS:
    // "&Ver mensajes recibidos": the window closes and the list is to be shown.
    void verRecibidos();

private:
    int m_cuenta = 0;
    QLabel *m_texto;
    QPushButton *m_ver;
    QPushButton *m_aceptar;
};
