#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"

#include "addressbook/Module.h"
#include "app/Startup.h"
#include "mainwindow/frmPrincipal.h"
#include "runtime/IconoBarra.h"
#include "sentlog/MessagesModel.h"
#include "sentlog/frmMensajes.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

using namespace TestSupport;

class tst_frmPrincipal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void kindTextAndStateOfEveryControl_data();
    void kindTextAndStateOfEveryControl();
    void windowFrameIconsAndPicture();
    void trayMenuItemsInOrder();
    void tabOrderFollowsTheTable();
    void startUpLoadsBookRecentListAndTray();
    void programDirectoryGetsOneSeparator_data();
    void programDirectoryGetsOneSeparator();
    void dataFilesLiveApartFromAProtectedProgram();
    void secondInstanceEndsBeforeAnything_data();
    void secondInstanceEndsBeforeAnything();
    void minArgumentStartsInTray_data();
    void minArgumentStartsInTray();
    void storedCerrarSetsBoxAndFlag_data();
    void storedCerrarSetsBoxAndFlag();
    void hideAfterSendFlagReachesSentMessagesWindow_data();
    void hideAfterSendFlagReachesSentMessagesWindow();
    void minimiseHidesUnlessRestoring();
    void closeRequestOnlyHides_data();
    void closeRequestOnlyHides();
    void escapeHidesFromAnyControl_data();
    void escapeHidesFromAnyControl();
    void escapeInAnOpenDropDownOnlyClosesIt();
    void enterSendsOnlyWhenEnabled();
    void enterOnAFocusedButtonPressesThatButton();
    void trayRestoreAndMenuActions();
    void aboutOpensModallyFromButtonAndMenu();
    void withoutTrayTheWindowStaysReachable();
    void withoutTrayARightClickOffersTheTrayMenu_data();
    void withoutTrayARightClickOffersTheTrayMenu();
    void keywordSwapsLeftPicture();
    void sendRunReadsTheWindow();
    // Last: the quit it sends leaves the application's event loops flagged to quit.
    void quitEndsCleanlyDespiteCloseRule();

private:
    template <typename T = QWidget> T *control(const char *name) const
    {
        return child<T>(m_window, QString::fromLatin1(name));
    }
    // The start-up over m_rt as the test has set it up; start() runs it too.
    void create()
    {
        m_startup = &m_fixture.create();
        m_window = &m_startup->mainWindow();
    }
    void start()
    {
        create();
        m_startup->start();
    }
    void activateMain();
    QAction *menuAction(const char *name) const { return child<QAction>(&m_window->mnuApp(), QLatin1String(name)); }

    StartupFixture m_fixture;
    FakeRuntime *m_rt = nullptr;
    Startup *m_startup = nullptr;
    frmPrincipal *m_window = nullptr;
};

void tst_frmPrincipal::initTestCase()
{
    QVERIFY(m_fixture.prepare());
}

void tst_frmPrincipal::init()
{
    QVERIFY(m_fixture.renew());
    m_rt = &m_fixture.rt();
}

void tst_frmPrincipal::cleanup()
{
    m_window = nullptr;
    m_startup = nullptr;
    m_rt = nullptr;
    m_fixture.reset();
}

void tst_frmPrincipal::activateMain()
{
    QVERIFY(activate(m_window));
}

void tst_frmPrincipal::kindTextAndStateOfEveryControl_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("lbl1") << "QLabel"
                          << "Destinatarios (separar con espacios):" << true << true;
    QTest::newRow("Label1") << "QLabel"
                            << "" << true << true;
    QTest::newRow("txtDestino") << "QComboBox"
                                << "" << true << true;
    QTest::newRow("optGrupo(0)") << "QRadioButton"
                                 << "Equipo" << true << true;
    QTest::newRow("optGrupo(1)") << "QRadioButton"
                                 << "Grupo de trabajo/dominio" << true << true;
    QTest::newRow("cmbDestino") << "QListWidget"
                                << "" << true << true;
    QTest::newRow("Command1") << "QPushButton"
                              << "&Añadir / Eliminar elementos" << true << true;
    QTest::newRow("Label2") << "QLabel"
                            << "Mensaje:" << true << true;
    QTest::newRow("txtMensaje") << "QLineEdit"
                                << "Escriba su mensaje" << true << true;
    QTest::newRow("Line1") << "QFrame"
                           << "" << true << true;
    QTest::newRow("Line2") << "QFrame"
                           << "" << true << true;
    QTest::newRow("cmdAcercaDe") << "QPushButton"
                                 << "&Acerca de" << true << true;
    QTest::newRow("cmdAyuda") << "QPushButton"
                              << "&Ayuda" << false << true;
    QTest::newRow("chkCerrar") << "QCheckBox"
                               << "Esconder después de enviar" << false << true;
    QTest::newRow("cmdCancelar") << "QPushButton"
                                 << "&Cancelar" << true << true;
    QTest::newRow("cmdEnviar") << "QPushButton"
                               << "&Enviar" << true << false;
}

