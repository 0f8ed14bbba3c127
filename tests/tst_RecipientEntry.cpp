#include "addressbook/Module.h"
#include "addressbook/frmEquipos.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"
#include "mainwindow/RecentList.h"
#include "mainwindow/RecipientEntry.h"
#include "mainwindow/RecipientsCombo.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace TestSupport;

// The recipient controls on a plain window of the same control types as the main
// window's, driven through the real widgets.
class tst_RecipientEntry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void sendButtonFollowsBothTexts_data();
    void sendButtonFollowsBothTexts();
    void choosingRecentLineEnablesSend();
    void typingKeepsExactlyWhatWasTyped();
    void leavingBoxTrimsBlanksOnly_data();
    void leavingBoxTrimsBlanksOnly();
    void focusLossWithoutLeavingKeepsBlanks();
    void listFollowsOptionInProperCaseAndSpanishOrder_data();
    void listFollowsOptionInProperCaseAndSpanishOrder();
    void lineFollowsListOrderNotMarkingOrder();
    void lettersMoveTheFocusOnlySpaceMarks();
    void clickReplacesTypedRecipients();
    void switchingOptionKeepsLineAndDropsMarks();
    void noAddressBookLeavesListAsItWas();
    void showingWindowChoosesNoOption();
    void editorClosingReloadsAndRefills_data();
    void editorClosingReloadsAndRefills();
    void recentListKeepsTheComboBoxText();

private:
    void writeAddressBook(const QStringList &computers, const QStringList &workgroups)
    {
        QVERIFY(writeBook(*m_module, computers, workgroups));
    }
    QStringList rows() const { return itemTexts(m_cmbDestino); }
    void mark(const QString &text) { QVERIFY2(clickItem(m_cmbDestino, text), qPrintable(text)); }
    void showAndActivate() { QVERIFY(activate(m_window.get())); }

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<FakeRuntime> m_rt;
    std::unique_ptr<Module> m_module;
    std::unique_ptr<QWidget> m_window;
    QComboBox *m_txtDestino = nullptr;
    QRadioButton *m_opt[2] = {};
    QListWidget *m_cmbDestino = nullptr;
    QPushButton *m_command1 = nullptr;
    QLineEdit *m_txtMensaje = nullptr;
    QPushButton *m_cmdEnviar = nullptr;
    RecipientEntry *m_entry = nullptr;
};

void tst_RecipientEntry::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(prepareEnvironment(m_dir.path()));
}

void tst_RecipientEntry::init()
{
    const QString programDir = m_dir.filePath(QString::fromLatin1(QTest::currentTestFunction()));
    QDir().mkpath(programDir);
    m_path = programDir + QLatin1Char('/');
    m_rt = std::make_unique<FakeRuntime>();
    m_module = std::make_unique<Module>(*m_rt, m_path);

    m_window = std::make_unique<QWidget>();
    m_txtDestino = new QComboBox(m_window.get());
    m_txtDestino->setEditable(true);
    m_txtDestino->setObjectName(QStringLiteral("txtDestino"));
    m_opt[0] = new QRadioButton(QStringLiteral("Equipo"), m_window.get());
    m_opt[1] = new QRadioButton(QStringLiteral("Grupo de trabajo/dominio"), m_window.get());
    m_cmbDestino = new QListWidget(m_window.get());
    m_cmbDestino->setSortingEnabled(true);
    m_cmbDestino->setSelectionMode(QAbstractItemView::MultiSelection);
    m_command1 = new QPushButton(QStringLiteral("&Añadir / Eliminar elementos"), m_window.get());
    m_txtMensaje = new QLineEdit(m_window.get());
    m_cmdEnviar = new QPushButton(QStringLiteral("&Enviar"), m_window.get());
    m_cmdEnviar->setEnabled(false);
    m_txtDestino->setGeometry(96, 28, 477, 21);
    m_opt[0]->setGeometry(96, 55, 81, 17);
    m_opt[1]->setGeometry(192, 55, 169, 17);
    m_cmbDestino->setGeometry(96, 75, 476, 82);
    m_command1->setGeometry(402, 165, 169, 21);
    m_txtMensaje->setGeometry(96, 212, 473, 21);
    m_cmdEnviar->setGeometry(496, 256, 81, 41);
    // The same order as the main window: the options come first.
    QWidget::setTabOrder(m_opt[0], m_opt[1]);
    QWidget::setTabOrder(m_opt[1], m_txtMensaje);
    QWidget::setTabOrder(m_txtMensaje, m_cmdEnviar);
    QWidget::setTabOrder(m_cmdEnviar, m_command1);
    QWidget::setTabOrder(m_command1, m_cmbDestino);
    QWidget::setTabOrder(m_cmbDestino, m_txtDestino);
    m_window->resize(584, 303);
    m_entry = new RecipientEntry(*m_rt, *m_module, m_txtDestino, m_opt[0], m_opt[1], m_cmbDestino, m_command1,
        m_txtMensaje, m_cmdEnviar, m_window.get());
}

