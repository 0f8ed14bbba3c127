#pragma once

#include <QWidget>

class QAbstractItemModel;
class QPushButton;
class QTableView;

// A log window of the sent-messages kind: a report list over a model and a "&Cerrar"
// button that Enter presses. Once created it lives until the program ends: a close
// request only hides it, so its rows survive every hide and show.
class ListWindow : public QWidget
{
    Q_OBJECT

public:
    // The model stays its caller's. The message column takes whatever room the others leave,
    // so that the long text is not cut while the list has room to spare.
    ListWindow(const QString &name, const QString &title, QAbstractItemModel *model, int messageColumn);

    // Visible, in front and active; centred on the screen the first time.
    void showWindow();

protected:
    void closeEvent(QCloseEvent *event) override;
    // "&Cerrar": hides the window.
    virtual void closeWindow();

    QTableView *list() const { return m_list; }

private:
    QTableView *m_list;
    QPushButton *m_close;
    bool m_alreadyShown = false;
};