void tst_frmPrincipal::kindTextAndStateOfEveryControl()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(bool, visible);
    QFETCH(bool, enabled);

    start();
    QWidget *w = control(QTest::currentDataTag());
    QVERIFY(w);
    QVERIFY2(w->inherits(kind.toLatin1()), w->metaObject()->className());
    QCOMPARE(w->isVisibleTo(m_window), visible);
    QCOMPARE(w->isEnabled(), enabled);

    QString actual;
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        actual = b->text();
    else if (auto *l = qobject_cast<QLabel *>(w))
        actual = l->text();
    else if (auto *e = qobject_cast<QLineEdit *>(w))
        actual = e->text();
    else if (auto *c = qobject_cast<QComboBox *>(w))
        actual = c->currentText();
    QCOMPARE(actual, text);
}

void tst_frmPrincipal::windowFrameIconsAndPicture()
{
    start();
    QCOMPARE(m_window->windowTitle(), QStringLiteral("elrisa"));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());
    const Qt::WindowFlags flags = m_window->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));

    const QList<QSize> sizes = m_window->windowIcon().availableSizes();
    QVERIFY(sizes.contains(QSize(16, 16)));
    QVERIFY(sizes.contains(QSize(32, 32)));

    auto *picture = control<QLabel>("Picture");
    QVERIFY(picture);
    QCOMPARE(picture->pixmap().size(), picture->size());
    // Every control stands to the right of the picture.
    for (QWidget *w : m_window->centralWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (w != picture)
            QVERIFY2(w->x() >= 84, qPrintable(w->objectName()));
    }
    QCOMPARE(QImage(QStringLiteral(":/icons/tray.png")).size(), QSize(16, 16));

    // Centred on the screen.
    const QRect screenArea = m_window->screen()->availableGeometry();
    QVERIFY(qAbs(m_window->geometry().center().x() - screenArea.center().x()) <= 1);
    QVERIFY(qAbs(m_window->geometry().center().y() - screenArea.center().y()) <= 1);
}

void tst_frmPrincipal::trayMenuItemsInOrder()
{
    create();
    const QList<QAction *> items = m_window->mnuApp().actions();
    QStringList entries;
    for (const QAction *a : items)
        entries << a->objectName() + QLatin1Char('=') + (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(entries,
        QStringList({ "mnuEnviar=&Mostrar Enviar mensaje", "mnuEnviados=&Mostrar mensajes enviados", "munS1=-",
            "mnuAcerca=&Acerca de...", "mnuSP2=-", "mnuSalir=&Salir" }));
    QCOMPARE(m_window->mnuApp().objectName(), QStringLiteral("mnuApp"));
    // A tray menu, never a menu bar.
    QVERIFY(!m_window->findChild<QMenuBar *>());
}

void tst_frmPrincipal::tabOrderFollowsTheTable()
{
    start();
    const QStringList expected = { "optGrupo(0)", "optGrupo(1)", "txtMensaje", "chkCerrar", "cmdEnviar", "cmdCancelar",
        "cmdAcercaDe", "cmdAyuda", "Command1", "cmbDestino", "txtDestino" };
    QStringList seen;
    QWidget *w = control("optGrupo(0)");
    for (int guard = 0; w && guard < 100 && seen.size() < expected.size(); ++guard, w = w->nextInFocusChain()) {
        if (expected.contains(w->objectName()) && !seen.contains(w->objectName()))
            seen << w->objectName();
    }
    QCOMPARE(seen, expected);
}

void tst_frmPrincipal::startUpLoadsBookRecentListAndTray()
{
    QVERIFY(writeFile(m_fixture.programPath() + QStringLiteral("enviara.ini"),
        "[Equipos]\r\n1=SERVIDOR1\r\n2=portatil ana\r\nTotal=2\r\n[Redes]\r\n1=OFICINA\r\nTotal=1\r\n"));
    QVERIFY(writeFile(m_fixture.programPath() + QStringLiteral("mru.ini"),
        "[Info]\r\nMaximo=5\r\nActualMRU=2\r\nTotal=2\r\n1=ALFA BETA\r\n2=GAMMA\r\n"));
    create();
    QVERIFY(!m_window->taskIco().isVisible());
    m_startup->start();

    QCOMPARE(m_startup->rutaPrograma(), m_fixture.programPath());
    QCOMPARE(m_window->module().TotalEquipos(), qint16(2));
    QCOMPARE(m_window->module().TotalRedes(), qint16(1));
    // The list stays empty until an option is chosen.
    QCOMPARE(control<QListWidget>("cmbDestino")->count(), 0);
    auto *recipientBox = control<QComboBox>("txtDestino");
    QCOMPARE(recipientBox->count(), 2);
    QCOMPARE(recipientBox->itemText(0), QStringLiteral("ALFA BETA"));
    QCOMPARE(recipientBox->currentText(), QString());
    QVERIFY(!control<QRadioButton>("optGrupo(0)")->isChecked());
    QVERIFY(!control<QRadioButton>("optGrupo(1)")->isChecked());
    QVERIFY(m_window->taskIco().isVisible());
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->esconderTrasEnviar());
    QVERIFY(!m_window->restaurando());
    QVERIFY(m_rt->m_boxes.isEmpty());
}