void tst_RecipientEntry::cleanup()
{
    m_window.reset();
    m_module.reset();
    m_rt.reset();
}

void tst_RecipientEntry::sendButtonFollowsBothTexts_data()
{
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("both empty") << QString() << QString() << false;
    QTest::newRow("recipients only") << QStringLiteral("pc1") << QString() << false;
    QTest::newRow("message only") << QString() << QStringLiteral("hola") << false;
    QTest::newRow("both") << QStringLiteral("pc1") << QStringLiteral("hola") << true;
    QTest::newRow("one blank recipient") << QStringLiteral(" ") << QStringLiteral("hola") << true;
    QTest::newRow("one blank message") << QStringLiteral("pc1") << QStringLiteral(" ") << true;
}

void tst_RecipientEntry::sendButtonFollowsBothTexts()
{
    QFETCH(QString, recipients);
    QFETCH(QString, message);
    QFETCH(bool, enabled);
    showAndActivate();
    m_txtMensaje->setText(message);
    m_txtDestino->setFocus();
    QTest::keyClicks(m_txtDestino, recipients);
    QCOMPARE(m_txtDestino->currentText(), recipients);
    QCOMPARE(m_cmdEnviar->isEnabled(), enabled);

    // Taking the recipients away again disables it whatever the message.
    m_txtDestino->setEditText(QString());
    QVERIFY(!m_cmdEnviar->isEnabled());
}

void tst_RecipientEntry::choosingRecentLineEnablesSend()
{
    showAndActivate();
    m_txtMensaje->setText(QStringLiteral("hola"));
    m_txtDestino->addItems({ QStringLiteral("pc1 pc2"), QStringLiteral("pc3") });
    m_txtDestino->setEditText(QString());
    QVERIFY(!m_cmdEnviar->isEnabled());
    m_txtDestino->setFocus();
    QTest::keyClick(m_txtDestino, Qt::Key_Down);
    QVERIFY(!m_txtDestino->currentText().isEmpty());
    QVERIFY(m_cmdEnviar->isEnabled());
}

void tst_RecipientEntry::typingKeepsExactlyWhatWasTyped()
{
    // A prefix of a recent line must not grow into that line: Enter would send to more people.
    showAndActivate();
    m_txtDestino->addItems({ QStringLiteral("Alfa Servidor1"), QStringLiteral("Beta") });
    m_txtDestino->setCurrentIndex(-1);
    m_txtDestino->setEditText(QString());
    m_txtDestino->setFocus();
    QTest::keyClicks(m_txtDestino, QStringLiteral("Alfa"));
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Alfa"));
    QTest::keyClick(m_txtDestino, Qt::Key_Return);
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Alfa"));
}

void tst_RecipientEntry::leavingBoxTrimsBlanksOnly_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("around") << QStringLiteral("  pc1 pc2  ") << QStringLiteral("pc1 pc2");
    QTest::newRow("two blanks inside stay") << QStringLiteral(" pc1  pc2 ") << QStringLiteral("pc1  pc2");
    QTest::newRow("tab is no blank") << QStringLiteral("\tpc1 ") << QStringLiteral("\tpc1");
    QTest::newRow("only blanks") << QStringLiteral("   ") << QString();
    QTest::newRow("nothing to trim") << QStringLiteral("pc1") << QStringLiteral("pc1");
}

void tst_RecipientEntry::leavingBoxTrimsBlanksOnly()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    showAndActivate();
    m_txtMensaje->setText(QStringLiteral("hola"));
    m_txtDestino->setFocus();
    m_txtDestino->setEditText(typed);
    QVERIFY(m_cmdEnviar->isEnabled());

    // Moving on with the keyboard or with the mouse is leaving the box.
    m_txtMensaje->setFocus(Qt::TabFocusReason);
    QCOMPARE(m_txtDestino->currentText(), expected);
    QCOMPARE(m_cmdEnviar->isEnabled(), !expected.isEmpty());

    m_txtDestino->setFocus();
    m_txtDestino->setEditText(typed);
    QTest::mouseClick(m_cmbDestino->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(!m_txtDestino->hasFocus());
    QCOMPARE(m_txtDestino->currentText(), expected);
}

