#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"

#include "addressbook/Module.h"
#include "app/Startup.h"
#include "mainwindow/frmPrincipal.h"
#include "runtime/IconoBarra.h"
#include "sentlog/ModeloMensajes.h"
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
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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
        return child<T>(m_ventana, QString::fromLatin1(name));
    }
    void crear();
    void activar();
    QAction *accion(const char *name) const;

    QTemporaryDir m_base;
    std::unique_ptr<QTemporaryDir> m_programa;
    std::unique_ptr<FakeRuntime> m_rt;
    std::unique_ptr<Startup> m_arranque;
    frmPrincipal *m_ventana = nullptr;
};

void tst_frmPrincipal::initTestCase()
{
    QVERIFY(m_base.isValid());
    QVERIFY(prepareEnvironment(m_base.path()));
}

void tst_frmPrincipal::init()
{
    m_programa = std::make_unique<QTemporaryDir>(m_base.filePath(QStringLiteral("prog-XXXXXX")));
    QVERIFY(m_programa->isValid());
    m_rt = std::make_unique<FakeRuntime>();
    m_rt->m_appPath = m_programa->path();
}

void tst_frmPrincipal::cleanup()
{
    m_ventana = nullptr;
    m_arranque.reset();
    m_rt.reset();
    m_programa.reset();
}

void tst_frmPrincipal::crear()
{
    m_arranque = std::make_unique<Startup>(*m_rt);
    m_ventana = &m_arranque->mainWindow();
}

QAction *tst_frmPrincipal::accion(const char *name) const
{
    for (QAction *a : m_ventana->mnuApp().actions()) {
        if (a->objectName() == QLatin1String(name))
            return a;
    }
    qWarning("no menu item %s", name);
    return nullptr;
}

void tst_frmPrincipal::activar()
{
    QVERIFY(activate(m_ventana));
}

void tst_frmPrincipal::kindTextAndStateOfEveryControl_data()
{
    QTest::addColumn<QString>("clase");
    QTest::addColumn<QString>("texto");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("habilitado");

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
    QFETCH(QString, clase);
    QFETCH(QString, texto);
    QFETCH(bool, visible);
    QFETCH(bool, habilitado);

    crear();
    m_arranque->start();
    QWidget *w = control(QTest::currentDataTag());
    QVERIFY(w);
    QVERIFY2(w->inherits(clase.toLatin1()), w->metaObject()->className());
    QCOMPARE(w->isVisibleTo(m_ventana), visible);
    QCOMPARE(w->isEnabled(), habilitado);

    QString actual;
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        actual = b->text();
    else if (auto *l = qobject_cast<QLabel *>(w))
        actual = l->text();
    else if (auto *e = qobject_cast<QLineEdit *>(w))
        actual = e->text();
    else if (auto *c = qobject_cast<QComboBox *>(w))
        actual = c->currentText();
    QCOMPARE(actual, texto);
}

void tst_frmPrincipal::windowFrameIconsAndPicture()
{
    crear();
    m_arranque->start();
    QCOMPARE(m_ventana->windowTitle(), QStringLiteral("elrisa"));
    QCOMPARE(m_ventana->minimumSize(), m_ventana->maximumSize());
    const Qt::WindowFlags flags = m_ventana->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));

    const QList<QSize> tamanos = m_ventana->windowIcon().availableSizes();
    QVERIFY(tamanos.contains(QSize(16, 16)));
    QVERIFY(tamanos.contains(QSize(32, 32)));

    auto *fondo = control<QLabel>("Picture");
    QVERIFY(fondo);
    QCOMPARE(fondo->pixmap().size(), fondo->size());
    // Every control stands to the right of the picture.
    for (QWidget *w : m_ventana->centralWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (w != fondo)
            QVERIFY2(w->x() >= 84, qPrintable(w->objectName()));
    }
    QCOMPARE(QImage(QStringLiteral(":/icons/tray.png")).size(), QSize(16, 16));

    // Centred on the screen.
    const QRect pantalla = m_ventana->screen()->availableGeometry();
    QVERIFY(qAbs(m_ventana->geometry().center().x() - pantalla.center().x()) <= 1);
    QVERIFY(qAbs(m_ventana->geometry().center().y() - pantalla.center().y()) <= 1);
}

