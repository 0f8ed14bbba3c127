#include "fakes/VentanaEnvioPrueba.h"

#include "dispatch/Despacho.h"
#include "dispatch/Module1.h"
#include "fakes/TestSupport.h"
#include "runtime/Texto.h"
#include "runtime/posix/ProcessStart.h"
#include "sentlog/ModeloMensajes.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kTextoEscritura = QStringLiteral(
    "No se pudo escribir en el directorio del programa. Asegurese de que tiene permisos y no este bloqueado contra "
    "escritura.");

QList<QWidget *> ventanasEspera()
{
    QList<QWidget *> result;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("frmWait"))
            result << w;
    }
    return result;
}

// Counts the paint events a widget receives.
class ContadorPintado : public QObject
{
public:
    int m_pintados = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++m_pintados;
        return false;
    }
};

// The id of a process that has ended and been reaped: nobody has it any more.
qint64 pidTerminado()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

} // namespace

using namespace TestSupport;

// One recipient and whole send runs, through a real /bin/sh, a real ejecuta.bat and a fake
// `net` in a temporary program directory.
class tst_Despacho : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void unDestinoSegunLaSalida_data();
    void unDestinoSegunLaSalida();
    void lineaEscritaRecortadaYConGrupo_data();
    void lineaEscritaRecortadaYConGrupo();
    void escrituraRechazadaTerminaElPrograma_data();
    void escrituraRechazadaTerminaElPrograma();
    void procesoNoIniciadoNoEsEnvio();
    void procesoYaTerminadoLeeLaSalidaEnSeguida();
    void salidaAnteriorNoPasaPorEnvio();
    void salidaQueNoEsArchivoNoSeEspera();
    void duranteLaEsperaLaVentanaEstaBloqueada();
    void cadaEnvioMuestraDeNuevoLaLista();
    void esperaRepintaSoloTrasUnaEsperaReal();

    void recorridoCortaEnCadaBlanco_data();
    void recorridoCortaEnCadaBlanco();
    void recorridoCompletaFilasYGuardaOpcion();
    void recorridoLeeMensajeYLineaDeNuevo();
    void cadaFilaGuardaLaRespuesta();
    void recorridoSeDetieneAlTerminarElPrograma();
    void ventanaEsperaNuevaEnCadaDestino();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RuntimePrueba> m_rt;
    std::unique_ptr<VentanaEnvioPrueba> m_ventana;
    QString m_prog;
};

void tst_Despacho::initTestCase()
{
    QVERIFY(prepareEnvironment());
}

void tst_Despacho::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_prog = m_dir->path() + QStringLiteral("/programa/");
    QVERIFY(prepareProgram(m_prog));
    m_rt = std::make_unique<RuntimePrueba>();
    m_rt->m_appPath = m_prog.chopped(1);
    m_ventana = std::make_unique<VentanaEnvioPrueba>();
    m_ventana->m_ruta = m_prog;
    m_ventana->m_ventana.setGeometry(100, 100, 584, 303);
    m_ventana->m_ventana.show();
}

void tst_Despacho::cleanup()
{
    setMode(m_prog, 0755);
    m_ventana.reset();
    m_rt.reset();
    m_dir.reset();
}

void tst_Despacho::unDestinoSegunLaSalida_data()
{
    QTest::addColumn<QString>("destino");
    QTest::addColumn<int>("resultado");
    QTest::addColumn<QString>("cajaTitulo"); // empty: no message box

    QTest::newRow("enviado") << "PEPE" << 1 << "";
    QTest::newRow("respuesta en minusculas") << "minus" << 1 << "";
    QTest::newRow("lento: solo tras acabar") << "lento" << 1 << "";
    QTest::newRow("no entregado") << "falla" << 0 << "";
    QTest::newRow("primera linea corta") << "corto" << 0 << "";
    QTest::newRow("salida vacia") << "vacio" << 0 << "Error: 62";
}