void tst_frmPrincipal::programDirectoryGetsOneSeparator_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("no separator") << "";
    QTest::newRow("separator") << "/";
}

void tst_frmPrincipal::programDirectoryGetsOneSeparator()
{
    QFETCH(QString, suffix);
    m_rt->m_appPath = m_fixture.programPath().chopped(1) + suffix;
    start();
    QCOMPARE(m_startup->rutaPrograma(), m_fixture.programPath());
    QCOMPARE(m_window->rutaPrograma(), m_fixture.programPath());
}

void tst_frmPrincipal::dataFilesLiveApartFromAProtectedProgram()
{
    // The program folder holds net and the help; the user's own folder holds the data files
    // and, to catch a wrong look-up, a `net` that never delivers.
    const QString programPath = m_fixture.programPath().chopped(1);
    const QString dataPath = newFolder(m_fixture.base());
    QVERIFY(prepareProgram(programPath));
    QVERIFY(writeFile(dataPath + QStringLiteral("net"), "#!/bin/sh\necho no es el nuestro\n", kExecutable));
    QVERIFY(writeFile(dataPath + QStringLiteral("mru.ini"), "[Info]\r\nTotal=1\r\n1=ALFA\r\n"));
    const QStringList programFiles = QDir(programPath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    m_rt->m_dataPath = dataPath;
    start();
    QCOMPARE(m_startup->rutaPrograma(), dataPath);
    QCOMPARE(control<QComboBox>("txtDestino")->itemText(0), QStringLiteral("ALFA"));

    control<QComboBox>("txtDestino")->setEditText(QStringLiteral("BETA"));
    control<QLineEdit>("txtMensaje")->setText(QStringLiteral("hola"));
    control<QPushButton>("cmdEnviar")->click();
    QCOMPARE(m_window->messages().model().row(0).Resultado, QStringLiteral("Enviado"));
    QVERIFY(readFile(dataPath + QStringLiteral("ejecuta.bat"))
                .endsWith("> \"" + QFile::encodeName(dataPath) + "mensaje.txt\"\n"));
    QVERIFY(readFile(dataPath + QStringLiteral("mru.ini")).contains("BETA"));
    QCOMPARE(QDir(programPath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), programFiles);

    // The help file is the program's, not the user's.
    m_rt->m_realShell = false;
    control<QPushButton>("cmdAyuda")->click();
    QCOMPARE(m_rt->m_shellCalls.last(), QStringLiteral("hh ") + programPath + QStringLiteral("/ayuda.chm"));
}

void tst_frmPrincipal::secondInstanceEndsBeforeAnything_data()
{
    QTest::addColumn<bool>("tray");
    QTest::newRow("tray") << true;
    QTest::newRow("no tray") << false;
}

void tst_frmPrincipal::secondInstanceEndsBeforeAnything()
{
    QFETCH(bool, tray);
    QVERIFY(writeFile(m_fixture.programPath() + QStringLiteral("mru.ini"), "[Info]\r\nTotal=1\r\n1=ALFA\r\n"));
    m_rt->m_prevInstance = true;
    m_rt->m_trayAvailable = tray;
    m_rt->m_command = QStringLiteral("-MIN");
    m_rt->m_endThrows = true;
    create();
    QVERIFY_THROWS_EXCEPTION(FakeRuntime::Ended, m_startup->start());
    QCOMPARE(m_rt->m_endCalls, 1);
    // The running one is asked to come forward, with a tray or without.
    QCOMPARE(m_rt->m_activationsSent, 1);
    QVERIFY(!m_window->isVisible());
    QVERIFY(!m_window->isMinimized());
    QVERIFY(!m_window->taskIco().isVisible());
    QVERIFY(m_startup->rutaPrograma().isEmpty());
    QCOMPARE(control<QComboBox>("txtDestino")->count(), 0);
    QVERIFY(m_rt->m_boxes.isEmpty());
    QVERIFY(!m_rt->m_activationHandler);
}

void tst_frmPrincipal::minArgumentStartsInTray_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<bool>("inTray");
    QTest::newRow("-MIN") << "-MIN" << true;
    QTest::newRow("-min") << "-min" << true;
    QTest::newRow("-Min") << "-Min" << true;
    QTest::newRow("-mIN") << "-mIN" << true;
    QTest::newRow("-MIN and a blank") << "-MIN " << false;
    QTest::newRow("blank and -MIN") << " -MIN" << false;
    QTest::newRow("-MINX") << "-MINX" << false;
    QTest::newRow("-MIN x") << "-MIN x" << false;
    QTest::newRow("none") << "" << false;
    QTest::newRow("x") << "x" << false;
}

