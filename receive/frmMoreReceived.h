#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// "Más mensajes recibidos": one window for every message that arrived while too many were
// waiting to pop up, saying how many they are and opening "Mensajes recibidos", where they all
// are. Like a pop-up it comes to the front without taking the keyboard, and is destroyed when
// closed.
class frmMoreReceived final : public QDialog
{
    Q_OBJECT

public:
    explicit frmMoreReceived(QWidget *parent = nullptr);

    void add(int messages);
    // For tests: the messages counted.
    int count() const { return m_count; }

Q_SIGNALS:
    // "&Ver mensajes recibidos": the window closes and the list is to be shown.
    void showReceived();

private:
    int m_count = 0;
    QLabel *m_text;
    QPushButton *m_show;
    QPushButton *m_ok;
};