void tst_Despacho::unDestinoSegunLaSalida()
{
    QFETCH(QString, destino);
    QFETCH(int, resultado);
    QFETCH(QString, cajaTitulo);

    Despacho despacho(*m_rt, *m_ventana);
    QCOMPARE(int(despacho.EnviarADestino(destino, QStringLiteral("hola"))), resultado);

    QCOMPARE(netCalls(m_prog), QList<QStringList> { (QStringList { "send", destino, "hola" }) });
    QCOMPARE(m_ventana->mensajes().filas(), 1);
    QCOMPARE(m_ventana->mensajes().modelo().fila(0).Para, destino);
    QVERIFY(m_ventana->mensajes().modelo().fila(0).Resultado.isEmpty());
    if (cajaTitulo.isEmpty()) {
        QCOMPARE(m_rt->m_boxes.size(), 0);
    } else {
        QCOMPARE(m_rt->m_boxes.size(), 1);
        QCOMPARE(m_rt->m_boxes.at(0).title, cajaTitulo);
        QCOMPARE(m_rt->m_boxes.at(0).icon, Runtime::Icon::Critical);
        QVERIFY2(m_rt->m_boxes.at(0).text.contains(m_prog + QStringLiteral("mensaje.txt")),
            qPrintable(m_rt->m_boxes.at(0).text));
    }
    QVERIFY(m_ventana->m_ventana.isEnabled());
    QVERIFY(!m_rt->m_hourglass);
    QVERIFY(ventanasEspera().isEmpty());
}

void tst_Despacho::lineaEscritaRecortadaYConGrupo_data()
{
    QTest::addColumn<QString>("destino");
    QTest::addColumn<bool>("grupo");
    QTest::addColumn<QString>("linea");
    QTest::addColumn<QStringList>("argumentos");

    QTest::newRow("blancos alrededor") << "  PEPE   " << false << "net send PEPE Hola a todos > \"%1mensaje.txt\"\n"
                                       << QStringList { "send", "PEPE", "Hola", "a", "todos" };
    QTest::newRow("grupo") << "OFICINA" << true << "net send /domain:OFICINA Hola a todos > \"%1mensaje.txt\"\n"
                           << QStringList { "send", "/domain:OFICINA", "Hola", "a", "todos" };
}

void tst_Despacho::lineaEscritaRecortadaYConGrupo()
{
    QFETCH(QString, destino);
    QFETCH(bool, grupo);
    QFETCH(QString, linea);
    QFETCH(QStringList, argumentos);

    m_ventana->m_grupo = grupo;
    Despacho despacho(*m_rt, *m_ventana);
    QCOMPARE(int(despacho.EnviarADestino(destino, QStringLiteral("Hola a todos"))), 1);
    QCOMPARE(QString::fromUtf8(readFile(m_prog + QStringLiteral("ejecuta.bat"))), linea.arg(m_prog));
    QCOMPARE(netCalls(m_prog), QList<QStringList> { argumentos });
    QCOMPARE(m_ventana->mensajes().modelo().fila(0).Para, Texto::trimBlanks(destino));
    QCOMPARE(m_rt->m_shellCalls, QStringList { m_prog + QStringLiteral("ejecuta.bat") });
}

void tst_Despacho::escrituraRechazadaTerminaElPrograma_data()
{
    QTest::addColumn<bool>("soloArchivo");
    QTest::newRow("ejecuta.bat de solo lectura") << true;
    QTest::newRow("directorio protegido") << false;
}

void tst_Despacho::escrituraRechazadaTerminaElPrograma()
{
    QFETCH(bool, soloArchivo);
    const QString lote = m_prog + QStringLiteral("ejecuta.bat");
    QVERIFY(writeFile(lote, "anterior\n"));
    QVERIFY(soloArchivo ? setMode(lote, 0400) : setMode(m_prog, 0555));

    m_ventana->m_cerrar = 2;
    Despacho despacho(*m_rt, *m_ventana);
    QVERIFY_THROWS_EXCEPTION(FakeRuntime::Ended, despacho.EnviarADestino(QStringLiteral("PEPE"), QStringLiteral("x")));

    QCOMPARE(m_rt->m_endCalls, 1);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).text, kTextoEscritura);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error de escritura"));
    QCOMPARE(m_rt->m_boxes.at(0).icon, Runtime::Icon::Critical);
    QCOMPARE(m_rt->m_shellCalls.size(), 0);
    QCOMPARE(m_ventana->mensajes().filas(), 0);
    QCOMPARE(readFile(lote), QByteArray("anterior\n"));
    // The setting was stored before the write was tried.
    QCOMPARE(m_rt->m_settings.value(QStringLiteral("EnviarMensaje/Opciones/Cerrar")), QStringLiteral("2"));
    QVERIFY(m_ventana->m_ventana.isEnabled());
    QVERIFY(!m_rt->m_hourglass);
    QVERIFY(ventanasEspera().isEmpty());
}