void tst_frmPrincipal::minArgumentStartsInTray()
{
    QFETCH(QString, commandLine);
    QFETCH(bool, inTray);
    m_rt->m_command = commandLine;
    start();
    QCOMPARE(m_window->isVisible(), !inTray);
    QVERIFY(m_window->taskIco().isVisible());
    // The rest of the start-up ran all the same.
    QCOMPARE(m_startup->rutaPrograma(), m_fixture.programPath());
    if (inTray) {
        // From the tray it comes back in its normal state.
        menuAction("mnuEnviar")->trigger();
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->isMinimized());
    }
}

void tst_frmPrincipal::storedCerrarSetsBoxAndFlag_data()
{
    QTest::addColumn<QString>("stored"); // null: nothing stored
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("hides");

    QTest::newRow("absent") << QString() << 1 << false;
    QTest::newRow("0") << "0" << 0 << false;
    QTest::newRow("1") << "1" << 1 << false;
    QTest::newRow("2 (grey)") << "2" << 2 << true;
    // Values the program never stores count as the default.
    QTest::newRow("7") << "7" << 1 << false;
    QTest::newRow("-1") << "-1" << 1 << false;
    QTest::newRow("abc") << "abc" << 1 << false;
    QTest::newRow("empty") << "" << 1 << false;
    QTest::newRow("1.5") << "1.5" << 1 << false;
    QTest::newRow("huge") << "99999999999999999999" << 1 << false;
}

void tst_frmPrincipal::storedCerrarSetsBoxAndFlag()
{
    QFETCH(QString, stored);
    QFETCH(int, state);
    QFETCH(bool, hides);
    if (!stored.isNull())
        m_rt->m_settings.insert(QStringLiteral("EnviarMensaje/Opciones/Cerrar"), stored);
    start();

    static const Qt::CheckState states[3] = { Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked };
    QCOMPARE(control<QCheckBox>("chkCerrar")->checkState(), states[state]);
    QCOMPARE(m_window->closeState(), state);
    QCOMPARE(m_window->esconderTrasEnviar(), hides);
    // Start-up only reads the setting.
    QCOMPARE(m_rt->m_settings.value(QStringLiteral("EnviarMensaje/Opciones/Cerrar")), stored);
}

void tst_frmPrincipal::hideAfterSendFlagReachesSentMessagesWindow_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("mainWindowHides");
    QTest::newRow("1") << "1" << false;
    QTest::newRow("2") << "2" << true;
}