void tst_RecipientEntry::focusLossWithoutLeavingKeepsBlanks()
{
    showAndActivate();
    m_txtDestino->setFocus();
    QTest::keyClicks(m_txtDestino, QStringLiteral(" pc1 "));

    // Another program taking the focus is not leaving the box.
    QFocusEvent otherApplication(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(m_txtDestino, &otherApplication);
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral(" pc1 "));

    // Nor is opening its drop-down, or a context menu over it.
    m_txtDestino->addItem(QStringLiteral("pc9"));
    m_txtDestino->setEditText(QStringLiteral(" pc1 "));
    m_txtDestino->showPopup();
    QTRY_VERIFY(m_txtDestino->view()->isVisible());
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral(" pc1 "));
    m_txtDestino->hidePopup();
    QTRY_VERIFY(m_txtDestino->hasFocus());
    QContextMenuEvent menu(
        QContextMenuEvent::Keyboard, QPoint(5, 5), m_txtDestino->lineEdit()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(m_txtDestino->lineEdit(), &menu);
    QTRY_VERIFY(QApplication::activePopupWidget());
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral(" pc1 "));
    QApplication::activePopupWidget()->close();
    QTRY_VERIFY(m_txtDestino->hasFocus());

    // Nor is the window being disabled around it while a send runs.
    m_window->setEnabled(false);
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral(" pc1 "));
    m_window->setEnabled(true);

    // Leaving it afterwards still tidies it.
    m_txtDestino->setFocus();
    m_txtDestino->clearFocus();
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("pc1"));
}

void tst_RecipientEntry::listFollowsOptionInProperCaseAndSpanishOrder_data()
{
    QTest::addColumn<int>("option");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("computers") << 0
                               << QStringList { QStringLiteral("Alfa"), QStringLiteral("Álvaro Núñez"),
                                      QStringLiteral("Pepe Garcia"), QStringLiteral("Servidor1"),
                                      QStringLiteral("Über-Pc") };
    QTest::newRow("workgroups") << 1
                                << QStringList { QStringLiteral("Dominio"), QStringLiteral("Nube"),
                                       QStringLiteral("Ñandú"), QStringLiteral("Trabajo") };
}

void tst_RecipientEntry::listFollowsOptionInProperCaseAndSpanishOrder()
{
    QFETCH(int, option);
    QFETCH(QStringList, expected);
    writeAddressBook({ QStringLiteral("SERVIDOR1"), QStringLiteral("pepe garcia"), QStringLiteral("ÁLVARO NÚÑEZ"),
                         QStringLiteral("alfa"), QStringLiteral("über-pc") },
        { QStringLiteral("TRABAJO"), QStringLiteral("ñandú"), QStringLiteral("dominio"), QStringLiteral("NUBE") });
    showAndActivate();
    QTest::mouseClick(m_opt[option], Qt::LeftButton);
    QVERIFY(m_opt[option]->isChecked());
    QCOMPARE(rows(), expected);
    // Choosing an option does not touch the recipients line.
    QCOMPARE(m_txtDestino->currentText(), QString());
}

void tst_RecipientEntry::lineFollowsListOrderNotMarkingOrder()
{
    writeAddressBook({ QStringLiteral("SERVIDOR1"), QStringLiteral("ana"), QStringLiteral("pepe garcia") }, {});
    m_txtMensaje->setText(QStringLiteral("hola"));
    showAndActivate();
    QTest::mouseClick(m_opt[0], Qt::LeftButton);
    QCOMPARE(
        rows(), (QStringList { QStringLiteral("Ana"), QStringLiteral("Pepe Garcia"), QStringLiteral("Servidor1") }));

    mark(QStringLiteral("Servidor1"));
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Servidor1 "));
    QVERIFY(m_cmdEnviar->isEnabled());
    mark(QStringLiteral("Ana"));
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Ana Servidor1 "));
    mark(QStringLiteral("Pepe Garcia"));
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Ana Pepe Garcia Servidor1 "));

    // A second click unmarks; with nothing marked the line is empty and sending is off.
    mark(QStringLiteral("Pepe Garcia"));
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Ana Servidor1 "));
    mark(QStringLiteral("Servidor1"));
    mark(QStringLiteral("Ana"));
    QCOMPARE(m_txtDestino->currentText(), QString());
    QVERIFY(!m_cmdEnviar->isEnabled());

    // The space bar marks the current entry like a click.
    m_cmbDestino->setFocus();
    m_cmbDestino->setCurrentRow(1, QItemSelectionModel::NoUpdate);
    QTest::keyClick(m_cmbDestino, Qt::Key_Space);
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Pepe Garcia "));
}