void tst_Despacho::procesoNoIniciadoNoEsEnvio()
{
    // A stale success from an earlier recipient must not count for one whose command never ran.
    QVERIFY(writeFile(m_prog + QStringLiteral("mensaje.txt"), "Mensaje enviado a OTRO.\n"));
    m_rt->m_realShell = false;
    m_rt->m_shellPid = 0;

    Despacho despacho(*m_rt, *m_ventana);
    QCOMPARE(int(despacho.EnviarADestino(QStringLiteral("PEPE"), QStringLiteral("x"))), 0);
    QCOMPARE(m_rt->m_cesiones, 0);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error: 53"));
    QVERIFY(m_rt->m_boxes.at(0).text.contains(QStringLiteral("ejecuta.bat")));
    QCOMPARE(m_ventana->mensajes().filas(), 1);
    QVERIFY(m_ventana->m_ventana.isEnabled());
}

void tst_Despacho::procesoYaTerminadoLeeLaSalidaEnSeguida()
{
    m_rt->m_realShell = false;
    m_rt->m_shellPid = pidTerminado();

    Despacho despacho(*m_rt, *m_ventana);
    QCOMPARE(int(despacho.EnviarADestino(QStringLiteral("PEPE"), QStringLiteral("x"))), 0);
    // Only the dispatch's own yield: the wait found no process, so it did not yield.
    QCOMPARE(m_rt->m_cesiones, 1);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error: 53"));
    QVERIFY(m_rt->m_boxes.at(0).text.contains(QStringLiteral("mensaje.txt")));
    QCOMPARE(m_ventana->mensajes().filas(), 1);
}

void tst_Despacho::salidaAnteriorNoPasaPorEnvio()
{
    // The shell starts but is killed before it runs the line: the success an earlier
    // recipient left in mensaje.txt must not count for this one.
    QVERIFY(writeFile(m_prog + QStringLiteral("mensaje.txt"), "Mensaje enviado a OTRO.\n"));
    const QString muere = m_prog + QStringLiteral("muere.sh");
    QVERIFY(writeFile(muere, "#!/bin/sh\nkill -9 $$\n", kExecutable));
    m_rt->m_realShell = false;
    m_rt->m_shellPid = ProcessStart::start(ProcessStart::resolve(muere, m_prog));
    QVERIFY(m_rt->m_shellPid > 0);

    Despacho despacho(*m_rt, *m_ventana);
    QCOMPARE(int(despacho.EnviarADestino(QStringLiteral("PEPE"), QStringLiteral("x"))), 0);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error: 53"));
    QVERIFY(m_rt->m_boxes.at(0).text.contains(QStringLiteral("mensaje.txt")));
    QCOMPARE(m_ventana->mensajes().filas(), 1);
}

void tst_Despacho::salidaQueNoEsArchivoNoSeEspera()
{
    // Whoever opens the pipe to read it is answered "sent"; nobody must.
    std::atomic<bool> terminado = false;
    std::thread escritor([&] {
        const QByteArray tuberia = QFile::encodeName(m_prog + QStringLiteral("mensaje.txt"));
        while (!terminado) {
            struct stat st = {};
            const int fd = ::stat(tuberia.constData(), &st) == 0 && S_ISFIFO(st.st_mode)
                ? ::open(tuberia.constData(), O_WRONLY | O_NONBLOCK)
                : -1;
            if (fd >= 0) {
                (void)!::write(fd, "Mensaje enviado a tuberia.\n", 27);
                ::close(fd);
                return;
            }
            ::usleep(10000);
        }
    });
    Despacho despacho(*m_rt, *m_ventana);
    const qint16 resultado = despacho.EnviarADestino(QStringLiteral("tuberia"), QStringLiteral("hola"));
    terminado = true;
    escritor.join();

    QCOMPARE(int(resultado), 0);
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error: 53"));
    QVERIFY2(m_rt->m_boxes.at(0).text.contains(QStringLiteral("no es un archivo normal")),
        qPrintable(m_rt->m_boxes.at(0).text));
    QCOMPARE(m_ventana->mensajes().filas(), 1);
}

