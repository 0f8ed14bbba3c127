#include "fakes/TestSupport.h"
#include "mainwindow/MessageEntry.h"
#include "runtime/Text.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The message box on a plain window with the main window's control types.
class tst_MessageEntry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startsWithOrdinaryText();
    void lengthLimitRefusesTypingAndPasting_data();
    void lengthLimitRefusesTypingAndPasting();
    void sendButtonFollowsMessage();
    void blankMessageDisablesSendOnLeaving();
    void keywordSwapsPictureForGood_data();
    void keywordSwapsPictureForGood();
    void enterStillReachesTheWindow();
    void disabledWindowKeepsBlanks();

private:
    void showAndActivate();
    void leaveTheBox();

    QTemporaryDir m_dir;
    std::unique_ptr<QWidget> m_window;
    QComboBox *m_txtDestino = nullptr;
    QLineEdit *m_txtMensaje = nullptr;
    QLineEdit *m_other = nullptr;
    QPushButton *m_cmdEnviar = nullptr;
    MessageEntry *m_entry = nullptr;
    int m_pictureChanges = 0;
};

void tst_MessageEntry::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(TestSupport::prepareEnvironment(m_dir.path()));
}

void tst_MessageEntry::init()
{
    m_pictureChanges = 0;
    m_window = std::make_unique<QWidget>();
    m_txtDestino = new QComboBox(m_window.get());
    m_txtDestino->setEditable(true);
    m_txtDestino->setGeometry(96, 28, 477, 21);
    m_txtMensaje = new QLineEdit(m_window.get());
    m_txtMensaje->setGeometry(96, 212, 473, 21);
    m_other = new QLineEdit(m_window.get());
    m_other->setGeometry(96, 100, 100, 21);
    m_cmdEnviar = new QPushButton(QStringLiteral("&Enviar"), m_window.get());
    m_cmdEnviar->setGeometry(496, 256, 81, 41);
    m_cmdEnviar->setEnabled(false);
    m_entry = new MessageEntry(
        m_txtMensaje, m_txtDestino, m_cmdEnviar, [this] { ++m_pictureChanges; }, m_window.get());
    m_window->resize(584, 303);
}

void tst_MessageEntry::cleanup()
{
    m_window.reset();
}

void tst_MessageEntry::showAndActivate()
{
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_txtMensaje->setFocus();
}

void tst_MessageEntry::leaveTheBox()
{
    m_other->setFocus(Qt::TabFocusReason);
    QVERIFY(!m_txtMensaje->hasFocus());
}

void tst_MessageEntry::startsWithOrdinaryText()
{
    showAndActivate();
    QCOMPARE(m_txtMensaje->text(), QStringLiteral("Escriba su mensaje"));
    QVERIFY(m_txtMensaje->placeholderText().isEmpty());
    // Focus leaves the text in place; so any recipient enables sending at once.
    QVERIFY(!m_cmdEnviar->isEnabled());
    m_txtDestino->setEditText(QStringLiteral("pc1"));
    // The recipients box is not watched here; the next message change applies the rule.
    QTest::keyClick(m_txtMensaje, Qt::Key_End);
    QTest::keyClick(m_txtMensaje, Qt::Key_Exclam);
    QCOMPARE(m_txtMensaje->text(), QStringLiteral("Escriba su mensaje!"));
    QVERIFY(m_cmdEnviar->isEnabled());
}

void tst_MessageEntry::lengthLimitRefusesTypingAndPasting_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("paste");
    QTest::addColumn<int>("after");
    QTest::newRow("255th typed") << 254 << QStringLiteral("x") << false << 255;
    QTest::newRow("256th typed") << 255 << QStringLiteral("x") << false << 255;
    QTest::newRow("typing past the end") << 250 << QStringLiteral("abcdefghij") << false << 255;
    QTest::newRow("paste that fits") << 245 << QStringLiteral("abcdefghij") << true << 255;
    QTest::newRow("paste past the end") << 250 << QStringLiteral("abcdefghij") << true << 255;
    QTest::newRow("paste into a full box") << 255 << QStringLiteral("abc") << true << 255;
    QTest::newRow("accented letters count once") << 254 << QStringLiteral("ñá") << false << 255;
}

void tst_MessageEntry::lengthLimitRefusesTypingAndPasting()
{
    QFETCH(int, before);
    QFETCH(QString, typed);
    QFETCH(bool, paste);
    QFETCH(int, after);
    showAndActivate();
    const QString initial(before, QLatin1Char('m'));
    m_txtMensaje->setText(initial);
    m_txtMensaje->end(false);
    if (paste) {
        QApplication::clipboard()->setText(typed);
        QTest::keyClick(m_txtMensaje, Qt::Key_V, Qt::ControlModifier);
    } else {
        // Letter by letter, accented ones included (keyClicks knows only ASCII).
        for (const QChar letter : typed)
            QTest::sendKeyEvent(QTest::Click, m_txtMensaje, Qt::Key_A, QString(letter), Qt::NoModifier);
    }
    QCOMPARE(m_txtMensaje->text().size(), after);
    QVERIFY(m_txtMensaje->text().startsWith(initial));
    QCOMPARE(m_txtMensaje->text().mid(before), typed.left(after - before));

    // Text assigned by the program is held to the same limit.
    m_txtMensaje->setText(QString(300, QLatin1Char('z')));
    QCOMPARE(m_txtMensaje->text().size(), 255);
}