void tst_RecipientEntry::lettersMoveTheFocusOnlySpaceMarks()
{
    writeAddressBook(
        { QStringLiteral("alfa"), QStringLiteral("beta"), QStringLiteral("bruno"), QStringLiteral("gamma") }, {});
    showAndActivate();
    QTest::mouseClick(m_opt[0], Qt::LeftButton);
    m_txtDestino->setEditText(QStringLiteral("tecleado"));
    m_cmbDestino->setFocus();
    m_cmbDestino->setCurrentRow(0, QItemSelectionModel::NoUpdate);

    // Letters go to the next entry that starts with them, marking nothing.
    QTest::keyClick(m_cmbDestino, Qt::Key_B);
    QCOMPARE(m_cmbDestino->currentItem()->text(), QStringLiteral("Beta"));
    QVERIFY(m_cmbDestino->selectedItems().isEmpty());
    QTest::keyClick(m_cmbDestino, Qt::Key_B);
    QCOMPARE(m_cmbDestino->currentItem()->text(), QStringLiteral("Bruno"));
    QTest::keyClick(m_cmbDestino, Qt::Key_G);
    QCOMPARE(m_cmbDestino->currentItem()->text(), QStringLiteral("Gamma"));
    QVERIFY(m_cmbDestino->selectedItems().isEmpty());
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("tecleado"));

    // The space bar marks the entry the letters reached, and only it.
    QTest::keyClick(m_cmbDestino, Qt::Key_Space);
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Gamma "));
    QTest::keyClick(m_cmbDestino, Qt::Key_A);
    QCOMPARE(m_cmbDestino->currentItem()->text(), QStringLiteral("Alfa"));
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Gamma "));
}

void tst_RecipientEntry::clickReplacesTypedRecipients()
{
    writeAddressBook({ QStringLiteral("pc1"), QStringLiteral("pc2") }, {});
    showAndActivate();
    m_txtDestino->setFocus();
    QTest::keyClicks(m_txtDestino, QStringLiteral("tecleado otro"));
    QTest::mouseClick(m_opt[0], Qt::LeftButton);
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("tecleado otro"));
    mark(QStringLiteral("Pc2"));
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Pc2 "));
}

void tst_RecipientEntry::switchingOptionKeepsLineAndDropsMarks()
{
    writeAddressBook({ QStringLiteral("pc1"), QStringLiteral("pc2") }, { QStringLiteral("grupo") });
    m_txtMensaje->setText(QStringLiteral("hola"));
    showAndActivate();
    QTest::mouseClick(m_opt[0], Qt::LeftButton);
    mark(QStringLiteral("Pc1"));
    mark(QStringLiteral("Pc2"));
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Pc1 Pc2 "));

    QTest::mouseClick(m_opt[1], Qt::LeftButton);
    QVERIFY(m_opt[1]->isChecked());
    QVERIFY(!m_opt[0]->isChecked());
    QCOMPARE(rows(), QStringList { QStringLiteral("Grupo") });
    QVERIFY(m_cmbDestino->selectedItems().isEmpty());
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Pc1 Pc2 "));
    QVERIFY(m_cmdEnviar->isEnabled());

    // And back: the computers come back unmarked, the line still stands.
    QTest::mouseClick(m_opt[0], Qt::LeftButton);
    QCOMPARE(rows(), (QStringList { QStringLiteral("Pc1"), QStringLiteral("Pc2") }));
    QVERIFY(m_cmbDestino->selectedItems().isEmpty());
    QCOMPARE(m_txtDestino->currentText(), QStringLiteral("Pc1 Pc2 "));
}

void tst_RecipientEntry::noAddressBookLeavesListAsItWas()
{
    // The in-memory book has names, yet without the file no option fills the list.
    m_module->add(0, QStringLiteral("pc1"));
    showAndActivate();
    QTest::mouseClick(m_opt[0], Qt::LeftButton);
    QTest::mouseClick(m_opt[1], Qt::LeftButton);
    QCOMPARE(m_cmbDestino->count(), 0);
    QVERIFY(!QFile::exists(m_module->addressBookPath()));

    // A list filled while the file existed stays as it is once it is gone.
    writeAddressBook({ QStringLiteral("pc1") }, { QStringLiteral("grupo") });
    QTest::mouseClick(m_opt[0], Qt::LeftButton);
    QCOMPARE(rows(), QStringList { QStringLiteral("Pc1") });
    QVERIFY(QFile::remove(m_module->addressBookPath()));
    QTest::mouseClick(m_opt[1], Qt::LeftButton);
    QCOMPARE(rows(), QStringList { QStringLiteral("Pc1") });
}