void tst_Despacho::duranteLaEsperaLaVentanaEstaBloqueada()
{
    struct Estado
    {
        bool habilitada;
        bool reloj;
        int esperas;
        bool esperaVisible;
    };
    QList<Estado> vistos;
    m_rt->m_alCeder = [&](int) {
        const auto esperas = ventanasEspera();
        vistos << Estado { m_ventana->m_ventana.isEnabled(), m_rt->m_hourglass, int(esperas.size()),
            !esperas.isEmpty() && esperas.at(0)->isVisible() };
    };
    Despacho despacho(*m_rt, *m_ventana);
    QCOMPARE(int(despacho.EnviarADestino(QStringLiteral("lento"), QStringLiteral("x"))), 1);

    // Two yields, after the wait and after it in the dispatch: both with the main window locked.
    QCOMPARE(vistos.size(), 2);
    for (const Estado &e : std::as_const(vistos)) {
        QVERIFY(!e.habilitada);
        QVERIFY(e.reloj);
        QCOMPARE(e.esperas, 1);
        QVERIFY(e.esperaVisible);
    }
    QVERIFY(m_ventana->m_ventana.isEnabled());
    QVERIFY(!m_rt->m_hourglass);
    QCOMPARE(m_rt->m_hourglassChanges, 2);
    QVERIFY(ventanasEspera().isEmpty());
}

void tst_Despacho::cadaEnvioMuestraDeNuevoLaLista()
{
    Despacho despacho(*m_rt, *m_ventana);
    despacho.EnviarADestino(QStringLiteral("A"), QStringLiteral("x"));
    frmMensajes &lista = m_ventana->mensajes();
    QVERIFY(lista.isVisible());
    lista.close();
    QVERIFY(!lista.isVisible());
    despacho.EnviarADestino(QStringLiteral("B"), QStringLiteral("x"));
    QVERIFY(lista.isVisible());
    QCOMPARE(&m_ventana->mensajes(), &lista);
    QCOMPARE(lista.filas(), 2);
}

void tst_Despacho::esperaRepintaSoloTrasUnaEsperaReal()
{
    frmMensajes &lista = m_ventana->mensajes();
    lista.mostrar();
    QCoreApplication::processEvents();
    // The rows are what a repaint has to bring up to date: a row appended before the wait, as
    // the dispatch appends it, is drawn after a real wait and not before.
    auto *filas = lista.findChild<QAbstractItemView *>(QStringLiteral("ListView1"));
    QVERIFY(filas);
    ContadorPintado contador;
    filas->viewport()->installEventFilter(&contador);
    lista.agregarFila(QStringLiteral("EQUIPO1"));

    // A process that is gone: back at once, no repaint, no yield, no message.
    EsperarProceso(*m_rt, qint32(pidTerminado()), lista);
    QCOMPARE(contador.m_pintados, 0);
    QCOMPARE(m_rt->m_cesiones, 0);

    // A real child that takes its time: back only once it has ended, then repainted.
    const qint64 pid = ProcessStart::start(ProcessStart::resolve(QStringLiteral("/bin/sleep 0.4"), m_prog));
    QVERIFY(pid > 0);
    EsperarProceso(*m_rt, qint32(pid), lista);
    QCOMPARE(::kill(pid_t(pid), 0), -1);
    QVERIFY(contador.m_pintados >= 1);
    QCOMPARE(m_rt->m_cesiones, 1);
    QCOMPARE(m_rt->m_boxes.size(), 0);
}

void tst_Despacho::recorridoCortaEnCadaBlanco_data()
{
    QTest::addColumn<QString>("linea");
    QTest::addColumn<QStringList>("destinos");

    QTest::newRow("tres nombres") << "ANA BEA CIRO" << QStringList { "ANA", "BEA", "CIRO" };
    QTest::newRow("un nombre") << "SOLO" << QStringList { "SOLO" };
    QTest::newRow("un caracter") << "X" << QStringList { "X" };
    QTest::newRow("blanco final") << "UNO " << QStringList { "UNO" };
    QTest::newRow("dos blancos seguidos") << "ANA  BEA" << QStringList { "ANA", "BEA" };
    QTest::newRow("blanco inicial") << " ANA" << QStringList { "ANA" };
    QTest::newRow("solo blancos") << "   " << QStringList {};
    QTest::newRow("tabulador es parte del nombre") << "A\tB C" << QStringList { "A\tB", "C" };
}