void tst_frmPrincipal::trayMenuItemsInOrder()
{
    crear();
    const QList<QAction *> items = m_ventana->mnuApp().actions();
    QStringList vistos;
    for (const QAction *a : items)
        vistos << a->objectName() + QLatin1Char('=') + (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(vistos,
        QStringList({ "mnuEnviar=&Mostrar Enviar mensaje", "mnuEnviados=&Mostrar mensajes enviados", "munS1=-",
            "mnuAcerca=&Acerca de...", "mnuSP2=-", "mnuSalir=&Salir" }));
    QCOMPARE(m_ventana->mnuApp().objectName(), QStringLiteral("mnuApp"));
    // A tray menu, never a menu bar.
    QVERIFY(!m_ventana->findChild<QMenuBar *>());
}

void tst_frmPrincipal::tabOrderFollowsTheTable()
{
    crear();
    m_arranque->start();
    const QStringList esperado = { "optGrupo(0)", "optGrupo(1)", "txtMensaje", "chkCerrar", "cmdEnviar", "cmdCancelar",
        "cmdAcercaDe", "cmdAyuda", "Command1", "cmbDestino", "txtDestino" };
    QStringList visto;
    QWidget *w = control("optGrupo(0)");
    for (int guard = 0; w && guard < 100 && visto.size() < esperado.size(); ++guard, w = w->nextInFocusChain()) {
        if (esperado.contains(w->objectName()) && !visto.contains(w->objectName()))
            visto << w->objectName();
    }
    QCOMPARE(visto, esperado);
}

void tst_frmPrincipal::startUpLoadsBookRecentListAndTray()
{
    QVERIFY(writeFile(m_programa->filePath(QStringLiteral("enviara.ini")),
        "[Equipos]\r\n1=SERVIDOR1\r\n2=portatil ana\r\nTotal=2\r\n[Redes]\r\n1=OFICINA\r\nTotal=1\r\n"));
    QVERIFY(writeFile(m_programa->filePath(QStringLiteral("mru.ini")),
        "[Info]\r\nMaximo=5\r\nActualMRU=2\r\nTotal=2\r\n1=ALFA BETA\r\n2=GAMMA\r\n"));
    crear();
    QVERIFY(!m_ventana->taskIco().isVisible());
    m_arranque->start();

    QCOMPARE(m_arranque->rutaPrograma(), m_programa->path() + QLatin1Char('/'));
    QCOMPARE(m_ventana->module().TotalEquipos, qint16(2));
    QCOMPARE(m_ventana->module().TotalRedes, qint16(1));
    // The list stays empty until an option is chosen.
    QCOMPARE(control<QListWidget>("cmbDestino")->count(), 0);
    auto *destino = control<QComboBox>("txtDestino");
    QCOMPARE(destino->count(), 2);
    QCOMPARE(destino->itemText(0), QStringLiteral("ALFA BETA"));
    QCOMPARE(destino->currentText(), QString());
    QVERIFY(!control<QRadioButton>("optGrupo(0)")->isChecked());
    QVERIFY(!control<QRadioButton>("optGrupo(1)")->isChecked());
    QVERIFY(m_ventana->taskIco().isVisible());
    QVERIFY(m_ventana->isVisible());
    QVERIFY(!m_ventana->esconderTrasEnviar());
    QVERIFY(!m_ventana->restaurando());
    QVERIFY(m_rt->m_boxes.isEmpty());
}

void tst_frmPrincipal::programDirectoryGetsOneSeparator_data()
{
    QTest::addColumn<QString>("sufijo");
    QTest::newRow("no separator") << "";
    QTest::newRow("separator") << "/";
}

void tst_frmPrincipal::programDirectoryGetsOneSeparator()
{
    QFETCH(QString, sufijo);
    m_rt->m_appPath = m_programa->path() + sufijo;
    crear();
    m_arranque->start();
    QCOMPARE(m_arranque->rutaPrograma(), m_programa->path() + QLatin1Char('/'));
    QCOMPARE(m_ventana->rutaPrograma(), m_programa->path() + QLatin1Char('/'));
}

void tst_frmPrincipal::dataFilesLiveApartFromAProtectedProgram()
{
    // The program folder holds net and the help; the user's own folder holds the data files
    // and, to catch a wrong look-up, a `net` that never delivers.
    const QString programa = m_programa->path();
    const QString datos = newFolder(m_base.path());
    QVERIFY(prepareProgram(programa));
    QVERIFY(writeFile(datos + QStringLiteral("net"), "#!/bin/sh\necho no es el nuestro\n", kExecutable));
    QVERIFY(writeFile(datos + QStringLiteral("mru.ini"), "[Info]\r\nTotal=1\r\n1=ALFA\r\n"));
    const QStringList enPrograma = QDir(programa).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    m_rt->m_dataPath = datos;
    crear();
    m_arranque->start();
    QCOMPARE(m_arranque->rutaPrograma(), datos);
    QCOMPARE(control<QComboBox>("txtDestino")->itemText(0), QStringLiteral("ALFA"));

    control<QComboBox>("txtDestino")->setEditText(QStringLiteral("BETA"));
    control<QLineEdit>("txtMensaje")->setText(QStringLiteral("hola"));
    control<QPushButton>("cmdEnviar")->click();
    QCOMPARE(m_ventana->mensajes().modelo().fila(0).Resultado, QStringLiteral("Enviado"));
    QVERIFY(readFile(datos + QStringLiteral("ejecuta.bat"))
                .endsWith("> \"" + QFile::encodeName(datos) + "mensaje.txt\"\n"));
    QVERIFY(readFile(datos + QStringLiteral("mru.ini")).contains("BETA"));
    QCOMPARE(QDir(programa).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), enPrograma);

    // The help file is the program's, not the user's.
    m_rt->m_realShell = false;
    control<QPushButton>("cmdAyuda")->click();
    QCOMPARE(m_rt->m_shellCalls.last(), QStringLiteral("hh ") + programa + QStringLiteral("/ayuda.chm"));
}