void tst_MessageEntry::sendButtonFollowsMessage()
{
    showAndActivate();
    m_txtDestino->setEditText(QStringLiteral("pc1"));
    m_txtMensaje->selectAll();
    QTest::keyClick(m_txtMensaje, Qt::Key_Delete);
    QCOMPARE(m_txtMensaje->text(), QString());
    QVERIFY(!m_cmdEnviar->isEnabled());
    QTest::keyClick(m_txtMensaje, Qt::Key_H);
    QVERIFY(m_cmdEnviar->isEnabled());
    QTest::keyClick(m_txtMensaje, Qt::Key_Backspace);
    QVERIFY(!m_cmdEnviar->isEnabled());
}

void tst_MessageEntry::blankMessageDisablesSendOnLeaving()
{
    showAndActivate();
    m_txtDestino->setEditText(QStringLiteral("pc1"));
    m_txtMensaje->clear();
    QTest::keyClicks(m_txtMensaje, QStringLiteral(" "));
    QVERIFY(m_cmdEnviar->isEnabled());
    leaveTheBox();
    QCOMPARE(m_txtMensaje->text(), QString());
    QVERIFY(!m_cmdEnviar->isEnabled());

    // Blanks inside stay, tabs are no blanks.
    m_txtMensaje->setFocus();
    m_txtMensaje->setText(QStringLiteral("  hola  a\ttodos\t "));
    leaveTheBox();
    QCOMPARE(m_txtMensaje->text(), QStringLiteral("hola  a\ttodos\t"));
    QVERIFY(m_cmdEnviar->isEnabled());
}

void tst_MessageEntry::keywordSwapsPictureForGood_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("onTyping"); // picture changes once typing is over
    QTest::addColumn<int>("onLeaving"); // picture changes once the box is left
    QTest::newRow("lower case") << QStringLiteral("colorofvelrisa") << 1 << 1;
    QTest::newRow("upper case") << QStringLiteral("COLOROFVELRISA") << 1 << 1;
    QTest::newRow("mixed case") << QStringLiteral("ColorOfVelrisa") << 1 << 1;
    QTest::newRow("leading blank") << QStringLiteral(" colorofvelrisa") << 0 << 1;
    QTest::newRow("blanks typed after it") << QStringLiteral("COLOROFVELRISA  ") << 1 << 1;
    QTest::newRow("among other text") << QStringLiteral("el colorofvelrisa") << 0 << 0;
    QTest::newRow("one letter short") << QStringLiteral("colorofvelris") << 0 << 0;
}

void tst_MessageEntry::keywordSwapsPictureForGood()
{
    QFETCH(QString, typed);
    QFETCH(int, onTyping);
    QFETCH(int, onLeaving);
    showAndActivate();
    m_txtMensaje->clear();
    QTest::keyClicks(m_txtMensaje, typed);
    QCOMPARE(m_pictureChanges, onTyping);
    QCOMPARE(m_entry->alternativeBackground(), onTyping == 1);
    leaveTheBox();
    QCOMPARE(m_pictureChanges, onLeaving);

    // The keyword stays in the box as an ordinary message.
    QCOMPARE(m_txtMensaje->text(), Text::trimBlanks(typed));

    // Changing the text afterwards never puts the first picture back nor swaps again.
    m_txtMensaje->setFocus();
    QTest::keyClick(m_txtMensaje, Qt::Key_Backspace);
    QCOMPARE(m_pictureChanges, onLeaving);
    QCOMPARE(m_entry->alternativeBackground(), onLeaving == 1);
    if (onLeaving == 1) {
        m_txtMensaje->setText(QStringLiteral("colorOFvelrisa"));
        QCOMPARE(m_pictureChanges, 1);
    }
}

void tst_MessageEntry::enterStillReachesTheWindow()
{
    showAndActivate();
    m_txtDestino->setEditText(QStringLiteral("pc1"));
    QSignalSpy enterSpy(m_txtMensaje, &QLineEdit::returnPressed);
    QTest::keyClick(m_txtMensaje, Qt::Key_Return);
    QCOMPARE(enterSpy.count(), 1);
    QCOMPARE(m_txtMensaje->text(), QStringLiteral("Escriba su mensaje"));
}

void tst_MessageEntry::disabledWindowKeepsBlanks()
{
    showAndActivate();
    m_txtMensaje->setText(QStringLiteral(" hola "));
    // A send run disables the window around the box: the message it reads must not change.
    m_window->setEnabled(false);
    QCOMPARE(m_txtMensaje->text(), QStringLiteral(" hola "));
    m_window->setEnabled(true);
    m_txtMensaje->setFocus();
    leaveTheBox();
    QCOMPARE(m_txtMensaje->text(), QStringLiteral("hola"));
}

QTEST_MAIN(tst_MessageEntry)
#include "tst_MessageEntry.moc"