void tst_Despacho::recorridoCortaEnCadaBlanco()
{
    QFETCH(QString, linea);
    QFETCH(QStringList, destinos);

    m_ventana->m_destino = linea;
    m_ventana->m_mensaje = QStringLiteral("hola");
    Despacho(*m_rt, *m_ventana).EnviarMensajes();

    QStringList enviados;
    for (const QStringList &args : netCalls(m_prog))
        enviados << args.value(1);
    QCOMPARE(enviados, destinos);
    QStringList filas;
    for (int k = 0; k < m_ventana->mensajes().filas(); ++k)
        filas << m_ventana->mensajes().modelo().fila(k).Para;
    QCOMPARE(filas, destinos);
    QCOMPARE(m_ventana->m_llamadasMRU, (QStringList { "Guardar:" + linea, "Cargar" }));
    QVERIFY(m_ventana->mensajes().isVisible());
}

void tst_Despacho::recorridoCompletaFilasYGuardaOpcion()
{
    // Rows from an earlier run stay above.
    m_ventana->mensajes().agregarFila(QStringLiteral("ANTERIOR"));
    m_ventana->m_grupo = true;
    m_ventana->m_cerrar = 0;
    m_ventana->m_destino = QStringLiteral("falla1 BIEN falla2");
    m_ventana->m_mensaje = QStringLiteral("Hola a todos");
    int recorrido = 0;
    m_rt->m_alCeder = [&](int cesion) {
        // Every third yield is the run's, after a row was completed: the clock moves on.
        if (cesion % 3 == 0)
            m_rt->m_time = QTime(10, 0, ++recorrido);
    };
    m_rt->m_time = QTime(10, 0, 0);
    Despacho(*m_rt, *m_ventana).EnviarMensajes();

    QCOMPARE(m_rt->m_settings.value(QStringLiteral("EnviarMensaje/Opciones/Cerrar")), QStringLiteral("0"));
    const ModeloMensajes &modelo = m_ventana->mensajes().modelo();
    QCOMPARE(modelo.rowCount(), 4);
    const QStringList para { "falla1", "BIEN", "falla2" };
    const QStringList resultado { "Error", "Enviado", "Error" };
    const QList<int> estado { 3, 2, 3 };
    for (int k = 0; k < 3; ++k) {
        const auto &fila = modelo.fila(k + 1);
        QCOMPARE(fila.Para, para.at(k));
        QCOMPARE(fila.Mensaje, QStringLiteral("Hola a todos"));
        QCOMPARE(fila.Resultado, resultado.at(k));
        QCOMPARE(int(fila.Estado), estado.at(k));
        QCOMPARE(fila.Hora, QStringLiteral("10:00:0%1").arg(k));
        QCOMPARE(modelo.data(modelo.index(k + 1, 0), Qt::UserRole).toInt(), estado.at(k));
        QVERIFY(!modelo.data(modelo.index(k + 1, 0), Qt::DecorationRole).isValid());
    }
    QCOMPARE(netCalls(m_prog).value(1).value(1), QStringLiteral("/domain:BIEN"));
    QCOMPARE(m_rt->m_boxes.size(), 0);
}

void tst_Despacho::recorridoLeeMensajeYLineaDeNuevo()
{
    m_ventana->m_destino = QStringLiteral("AA BB CC");
    m_ventana->m_mensaje = QStringLiteral("primero");
    m_rt->m_alCeder = [&](int cesion) {
        if (cesion == 3) {
            // At the run's yield after the first recipient, the user edits both fields.
            m_ventana->m_mensaje = QStringLiteral("editado");
            m_ventana->m_destino = QStringLiteral("AA ZZZZZ");
        }
    };
    Despacho(*m_rt, *m_ventana).EnviarMensajes();

    QList<QStringList> esperadas { { "send", "AA", "primero" }, { "send", "ZZZZZ", "editado" } };
    QCOMPARE(netCalls(m_prog), esperadas);
    const ModeloMensajes &modelo = m_ventana->mensajes().modelo();
    QCOMPARE(modelo.rowCount(), 2);
    QCOMPARE(modelo.fila(0).Mensaje, QStringLiteral("primero"));
    QCOMPARE(modelo.fila(1).Mensaje, QStringLiteral("editado"));
    QCOMPARE(m_ventana->m_llamadasMRU.value(0), QStringLiteral("Guardar:AA ZZZZZ"));
}