void tst_frmPrincipal::hideAfterSendFlagReachesSentMessagesWindow()
{
    QFETCH(QString, stored);
    QFETCH(bool, mainWindowHides);
    m_rt->m_settings.insert(QStringLiteral("EnviarMensaje/Opciones/Cerrar"), stored);
    start();
    QAction *sentItem = menuAction("mnuEnviados");
    QVERIFY(sentItem);
    sentItem->trigger();
    frmMensajes *log = &m_window->messages();
    QVERIFY(log->isVisible());
    // Created once: asking again gives the same window.
    sentItem->trigger();
    QCOMPARE(&m_window->messages(), log);

    auto *closeButton = log->findChild<QPushButton *>(QStringLiteral("Command1"));
    QVERIFY(closeButton);
    closeButton->click();
    QVERIFY(!log->isVisible());
    QCOMPARE(m_window->isVisible(), !mainWindowHides);
}

void tst_frmPrincipal::minimiseHidesUnlessRestoring()
{
    start();
    QVERIFY(m_window->isVisible());

    m_window->setWindowState(Qt::WindowMinimized);
    QVERIFY(!m_window->isVisible());
    QVERIFY(m_window->taskIco().isVisible());

    // While the tray menu brings it back, minimising does not hide it.
    m_window->show();
    m_window->setRestaurando(true);
    m_window->setWindowState(Qt::WindowNoState);
    m_window->setWindowState(Qt::WindowMinimized);
    QVERIFY(m_window->isVisible());
    m_window->setRestaurando(false);

    // "&Mostrar Enviar mensaje" on a minimised, hidden window: normal and shown, not hidden on the way.
    m_window->hide();
    QVERIFY(m_window->isMinimized());
    menuAction("mnuEnviar")->trigger();
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->isMinimized());
    QVERIFY(!m_window->restaurando());
}

void tst_frmPrincipal::closeRequestOnlyHides_data()
{
    QTest::addColumn<bool>("tray");
    QTest::newRow("tray") << true;
    QTest::newRow("no tray") << false;
}

void tst_frmPrincipal::closeRequestOnlyHides()
{
    QFETCH(bool, tray);
    m_rt->m_trayAvailable = tray;
    start();
    QVERIFY(!m_window->close());
    // Where there is a tray it hides; with none it waits in the task bar, within reach.
    QCOMPARE(m_window->isVisible(), !tray);
    QCOMPARE(m_window->isMinimized(), !tray);
    QCOMPARE(m_rt->m_endCalls, 0);
    QVERIFY(m_window->taskIco().isVisible());
    // Still alive and whole: it comes back with its controls.
    Q_EMIT m_window->taskIco().restoreRequested();
    QVERIFY(m_window->isVisible());
    QCOMPARE(control<QLineEdit>("txtMensaje")->text(), QStringLiteral("Escriba su mensaje"));
}

void tst_frmPrincipal::escapeHidesFromAnyControl_data()
{
    QTest::addColumn<QString>("focusName");
    for (const char *name : { "txtDestino", "optGrupo(0)", "cmbDestino", "txtMensaje", "cmdAcercaDe", "Command1" })
        QTest::newRow(name) << QString::fromLatin1(name);
}

void tst_frmPrincipal::escapeHidesFromAnyControl()
{
    QFETCH(QString, focusName);
    start();
    activateMain();
    QWidget *w = control(focusName.toLatin1().constData());
    QVERIFY(w);
    w->setFocus();
    QTRY_VERIFY(w->hasFocus() || w->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!m_window->isVisible());
    QVERIFY(m_window->taskIco().isVisible());
    QCOMPARE(m_rt->m_endCalls, 0);
}