void tst_frmPrincipal::secondInstanceEndsBeforeAnything_data()
{
    QTest::addColumn<bool>("bandeja");
    QTest::addColumn<int>("activaciones");
    QTest::newRow("tray: silent") << true << 0;
    QTest::newRow("no tray: the running one comes forward") << false << 1;
}

void tst_frmPrincipal::secondInstanceEndsBeforeAnything()
{
    QFETCH(bool, bandeja);
    QFETCH(int, activaciones);
    QVERIFY(writeFile(m_programa->filePath(QStringLiteral("mru.ini")), "[Info]\r\nTotal=1\r\n1=ALFA\r\n"));
    m_rt->m_prevInstance = true;
    m_rt->m_trayAvailable = bandeja;
    m_rt->m_command = QStringLiteral("-MIN");
    crear();
    QVERIFY_THROWS_EXCEPTION(FakeRuntime::Ended, m_arranque->start());
    QCOMPARE(m_rt->m_endCalls, 1);
    QCOMPARE(m_rt->m_activationsSent, activaciones);
    QVERIFY(!m_ventana->isVisible());
    QVERIFY(!m_ventana->isMinimized());
    QVERIFY(!m_ventana->taskIco().isVisible());
    QVERIFY(m_arranque->rutaPrograma().isEmpty());
    QCOMPARE(control<QComboBox>("txtDestino")->count(), 0);
    QVERIFY(m_rt->m_boxes.isEmpty());
    QVERIFY(!m_rt->m_activationHandler);
}