void tst_RecipientEntry::showingWindowChoosesNoOption()
{
    writeAddressBook({ QStringLiteral("pc1") }, { QStringLiteral("grupo") });
    showAndActivate();
    m_opt[0]->setFocus(Qt::TabFocusReason);
    QVERIFY(m_opt[0]->hasFocus());
    // Tabbing through the options by keyboard does not choose one either.
    QTest::keyClick(m_opt[0], Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QVERIFY(!m_opt[0]->isChecked());
    QVERIFY(!m_opt[1]->isChecked());
    QCOMPARE(m_cmbDestino->count(), 0);
}

void tst_RecipientEntry::editorClosingReloadsAndRefills_data()
{
    QTest::addColumn<int>("option"); // -1: none chosen
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("computers chosen") << 0 << QStringList { QStringLiteral("Nuevo Pc"), QStringLiteral("Pc1") };
    QTest::newRow("workgroups chosen") << 1 << QStringList { QStringLiteral("Grupo") };
    QTest::newRow("none chosen") << -1 << QStringList { QStringLiteral("Grupo") };
}

void tst_RecipientEntry::editorClosingReloadsAndRefills()
{
    QFETCH(int, option);
    QFETCH(QStringList, expected);
    writeAddressBook({ QStringLiteral("pc1") }, { QStringLiteral("grupo") });
    showAndActivate();
    if (option >= 0)
        QTest::mouseClick(m_opt[option], Qt::LeftButton);

    // In the editor, add a computer and close it; the list then shows the reloaded book.
    m_rt->m_inputAnswers = { QStringLiteral("nuevo pc") };
    bool seen = false;
    const auto driver = onModal<frmEquipos>([&](frmEquipos *editor) {
        seen = editor->isModal() && editor->parentWidget() == m_window.get();
        QTest::mouseClick(child<QPushButton>(editor, QStringLiteral("Command1")), Qt::LeftButton);
        QTest::keyClick(editor, Qt::Key_Escape);
    });
    QTest::mouseClick(m_command1, Qt::LeftButton);
    QVERIFY(seen);
    QCOMPARE(m_module->TotalEquipos(), qint16(2));
    QCOMPARE(rows(), expected);
    // The options are as they were.
    QCOMPARE(m_opt[0]->isChecked(), option == 0);
    QCOMPARE(m_opt[1]->isChecked(), option == 1);
}

// The recent list through the real drop-down: the typed text stays, every stored line shows in
// file order whatever the box's own policies.
void tst_RecipientEntry::recentListKeepsTheComboBoxText()
{
    FakeRuntime rt;
    QVERIFY(writeFile(m_path + QStringLiteral("mru.ini"), "[Info]\r\nActualMRU=2\r\n1= uno \r\n2=dos\r\n"));
    Module m(rt, m_path);
    QComboBox combo;
    combo.setEditable(true);
    combo.addItem(QStringLiteral("viejo"));
    combo.setEditText(QStringLiteral("lo que escribo "));
    RecipientsCombo box(&combo);
    RecentList::CargarMRU(m, box);
    QCOMPARE(combo.currentText(), QStringLiteral("lo que escribo "));
    QCOMPARE(combo.count(), 2);
    QCOMPARE(combo.itemText(0), QStringLiteral("uno"));
    QCOMPARE(combo.itemText(1), QStringLiteral("dos"));

    // A sorted box refusing duplicates would still show every stored line in file order.
    combo.setInsertPolicy(QComboBox::InsertAlphabetically);
    combo.setDuplicatesEnabled(false);
    box.setText(QStringLiteral("zeta"));
    RecentList::GuardarMRU(m, box);
    box.setText(QStringLiteral("alfa"));
    RecentList::GuardarMRU(m, box);
    box.setText(QStringLiteral("alfa"));
    RecentList::GuardarMRU(m, box);
    RecentList::CargarMRU(m, box);
    QStringList items;
    for (int i = 0; i < combo.count(); ++i)
        items << combo.itemText(i);
    QCOMPARE(items, (QStringList { "uno", "dos", "zeta", "alfa", "alfa" }));
    QCOMPARE(combo.currentText(), QStringLiteral("alfa"));
}

QTEST_MAIN(tst_RecipientEntry)
#include "tst_RecipientEntry.moc"