void tst_frmPrincipal::escapeInAnOpenDropDownOnlyClosesIt()
{
    QVERIFY(
        writeFile(m_fixture.programPath() + QStringLiteral("mru.ini"), "[Info]\r\nTotal=2\r\n1=ALFA\r\n2=BETA\r\n"));
    start();
    activateMain();
    auto *recipientBox = control<QComboBox>("txtDestino");
    QCOMPARE(recipientBox->count(), 2);
    recipientBox->setFocus();
    QTRY_VERIFY(recipientBox->lineEdit()->hasFocus());
    QTest::keyClick(recipientBox->lineEdit(), Qt::Key_F4);
    QTRY_VERIFY(recipientBox->view()->isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(!recipientBox->view()->isVisible());
    QVERIFY(m_window->isVisible());
    QCOMPARE(recipientBox->currentText(), QString());
}

void tst_frmPrincipal::enterSendsOnlyWhenEnabled()
{
    // A `net` beside the program that delivers at once.
    QVERIFY(writeFile(
        m_fixture.programPath() + QStringLiteral("net"), "#!/bin/sh\necho \"Mensaje enviado a $2.\"\n", kExecutable));
    start();
    activateMain();
    auto *recipientBox = control<QComboBox>("txtDestino");
    auto *messageEdit = control<QLineEdit>("txtMensaje");
    auto *sendButton = control<QPushButton>("cmdEnviar");
    QSignalSpy clicks(sendButton, &QPushButton::clicked);

    recipientBox->setFocus();
    QTRY_VERIFY(recipientBox->lineEdit()->hasFocus());
    messageEdit->clear();
    QTest::keyClicks(recipientBox->lineEdit(), QStringLiteral("ALFA"));
    QVERIFY(!sendButton->isEnabled());
    QTest::keyClick(recipientBox->lineEdit(), Qt::Key_Return);
    QCOMPARE(clicks.count(), 0);
    // Enter never adds the line to the drop-down; only a finished send does.
    QCOMPARE(recipientBox->count(), 0);
    QCOMPARE(recipientBox->currentText(), QStringLiteral("ALFA"));

    messageEdit->setText(QStringLiteral("Hola"));
    QVERIFY(sendButton->isEnabled());
    QTest::keyClick(recipientBox->lineEdit(), Qt::Key_Return);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(m_window->messages().rows(), 1);
    QCOMPARE(recipientBox->count(), 1); // from mru.ini, written by the send run

    // The keypad's Enter does the same, from the message box too (the log window took the focus).
    activateMain();
    messageEdit->setFocus();
    QTRY_VERIFY(messageEdit->hasFocus());
    QTest::keyClick(messageEdit, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(clicks.count(), 2);
    QCOMPARE(m_window->messages().rows(), 2);
}

void tst_frmPrincipal::enterOnAFocusedButtonPressesThatButton()
{
    start();
    activateMain();
    control<QComboBox>("txtDestino")->setEditText(QStringLiteral("ALFA"));
    QVERIFY(control<QPushButton>("cmdEnviar")->isEnabled());
    QSignalSpy sendClicks(control<QPushButton>("cmdEnviar"), &QPushButton::clicked);
    auto *cancelButton = control<QPushButton>("cmdCancelar");
    cancelButton->setFocus();
    QTRY_VERIFY(cancelButton->hasFocus());
    QTest::keyClick(cancelButton, Qt::Key_Return);
    QCOMPARE(sendClicks.count(), 0);
    QVERIFY(!m_window->isVisible());
}

void tst_frmPrincipal::trayRestoreAndMenuActions()
{
    m_rt->m_command = QStringLiteral("-min");
    start();
    QVERIFY(!m_window->isVisible());

    // A second start brings it out of the tray, in its normal state and in front.
    m_rt->m_activationHandler();
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->isMinimized());
    QCOMPARE(m_rt->m_broughtForward, 1);
    m_window->hide();

    // The restore request: normal state, shown.
    Q_EMIT m_window->taskIco().restoreRequested();
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->isMinimized());

    // The menu request pops up mnuApp.
    Q_EMIT m_window->taskIco().menuRequested();
    QTRY_VERIFY(m_window->mnuApp().isVisible());
    m_window->mnuApp().hide();

    QAction *quitItem = menuAction("mnuSalir");
    QVERIFY(quitItem);
    quitItem->trigger();
    // The orderly end: window and icon gone at once, the loops left, no abrupt end.
    QVERIFY(m_startup->ending());
    QVERIFY(!m_window->isVisible());
    QVERIFY(!m_window->taskIco().isVisible());
    QCOMPARE(m_rt->m_endCalls, 0);
    // Nothing of the window is saved on the way out.
    QVERIFY(m_rt->m_settings.isEmpty());
    QVERIFY(!QFile::exists(m_fixture.programPath() + QStringLiteral("mru.ini")));
}