void tst_frmPrincipal::minArgumentStartsInTray_data()
{
    QTest::addColumn<QString>("argumentos");
    QTest::addColumn<bool>("enBandeja");
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
    QFETCH(QString, argumentos);
    QFETCH(bool, enBandeja);
    m_rt->m_command = argumentos;
    crear();
    m_arranque->start();
    QCOMPARE(m_ventana->isVisible(), !enBandeja);
    QVERIFY(m_ventana->taskIco().isVisible());
    // The rest of the start-up ran all the same.
    QCOMPARE(m_arranque->rutaPrograma(), m_programa->path() + QLatin1Char('/'));
    if (enBandeja) {
        // From the tray it comes back in its normal state.
        accion("mnuEnviar")->trigger();
        QVERIFY(m_ventana->isVisible());
        QVERIFY(!m_ventana->isMinimized());
    }
}

void tst_frmPrincipal::storedCerrarSetsBoxAndFlag_data()
{
    QTest::addColumn<QString>("guardado"); // null: nothing stored
    QTest::addColumn<int>("estado");
    QTest::addColumn<bool>("esconder");

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
    QFETCH(QString, guardado);
    QFETCH(int, estado);
    QFETCH(bool, esconder);
    if (!guardado.isNull())
        m_rt->m_settings.insert(QStringLiteral("EnviarMensaje/Opciones/Cerrar"), guardado);
    crear();
    m_arranque->start();

    static const Qt::CheckState estados[3] = { Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked };
    QCOMPARE(control<QCheckBox>("chkCerrar")->checkState(), estados[estado]);
    QCOMPARE(m_ventana->estadoCerrar(), estado);
    QCOMPARE(m_ventana->esconderTrasEnviar(), esconder);
    // Start-up only reads the setting.
    QCOMPARE(m_rt->m_settings.value(QStringLiteral("EnviarMensaje/Opciones/Cerrar")), guardado);
}

void tst_frmPrincipal::hideAfterSendFlagReachesSentMessagesWindow_data()
{
    QTest::addColumn<QString>("guardado");
    QTest::addColumn<bool>("principalSeEsconde");
    QTest::newRow("1") << "1" << false;
    QTest::newRow("2") << "2" << true;
}

void tst_frmPrincipal::hideAfterSendFlagReachesSentMessagesWindow()
{
    QFETCH(QString, guardado);
    QFETCH(bool, principalSeEsconde);
    m_rt->m_settings.insert(QStringLiteral("EnviarMensaje/Opciones/Cerrar"), guardado);
    crear();
    m_arranque->start();
    QAction *enviados = accion("mnuEnviados");
    QVERIFY(enviados);
    enviados->trigger();
    frmMensajes *log = &m_ventana->mensajes();
    QVERIFY(log->isVisible());
    // Created once: asking again gives the same window.
    enviados->trigger();
    QCOMPARE(&m_ventana->mensajes(), log);

    auto *cerrar = log->findChild<QPushButton *>(QStringLiteral("Command1"));
    QVERIFY(cerrar);
    cerrar->click();
    QVERIFY(!log->isVisible());
    QCOMPARE(m_ventana->isVisible(), !principalSeEsconde);
}

void tst_frmPrincipal::minimiseHidesUnlessRestoring()
{
    crear();
    m_arranque->start();
    QVERIFY(m_ventana->isVisible());

    m_ventana->setWindowState(Qt::WindowMinimized);
    QVERIFY(!m_ventana->isVisible());
    QVERIFY(m_ventana->taskIco().isVisible());

    // While the tray menu brings it back, minimising does not hide it.
    m_ventana->show();
    m_ventana->setRestaurando(true);
    m_ventana->setWindowState(Qt::WindowNoState);
    m_ventana->setWindowState(Qt::WindowMinimized);
    QVERIFY(m_ventana->isVisible());
    m_ventana->setRestaurando(false);

    // "&Mostrar Enviar mensaje" on a minimised, hidden window: normal and shown, not hidden on the way.
    m_ventana->hide();
    QVERIFY(m_ventana->isMinimized());
    accion("mnuEnviar")->trigger();
    QVERIFY(m_ventana->isVisible());
    QVERIFY(!m_ventana->isMinimized());
    QVERIFY(!m_ventana->restaurando());
}