void tst_Despacho::cadaFilaGuardaLaRespuesta()
{
    m_ventana->m_destino = QStringLiteral("BIEN falla marcas vacio");
    m_ventana->m_mensaje = QStringLiteral("hola");
    Despacho(*m_rt, *m_ventana).EnviarMensajes();

    // The tooltip of each row's result, read as the tooltip shows it.
    const ModeloMensajes &modelo = m_ventana->mensajes().modelo();
    QCOMPARE(modelo.rowCount(), 4);
    QCOMPARE(modelo.columnCount(), 4);
    QStringList vistas;
    for (int fila = 0; fila < 4; ++fila) {
        const QString ayuda = modelo.data(modelo.index(fila, ModeloMensajes::ColResultado), Qt::ToolTipRole).toString();
        QTextDocument documento;
        if (Qt::mightBeRichText(ayuda))
            documento.setHtml(ayuda);
        else
            documento.setPlainText(ayuda);
        vistas << documento.toPlainText();
    }
    QCOMPARE(m_rt->m_boxes.size(), 1);
    const QString caja = m_rt->m_boxes.at(0).text;
    QCOMPARE(vistas,
        (QStringList { QStringLiteral("Mensaje enviado a BIEN."),
            QStringLiteral("Error al enviar un mensaje a falla. No se encontró el nombre."),
            QStringLiteral("<b>No</b> responde [1m"), caja }));
    // Nothing was read, so the box says what wrote nothing and what the user can try.
    QVERIFY2(caja.contains(QStringLiteral("net")) && caja.contains(QStringLiteral("no se sabe")), qPrintable(caja));
}

void tst_Despacho::recorridoSeDetieneAlTerminarElPrograma()
{
    m_ventana->m_destino = QStringLiteral("A B C");
    m_ventana->m_mensaje = QStringLiteral("x");
    m_rt->m_alCeder = [&](int cesion) {
        if (cesion == 3)
            setMode(m_prog + QStringLiteral("ejecuta.bat"), 0400);
    };
    QVERIFY_THROWS_EXCEPTION(FakeRuntime::Ended, Despacho(*m_rt, *m_ventana).EnviarMensajes());
    QCOMPARE(netCalls(m_prog).size(), 1);
    QCOMPARE(m_ventana->mensajes().filas(), 1);
    QCOMPARE(m_ventana->mensajes().modelo().fila(0).Resultado, QStringLiteral("Enviado"));
    QVERIFY(m_ventana->m_llamadasMRU.isEmpty());
    QCOMPARE(m_rt->m_boxes.size(), 1);
    QCOMPARE(m_rt->m_boxes.at(0).title, QStringLiteral("Error de escritura"));
}

void tst_Despacho::ventanaEsperaNuevaEnCadaDestino()
{
    QList<QWidget *> vistas;
    QList<QRect> marcos;
    m_rt->m_alCeder = [&](int cesion) {
        if (cesion % 3 == 1) {
            const auto esperas = ventanasEspera();
            QCOMPARE(esperas.size(), 1);
            vistas << esperas.at(0);
            marcos << esperas.at(0)->frameGeometry();
        } else if (cesion % 3 == 0) {
            QVERIFY(ventanasEspera().isEmpty());
            // The main window moves between the two recipients.
            m_ventana->m_ventana.move(300, 200);
        }
    };
    m_ventana->m_destino = QStringLiteral("A B");
    m_ventana->m_mensaje = QStringLiteral("x");
    Despacho(*m_rt, *m_ventana).EnviarMensajes();

    QCOMPARE(vistas.size(), 2);
    const QPoint centroPrincipal = m_ventana->m_ventana.frameGeometry().center();
    QVERIFY2(qAbs(marcos.at(1).center().x() - centroPrincipal.x()) <= 1, "centred horizontally, placed afresh");
    QVERIFY(qAbs(marcos.at(1).center().y() - centroPrincipal.y()) <= 1);
    QVERIFY(marcos.at(0).center() != marcos.at(1).center());
}

QTEST_MAIN(tst_Despacho)
#include "tst_Despacho.moc"
