#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class Runtime;

// The About window: the program's name, author, version and licence, a contact hint and
// a link to the maker's web page. Built anew and shown modally at each opening.
class Form3 final : public QDialog
{
    Q_OBJECT

public:
    explicit Form3(Runtime &rt, QWidget *parent = nullptr);

    // Builds the window, shows it modally and returns when it has been closed. A call
    // while one is already open returns at once and changes nothing.
    static void open(Runtime &rt);

    static QString versionLine();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Label1_Click();
    void lblURL_Click();

    Runtime &m_rt;
    QLabel *m_lblURL = nullptr;
    QLabel *m_label1 = nullptr;
};