void tst_frmPrincipal::closeRequestOnlyHides_data()
{
    QTest::addColumn<bool>("bandeja");
    QTest::newRow("tray") << true;
    QTest::newRow("no tray") << false;
}

void tst_frmPrincipal::closeRequestOnlyHides()
{
    QFETCH(bool, bandeja);
    m_rt->m_trayAvailable = bandeja;
    crear();
    m_arranque->start();
    QVERIFY(!m_ventana->close());
    QVERIFY(!m_ventana->isVisible());
    QCOMPARE(m_rt->m_endCalls, 0);
    QVERIFY(m_ventana->taskIco().isVisible());
    // Still alive and whole: it comes back with its controls.
    Q_EMIT m_ventana->taskIco().restoreRequested();
    QVERIFY(m_ventana->isVisible());
    QCOMPARE(control<QLineEdit>("txtMensaje")->text(), QStringLiteral("Escriba su mensaje"));
}

void tst_frmPrincipal::escapeHidesFromAnyControl_data()
{
    QTest::addColumn<QString>("foco");
    for (const char *name : { "txtDestino", "optGrupo(0)", "cmbDestino", "txtMensaje", "cmdAcercaDe", "Command1" })
        QTest::newRow(name) << QString::fromLatin1(name);
}

void tst_frmPrincipal::escapeHidesFromAnyControl()
{
    QFETCH(QString, foco);
    crear();
    m_arranque->start();
    activar();
    QWidget *w = control(foco.toLatin1().constData());
    QVERIFY(w);
    w->setFocus();
    QTRY_VERIFY(w->hasFocus() || w->isAncestorOf(QApplication::focusWidget()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!m_ventana->isVisible());
    QVERIFY(m_ventana->taskIco().isVisible());
    QCOMPARE(m_rt->m_endCalls, 0);
}

void tst_frmPrincipal::escapeInAnOpenDropDownOnlyClosesIt()
{
    QVERIFY(writeFile(m_programa->filePath(QStringLiteral("mru.ini")), "[Info]\r\nTotal=2\r\n1=ALFA\r\n2=BETA\r\n"));
    crear();
    m_arranque->start();
    activar();
    auto *destino = control<QComboBox>("txtDestino");
    QCOMPARE(destino->count(), 2);
    destino->setFocus();
    QTRY_VERIFY(destino->lineEdit()->hasFocus());
    QTest::keyClick(destino->lineEdit(), Qt::Key_F4);
    QTRY_VERIFY(destino->view()->isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(!destino->view()->isVisible());
    QVERIFY(m_ventana->isVisible());
    QCOMPARE(destino->currentText(), QString());
}

void tst_frmPrincipal::enterSendsOnlyWhenEnabled()
{
    // A `net` beside the program that delivers at once.
    QVERIFY(writeFile(
        m_programa->filePath(QStringLiteral("net")), "#!/bin/sh\necho \"Mensaje enviado a $2.\"\n", kExecutable));
    crear();
    m_arranque->start();
    activar();
    auto *destino = control<QComboBox>("txtDestino");
    auto *mensaje = control<QLineEdit>("txtMensaje");
    auto *enviar = control<QPushButton>("cmdEnviar");
    QSignalSpy pulsado(enviar, &QPushButton::clicked);

    destino->setFocus();
    QTRY_VERIFY(destino->lineEdit()->hasFocus());
    mensaje->clear();
    QTest::keyClicks(destino->lineEdit(), QStringLiteral("ALFA"));
    QVERIFY(!enviar->isEnabled());
    QTest::keyClick(destino->lineEdit(), Qt::Key_Return);
    QCOMPARE(pulsado.count(), 0);
    // Enter never adds the line to the drop-down; only a finished send does.
    QCOMPARE(destino->count(), 0);
    QCOMPARE(destino->currentText(), QStringLiteral("ALFA"));

    mensaje->setText(QStringLiteral("Hola"));
    QVERIFY(enviar->isEnabled());
    QTest::keyClick(destino->lineEdit(), Qt::Key_Return);
    QCOMPARE(pulsado.count(), 1);
    QCOMPARE(m_ventana->mensajes().filas(), 1);
    QCOMPARE(destino->count(), 1); // from mru.ini, written by the send run

    // The keypad's Enter does the same, from the message box too (the log window took the focus).
    activar();
    mensaje->setFocus();
    QTRY_VERIFY(mensaje->hasFocus());
    QTest::keyClick(mensaje, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(pulsado.count(), 2);
    QCOMPARE(m_ventana->mensajes().filas(), 2);
}

void tst_frmPrincipal::enterOnAFocusedButtonPressesThatButton()
{
    crear();
    m_arranque->start();
    activar();
    control<QComboBox>("txtDestino")->setEditText(QStringLiteral("ALFA"));
    QVERIFY(control<QPushButton>("cmdEnviar")->isEnabled());
    QSignalSpy enviado(control<QPushButton>("cmdEnviar"), &QPushButton::clicked);
    auto *cancelar = control<QPushButton>("cmdCancelar");
    cancelar->setFocus();
    QTRY_VERIFY(cancelar->hasFocus());
    QTest::keyClick(cancelar, Qt::Key_Return);
    QCOMPARE(enviado.count(), 0);
    QVERIFY(!m_ventana->isVisible());
}

void tst_frmPrincipal::trayRestoreAndMenuActions()
{
    m_rt->m_command = QStringLiteral("-min");
    crear();
    m_arranque->start();
    QVERIFY(!m_ventana->isVisible());

    // The restore request: normal state, shown.
    Q_EMIT m_ventana->taskIco().restoreRequested();
    QVERIFY(m_ventana->isVisible());
    QVERIFY(!m_ventana->isMinimized());

    // The menu request pops up mnuApp.
    Q_EMIT m_ventana->taskIco().menuRequested();
    QTRY_VERIFY(m_ventana->mnuApp().isVisible());
    m_ventana->mnuApp().hide();

    QAction *salir = accion("mnuSalir");
    QVERIFY(salir);
    QVERIFY_THROWS_EXCEPTION(FakeRuntime::Ended, salir->trigger());
    QCOMPARE(m_rt->m_endCalls, 1);
    // Nothing is saved on the way out.
    QVERIFY(m_rt->m_settings.isEmpty());
    QVERIFY(!QFile::exists(m_programa->filePath(QStringLiteral("mru.ini"))));
}

void tst_frmPrincipal::aboutOpensModallyFromButtonAndMenu()
{
    crear();
    m_arranque->start();
    const auto cerrar = [] { return onModal([](QWidget *modal) { modal->close(); }); };
    {
        const auto driver = cerrar();
        control<QPushButton>("cmdAcercaDe")->click();
        QCOMPARE(driver.className(), QStringLiteral("Form3"));
    }
    {
        m_ventana->hide();
        const auto driver = cerrar();
        accion("mnuAcerca")->trigger();
        QCOMPARE(driver.className(), QStringLiteral("Form3"));
        // The About window does not bring the main window back.
        QVERIFY(!m_ventana->isVisible());
    }
}

void tst_frmPrincipal::withoutTrayTheWindowStaysReachable()
{
    m_rt->m_trayAvailable = false;
    m_rt->m_command = QStringLiteral("-MIN");
    crear();
    m_arranque->start();
    // Started minimised in the task bar rather than hidden.
    QVERIFY(m_ventana->isVisible());
    QVERIFY(m_ventana->isMinimized());

    m_ventana->setWindowState(Qt::WindowNoState);
    m_ventana->setWindowState(Qt::WindowMinimized);
    QVERIFY(m_ventana->isVisible());

    // "&Cancelar" still hides; a second start brings it forward in its normal state.
    control<QPushButton>("cmdCancelar")->click();
    QVERIFY(!m_ventana->isVisible());
    QVERIFY(m_rt->m_activationHandler);
    m_rt->m_activationHandler();
    QVERIFY(m_ventana->isVisible());
    QVERIFY(!m_ventana->isMinimized());
}

void tst_frmPrincipal::withoutTrayARightClickOffersTheTrayMenu_data()
{
    QTest::addColumn<bool>("bandeja");
    QTest::addColumn<QString>("donde");
    for (const char *donde : { "Picture", "lbl1", "cmdCancelar", "cmbDestino" }) {
        QTest::addRow("tray, %s", donde) << true << QString::fromLatin1(donde);
        QTest::addRow("no tray, %s", donde) << false << QString::fromLatin1(donde);
    }
}

void tst_frmPrincipal::withoutTrayARightClickOffersTheTrayMenu()
{
    QFETCH(bool, bandeja);
    QFETCH(QString, donde);
    m_rt->m_trayAvailable = bandeja;
    crear();
    m_arranque->start();
    QWidget *w = control(donde.toLatin1().constData());
    if (auto *lista = qobject_cast<QListWidget *>(w))
        w = lista->viewport();
    QContextMenuEvent clic(QContextMenuEvent::Mouse, QPoint(3, 3), w->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(w, &clic);
    QCOMPARE(m_ventana->mnuApp().isVisible(), !bandeja);
    if (bandeja)
        return;
    // The tray menu itself, with "&Salir", which ends the program.
    QAction *salir = accion("mnuSalir");
    QVERIFY(m_ventana->mnuApp().actions().contains(salir));
    QVERIFY_THROWS_EXCEPTION(FakeRuntime::Ended, salir->trigger());
}

void tst_frmPrincipal::keywordSwapsLeftPicture()
{
    crear();
    m_arranque->start();
    auto *fondo = control<QLabel>("Picture");
    const QImage original = fondo->pixmap().toImage();
    QVERIFY(!m_ventana->fondoAlternativo());
    control<QLineEdit>("txtMensaje")->setText(QStringLiteral("colorOFvelrisa"));
    QVERIFY(m_ventana->fondoAlternativo());
    const QImage cambiado = fondo->pixmap().toImage();
    QCOMPARE(cambiado.size(), QSize(84, 303));
    QVERIFY(cambiado != original);
    QCOMPARE(cambiado, QPixmap(QStringLiteral(":/pictures/fondo_alternativo.png")).toImage());
}

void tst_frmPrincipal::sendRunReadsTheWindow()
{
    QVERIFY(writeFile(m_programa->filePath(QStringLiteral("enviara.ini")), "[Redes]\r\n1=OFICINA\r\nTotal=1\r\n"));
    crear();
    m_arranque->start();
    QVERIFY(!m_ventana->grupoElegido());
    QTest::mouseClick(control("optGrupo(1)"), Qt::LeftButton);
    QVERIFY(m_ventana->grupoElegido());
    auto *lista = control<QListWidget>("cmbDestino");
    QCOMPARE(lista->count(), 1);
    QTest::mouseClick(lista->viewport(), Qt::LeftButton, {}, lista->visualItemRect(lista->item(0)).center());
    QCOMPARE(m_ventana->textoDestino(), QStringLiteral("Oficina "));
    QCOMPARE(m_ventana->textoMensaje(), QStringLiteral("Escriba su mensaje"));
    QVERIFY(control<QPushButton>("cmdEnviar")->isEnabled());
}

void tst_frmPrincipal::quitEndsCleanlyDespiteCloseRule()
{
    crear();
    m_arranque->start();
    QVERIFY(m_ventana->isVisible());
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(qApp, &quit);
    QVERIFY(!m_ventana->taskIco().isVisible());
    // From now on a close request is granted.
    QVERIFY(m_ventana->close());
    QVERIFY(!m_ventana->isVisible());
    QCOMPARE(m_rt->m_endCalls, 0);
}

QTEST_MAIN(tst_frmPrincipal)
#include "tst_frmPrincipal.moc"