void tst_frmPrincipal::aboutOpensModallyFromButtonAndMenu()
{
    start();
    const auto closeModal = [] { return onModal([](QWidget *modal) { modal->close(); }); };
    {
        const auto driver = closeModal();
        control<QPushButton>("cmdAcercaDe")->click();
        QCOMPARE(driver.className(), QStringLiteral("Form3"));
    }
    {
        m_window->hide();
        const auto driver = closeModal();
        menuAction("mnuAcerca")->trigger();
        QCOMPARE(driver.className(), QStringLiteral("Form3"));
        // The About window does not bring the main window back.
        QVERIFY(!m_window->isVisible());
    }
}

void tst_frmPrincipal::withoutTrayTheWindowStaysReachable()
{
    m_rt->m_trayAvailable = false;
    m_rt->m_command = QStringLiteral("-MIN");
    start();
    // Started minimised in the task bar rather than hidden.
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->isMinimized());

    m_window->setWindowState(Qt::WindowNoState);
    m_window->setWindowState(Qt::WindowMinimized);
    QVERIFY(m_window->isVisible());

    // "&Cancelar" still hides; a second start brings it forward in its normal state.
    control<QPushButton>("cmdCancelar")->click();
    QVERIFY(!m_window->isVisible());
    QVERIFY(m_rt->m_activationHandler);
    m_rt->m_activationHandler();
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->isMinimized());
}

void tst_frmPrincipal::withoutTrayARightClickOffersTheTrayMenu_data()
{
    QTest::addColumn<bool>("tray");
    QTest::addColumn<QString>("target");
    for (const char *target : { "Picture", "lbl1", "cmdCancelar", "cmbDestino" }) {
        QTest::addRow("tray, %s", target) << true << QString::fromLatin1(target);
        QTest::addRow("no tray, %s", target) << false << QString::fromLatin1(target);
    }
}

void tst_frmPrincipal::withoutTrayARightClickOffersTheTrayMenu()
{
    QFETCH(bool, tray);
    QFETCH(QString, target);
    m_rt->m_trayAvailable = tray;
    start();
    QWidget *w = control(target.toLatin1().constData());
    if (auto *list = qobject_cast<QListWidget *>(w))
        w = list->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(3, 3), w->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(w, &event);
    QCOMPARE(m_window->mnuApp().isVisible(), !tray);
    if (tray)
        return;
    // The tray menu itself, with "&Salir", which ends the program.
    QAction *quitItem = menuAction("mnuSalir");
    QVERIFY(m_window->mnuApp().actions().contains(quitItem));
    quitItem->trigger();
    QVERIFY(m_startup->ending());
}

void tst_frmPrincipal::keywordSwapsLeftPicture()
{
    start();
    auto *picture = control<QLabel>("Picture");
    const QImage original = picture->pixmap().toImage();
    QVERIFY(!m_window->alternativeBackground());
    control<QLineEdit>("txtMensaje")->setText(QStringLiteral("colorOFvelrisa"));
    QVERIFY(m_window->alternativeBackground());
    const QImage swapped = picture->pixmap().toImage();
    QCOMPARE(swapped.size(), QSize(84, 303));
    QVERIFY(swapped != original);
    QCOMPARE(swapped, QPixmap(QStringLiteral(":/pictures/fondo_alternativo.png")).toImage());
}

void tst_frmPrincipal::sendRunReadsTheWindow()
{
    QVERIFY(writeFile(m_fixture.programPath() + QStringLiteral("enviara.ini"), "[Redes]\r\n1=OFICINA\r\nTotal=1\r\n"));
    start();
    QVERIFY(!m_window->chosenGroup());
    QTest::mouseClick(control("optGrupo(1)"), Qt::LeftButton);
    QVERIFY(m_window->chosenGroup());
    auto *list = control<QListWidget>("cmbDestino");
    QCOMPARE(list->count(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    QCOMPARE(m_window->recipientText(), QStringLiteral("Oficina "));
    QCOMPARE(m_window->messageText(), QStringLiteral("Escriba su mensaje"));
    QVERIFY(control<QPushButton>("cmdEnviar")->isEnabled());
}

void tst_frmPrincipal::quitEndsCleanlyDespiteCloseRule()
{
    start();
    QVERIFY(m_window->isVisible());
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(qApp, &quit);
    QVERIFY(!m_window->taskIco().isVisible());
    // From now on a close request is granted.
    QVERIFY(m_window->close());
    QVERIFY(!m_window->isVisible());
    QCOMPARE(m_rt->m_endCalls, 0);
}

QTEST_MAIN(tst_frmPrincipal)
#include "tst_frmPrincipal.moc"
