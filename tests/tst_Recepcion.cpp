#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"

#include "app/Startup.h"
#include "mainwindow/frmPrincipal.h"
#include "receive/Buzon.h"
#include "receive/Historial.h"
#include "receive/ModeloRecibidos.h"
#include "receive/Recepcion.h"
#include "receive/frmMasRecibidos.h"
#include "receive/frmRecibido.h"
#include "receive/frmRecibidos.h"
#include "receiver/Entrega.h"
#include "receiver/Registro.h"
#include "runtime/IconoBarra.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <ctime>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
constexpr int64_t kEnero = 1767225600; // 2026-01-01 00:00:00 UTC
} // namespace

// The desktop side of receiving: the mailbox read as hostile input, each message popping
// up once per user, the history kept across runs, and the main window's part.
class tst_Recepcion : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void buzonLeeSoloRegistrosLegitimos();
    void cadaMensajeSaleUnaVezPorUsuario();
    void primerInicioSoloMuestraLoPropio();
    void encabezadoYRespuestaSegunElEquipo_data();
    void encabezadoYRespuestaSegunElEquipo();
    void buzonBorradoYCreadoDeNuevo();
    void ventanasLimitadasYEnCascada();
    void historialAcotado();
    void historialNoValidoSeApartaSinPerderNada_data();
    void historialNoValidoSeApartaSinPerderNada();
    void historialEscribeSoloLoNuevoYAguantaUnCorte();
    void rafagaSeReuneEnUnaVentanaYCerrarTodos();
    void buzonQueOtrosPuedenCambiarNoSeLee();
    void senalDeTerminarCierraElAvisoDeArranque();
    void historialQueNoSeGuardaSeDice();
    void textoConMarcasSeMuestraTalCual_data();
    void textoConMarcasSeMuestraTalCual();
    void menuRecibidosYResponderEnLaVentanaPrincipal();
    void filasQueLleganConLaListaAbiertaSeVenEnteras();
    void mensajeDelHistorialSeAbreEnteroYSeCopia();

private:
    // Delivers through the receiver's own logic, as smbd's command would.
    QString entregar(
        const QByteArray &texto, int64_t segundos = kEnero, const char *de = "ana", const char *para = "oficina1");
    std::unique_ptr<Recepcion> recepcion(const QString &datos);
    // A history file line for one message, as the history writes it.
    static QByteArray entrada(const QString &id, const QByteArray &llegada = "1767225600000");

    QTemporaryDir m_raiz;
    QString m_buzon;
    QString m_datos;
    FakeRuntime m_rt;
    IconoBarra m_icono;
    int m_serie = 0;
};

void tst_Recepcion::initTestCase()
{
    QVERIFY(m_raiz.isValid());
    QVERIFY(prepareEnvironment(m_raiz.path()));
    qputenv("TZ", "UTC");
    ::tzset();
}

void tst_Recepcion::init()
{
    ++m_serie;
    m_buzon = m_raiz.filePath(QStringLiteral("buzon%1").arg(m_serie));
    m_datos = m_raiz.filePath(QStringLiteral("datos%1/velrisa").arg(m_serie));
    QVERIFY(QDir().mkpath(m_buzon));
    m_rt.m_boxes.clear();
}

void tst_Recepcion::cleanup()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<frmRecibido *>(w))
            delete w;
    }
}

QString tst_Recepcion::entregar(const QByteArray &texto, int64_t segundos, const char *de, const char *para)
{
    Entrega::Peticion p;
    p.buzon = m_buzon.toStdString();
    p.de = de;
    p.para = para;
    p.archivo = m_raiz.filePath(QStringLiteral("msg")).toStdString();
    if (!writeFile(QString::fromStdString(p.archivo), texto))
        return {};
    static int32_t ns = 0;
    const Entrega::Resultado r = Entrega::entregar(p, segundos, ++ns, 42);
    return QString::fromStdString(r.registro);
}

std::unique_ptr<Recepcion> tst_Recepcion::recepcion(const QString &datos)
{
    // A user who has started Velrisa before: what the computer received since pops up.
    if (!QFile::exists(datos + QStringLiteral("/recibidos.json"))
        && !QFile::exists(datos + QStringLiteral("/recibidos.diario"))) {
        QDir().mkpath(QFileInfo(datos).absolutePath());
        ::mkdir(QFile::encodeName(datos).constData(), 0700);
        writeFile(datos + QStringLiteral("/recibidos.json"), R"({"formato":1,"mensajes":[],"mostrados":[]})");
    }
    auto r = std::make_unique<Recepcion>(m_rt, m_icono, m_buzon, datos);
    r->iniciar();
    return r;
}

void tst_Recepcion::buzonLeeSoloRegistrosLegitimos()
{
    if (::geteuid() != 0)
        QSKIP("needs root: the forged record is given to another user");
    const QString bueno = entregar("hola");
    const QString copia = m_raiz.filePath(QStringLiteral("copia"));
    QVERIFY(QFile::copy(m_buzon + QLatin1Char('/') + bueno, copia));
    const auto nombre = [this](int n) {
        return m_buzon + QLatin1Char('/') + QString::fromStdString(Registro::nombreArchivo(kEnero, n, 7));
    };
    // Named like records: a link to a good one, a fifo, a huge file, somebody else's good
    // record (a forgery), a broken one; and a good record under a temporary's name.
    QVERIFY(QFile::link(copia, nombre(1)));
    QCOMPARE(::mkfifo(QFile::encodeName(nombre(2)).constData(), 0644), 0);
    QVERIFY(writeFile(nombre(3), QByteArray(Registro::kMaxBytesRegistro + 1, 'x')));
    QVERIFY(QFile::copy(copia, nombre(4)));
    QCOMPARE(::chown(QFile::encodeName(nombre(4)).constData(), 65534, 65534), 0);
    QVERIFY(writeFile(nombre(5), readFile(copia).replace("Longitud: 4", "Longitud: 9")));
    QVERIFY(QFile::copy(copia, m_buzon + QStringLiteral("/.") + bueno));

    Buzon buzon(m_buzon);
    QSignalSpy nuevos(&buzon, &Buzon::nuevos);
    buzon.vigilar();
    QCOMPARE(nuevos.size(), 1);
    const auto leidos = nuevos.at(0).at(0).value<QList<Buzon::Mensaje>>();
    QCOMPARE(leidos.size(), 1);
    QCOMPARE(leidos.at(0).id, bueno);
    QCOMPARE(leidos.at(0).de, QStringLiteral("ana"));
    QCOMPARE(leidos.at(0).texto, QStringLiteral("hola"));
    QCOMPARE(leidos.at(0).llegada.toSecsSinceEpoch(), kEnero);
    QVERIFY(buzon.lecturaCompleta());
    QCOMPARE(buzon.presentes().size(), 6);
    // Nothing is read twice in a run.
    buzon.leer();
    QCOMPARE(nuevos.size(), 1);
}

void tst_Recepcion::cadaMensajeSaleUnaVezPorUsuario()
{
    // Arrived while no Velrisa ran: shown at the start.
    entregar("antes");
    auto r = recepcion(m_datos);
    QCOMPARE(r->abiertas().size(), 1);
    // Arrives now: the mailbox's notification brings it up.
    entregar("Hola, ¿qué tal?\nAño 2026", kEnero + 3661);
    QTRY_COMPARE_WITH_TIMEOUT(r->abiertas().size(), 2, 1000);
    frmRecibido *w = r->abiertas().at(1);
    QCOMPARE(w->windowTitle(), QStringLiteral("Mensaje recibido"));
    QCOMPARE(child<QLabel>(w, QStringLiteral("lblEncabezado"))->text(),
        QStringLiteral("Mensaje de ana a oficina1 el 01/01/2026 a las 01:01:01"));
    auto *texto = child<QPlainTextEdit>(w, QStringLiteral("txtMensaje"));
    QCOMPARE(texto->toPlainText(), QStringLiteral("Hola, ¿qué tal?\nAño 2026"));
    QVERIFY(texto->isReadOnly());
    QVERIFY(child<QPushButton>(w, QStringLiteral("cmdAceptar"))->isDefault());
    QVERIFY(w->testAttribute(Qt::WA_ShowWithoutActivating));
    child<QPushButton>(w, QStringLiteral("cmdAceptar"))->click();
    QTRY_COMPARE(r->abiertas().size(), 1);

    // The user's folder is private; the history holds both.
    QFileInfo carpeta(m_datos);
    QCOMPARE(carpeta.permissions() & 0x0077, QFileDevice::Permissions());
    QCOMPARE(r->historial().modelo().rowCount(), 2);
    r.reset();

    // The next run of the same user: nothing pops up again; the history is back.
    r = recepcion(m_datos);
    QCOMPARE(r->abiertas().size(), 0);
    QCOMPARE(r->historial().modelo().rowCount(), 2);
    QCOMPARE(r->historial().modelo().filas().at(1).texto, QStringLiteral("Hola, ¿qué tal?\nAño 2026"));
    r.reset();
    // Another user of the computer who had started before sees both once.
    r = recepcion(m_raiz.filePath(QStringLiteral("otro/velrisa")));
    QCOMPARE(r->abiertas().size(), 2);
}

// A person's first start shows what was sent to that person, never what the computer got
// for others before; from then on the computer's messages pop up for this person too, and
// the record tells who sent it from where.
void tst_Recepcion::primerInicioSoloMuestraLoPropio()
{
    entregar("para el equipo, de antes");
    const QString yo = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
    const QString lista = m_raiz.filePath(QStringLiteral("usuarios%1").arg(m_serie));
    QVERIFY(writeFile(lista, "mi-alias " + yo.toLocal8Bit() + '\n'));
    QVERIFY(QDir().mkpath(m_buzon + QLatin1Char('/') + yo));
    QCOMPARE(::chmod(QFile::encodeName(m_buzon + QLatin1Char('/') + yo).constData(), 02770), 0);
    Entrega::Peticion p;
    p.buzon = m_buzon.toStdString();
    p.de = "ana";
    p.para = "mi-alias";
    p.equipo = "pc-ana";
    p.direccion = "10.0.0.9";
    p.usuarios = lista.toStdString();
    p.archivo = m_raiz.filePath(QStringLiteral("msg")).toStdString();
    QVERIFY(writeFile(QString::fromStdString(p.archivo), "solo para mí"));
    Entrega::Limites limites;
    limites.duenioUsuarios = ::geteuid();
    const Entrega::Resultado privado = Entrega::entregar(p, kEnero + 1, 1, 42, limites);
    QVERIFY2(privado.entregado, privado.error.c_str());

    auto r = std::make_unique<Recepcion>(m_rt, m_icono, m_buzon, m_datos);
    r->iniciar();
    QCOMPARE(r->abiertas().size(), 1);
    frmRecibido *w = r->abiertas().at(0);
    QCOMPARE(child<QPlainTextEdit>(w, QStringLiteral("txtMensaje"))->toPlainText(), QStringLiteral("solo para mí"));
    QCOMPARE(child<QLabel>(w, QStringLiteral("lblEncabezado"))->text(),
        QStringLiteral("Mensaje de ana (pc-ana) a mi-alias el 01/01/2026 a las 00:00:01"));
    QCOMPARE(r->historial().modelo().rowCount(), 1);
    const QModelIndex equipo = r->historial().modelo().index(0, ModeloRecibidos::ColEquipo);
    QCOMPARE(equipo.data().toString(), QStringLiteral("pc-ana"));
    QCOMPARE(equipo.data(Qt::ToolTipRole).toString(), QStringLiteral("10.0.0.9"));
    QSignalSpy responder(r.get(), &Recepcion::responder);
    child<QPushButton>(w, QStringLiteral("cmdResponder"))->click();
    QCOMPARE(responder.size(), 1);
    QCOMPARE(responder.at(0).at(0).toString(), QStringLiteral("ana"));

    entregar("para el equipo, de después", kEnero + 2);
    QTRY_COMPARE_WITH_TIMEOUT(r->historial().modelo().rowCount(), 2, 1000);
    r.reset();
    // The next start is not a first one: nothing comes back, nothing old shows up.
    r = std::make_unique<Recepcion>(m_rt, m_icono, m_buzon, m_datos);
    r->iniciar();
    QCOMPARE(r->abiertas().size(), 0);
    QCOMPARE(r->historial().modelo().rowCount(), 2);
    QCOMPARE(r->historial().modelo().filas().at(0).texto, QStringLiteral("solo para mí"));
}

void tst_Recepcion::encabezadoYRespuestaSegunElEquipo_data()
{
    QTest::addColumn<QString>("de");
    QTest::addColumn<QString>("equipo");
    QTest::addColumn<QString>("encabezado");
    QTest::addColumn<QString>("respuesta");
    QTest::newRow("registro antiguo") << "ana"
                                      << ""
                                      << "Mensaje de ana a of"
                                      << "ana";
    QTest::newRow("mismo nombre") << "PC1"
                                  << "pc1"
                                  << "Mensaje de PC1 a of"
                                  << "PC1";
    QTest::newRow("usuario de un equipo") << "ana"
                                          << "pc1"
                                          << "Mensaje de ana (pc1) a of"
                                          << "ana";
    QTest::newRow("nombre que no es NetBIOS") << "Ana María"
                                              << "pc1"
                                              << "Mensaje de Ana María (pc1) a of"
                                              << "pc1";
    QTest::newRow("nombre de 16") << "abcdefghijklmnop"
                                  << "pc1"
                                  << "Mensaje de abcdefghijklmnop (pc1) a of"
                                  << "pc1";
}

void tst_Recepcion::encabezadoYRespuestaSegunElEquipo()
{
    QFETCH(QString, de);
    QFETCH(QString, equipo);
    QFETCH(QString, encabezado);
    QFETCH(QString, respuesta);
    Buzon::Mensaje m;
    m.de = de;
    m.para = QStringLiteral("of");
    m.equipo = equipo;
    m.llegada = QDateTime::fromSecsSinceEpoch(kEnero, Qt::UTC);
    QCOMPARE(frmRecibido::encabezado(m), encabezado + QStringLiteral(" el 01/01/2026 a las 00:00:00"));
    QCOMPARE(frmRecibido::destinoRespuesta(m), respuesta);
}

void tst_Recepcion::buzonBorradoYCreadoDeNuevo()
{
    auto r = recepcion(m_datos);
    QSignalSpy cambios(r.get(), &Recepcion::buzonCambiado);
    QVERIFY(QDir(m_buzon).removeRecursively());
    QTRY_COMPARE(cambios.size(), 1);
    QVERIFY(!r->buzonExiste());
    QVERIFY(QDir().mkpath(m_buzon));
    QTRY_COMPARE(cambios.size(), 2);
    QVERIFY(r->buzonExiste());
    entregar("de nuevo");
    QTRY_COMPARE_WITH_TIMEOUT(r->abiertas().size(), 1, 1000);
}

void tst_Recepcion::ventanasLimitadasYEnCascada()
{
    for (int i = 0; i < Recepcion::kMaxAbiertas + 2; ++i)
        entregar(QByteArray::number(i), kEnero + i);
    auto r = recepcion(m_datos);
    QCOMPARE(r->abiertas().size(), Recepcion::kMaxAbiertas);
    QCOMPARE(r->historial().modelo().rowCount(), Recepcion::kMaxAbiertas + 2);
    QSet<QPoint> lugares;
    for (const frmRecibido *w : r->abiertas())
        lugares.insert(w->pos());
    QCOMPARE(lugares.size(), Recepcion::kMaxAbiertas);
    // Closing one lets the next waiting one up, in its place.
    QPointer<frmRecibido> cerrada = r->abiertas().at(3);
    const QPoint libre = cerrada->pos();
    cerrada->close();
    QTRY_VERIFY(cerrada.isNull());
    QCOMPARE(r->abiertas().size(), Recepcion::kMaxAbiertas);
    QCOMPARE(r->abiertas().last()->pos(), libre);
    QCOMPARE(
        child<QPlainTextEdit>(r->abiertas().last(), QStringLiteral("txtMensaje"))->toPlainText(), QStringLiteral("10"));
    r.reset();
    // The last one never popped up: it does at the next start, alone.
    r = recepcion(m_datos);
    QCOMPARE(r->abiertas().size(), 1);
}

void tst_Recepcion::historialAcotado()
{
    // A data folder that others may look into.
    QVERIFY(QDir().mkpath(m_datos));
    QVERIFY(QFile::setPermissions(m_datos, QFileDevice::Permissions(0x7755)));
    Historial h(m_datos);
    for (int i = 0; i < Historial::kMaxMensajes + 5; ++i) {
        const QString id = QString::fromStdString(Registro::nombreArchivo(kEnero + i, 0, 1));
        QVERIFY(h.agregar({ id, QStringLiteral("ana"), QStringLiteral("of"),
            QDateTime::fromSecsSinceEpoch(kEnero + i, Qt::UTC), false, QStringLiteral("texto %1").arg(i) }));
    }
    QCOMPARE(h.modelo().rowCount(), Historial::kMaxMensajes);
    QCOMPARE(h.modelo().filas().first().texto, QStringLiteral("texto 5"));
    h.marcarMostrado(h.modelo().filas().last().id);
    QVERIFY2(h.guardar(), qPrintable(h.error()));
    QCOMPARE(QFileInfo(h.ruta()).permissions() & 0x0077, QFileDevice::Permissions());

    Historial leido(m_datos);
    QVERIFY(leido.cargar());
    QCOMPARE(leido.modelo().rowCount(), Historial::kMaxMensajes);
    QCOMPARE(leido.modelo().filas().last().texto, QStringLiteral("texto 1004"));
    QCOMPARE(leido.modelo().filas().last().llegada, h.modelo().filas().last().llegada);
    QVERIFY(leido.mostrado(h.modelo().filas().last().id));
}

QByteArray tst_Recepcion::entrada(const QString &id, const QByteArray &llegada)
{
    return R"({"id":")" + id.toLatin1() + R"(","de":"ana","para":"of","llegada":)" + llegada
        + R"(,"cortado":false,"texto":"hola"})";
}

// A history that is not what the program writes (does not parse, another shape, entries of the
// wrong kind or out of range, a broken journal line) is set aside whole under a name no earlier
// copy has, said, and what of it was valid is kept and written back.
void tst_Recepcion::historialNoValidoSeApartaSinPerderNada_data()
{
    const QString a = QStringLiteral("m1767225600.000000001.1");
    const QString b = QStringLiteral("m1767225601.000000001.1");
    const QByteArray buena = entrada(b, "1767225601000");
    const auto archivo = [&](const QByteArray &mensajes, const QByteArray &mostrados = "[]") {
        return R"({"formato":1,"mensajes":[)" + mensajes + R"(],"mostrados":)" + mostrados + "}";
    };
    QTest::addColumn<QString>("nombre");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("validos"); // messages kept
    QTest::newRow("no es JSON") << QStringLiteral("recibidos.json") << archivo(buena).left(40) << 0;
    QTest::newRow("otra forma") << "recibidos.json"
                                << QByteArray(R"({"formato":"uno","mensajes":{"a":1},"mostrados":"x"})") << 0;
    QTest::newRow("llegada de texto") << QStringLiteral("recibidos.json")
                                      << archivo(entrada(a, "\"1767225600000\"") + ',' + buena) << 1;
    QTest::newRow("id numérico") << QStringLiteral("recibidos.json")
                                 << archivo(buena + ',' + entrada(QString(), "1").replace(R"("id":"")", R"("id":5)"))
                                 << 1;
    QTest::newRow("llegada fuera de rango")
        << QStringLiteral("recibidos.json") << archivo(entrada(a, "1e300") + ',' + buena) << 1;
    QTest::newRow("mostrado no válido") << QStringLiteral("recibidos.json") << archivo(buena, "[7]") << 1;
    QTest::newRow("línea del diario") << QStringLiteral("recibidos.diario") << buena + "\n{\"mostrado\":3}\n" << 1;
}

void tst_Recepcion::historialNoValidoSeApartaSinPerderNada()
{
    QFETCH(QString, nombre);
    QFETCH(QByteArray, bytes);
    QFETCH(int, validos);
    const QString ruta = m_datos + QLatin1Char('/') + nombre;
    QVERIFY(writeFile(ruta, bytes));
    // Copies set aside earlier in this second and the next keep their contents.
    const QDateTime ahora = QDateTime::currentDateTime();
    QStringList anteriores;
    for (int s = 0; s < 2; ++s) {
        anteriores << ruta + QStringLiteral(".ilegible-") + ahora.addSecs(s).toString(QStringLiteral("yyyyMMddHHmmss"));
        QVERIFY(writeFile(anteriores.last(), "anterior"));
    }

    auto r = recepcion(m_datos);
    QCOMPARE(m_rt.m_boxes.size(), 1);
    QVERIFY2(
        m_rt.m_boxes.at(0).text.startsWith(QStringLiteral("No se puede leer la lista de mensajes recibidos: ") + ruta),
        qPrintable(m_rt.m_boxes.at(0).text));
    QVERIFY(m_rt.m_boxes.at(0).text.contains(QStringLiteral("se ha guardado aparte como")));
    for (const QString &anterior : std::as_const(anteriores))
        QCOMPARE(readFile(anterior), QByteArray("anterior"));
    const QStringList aparte
        = QDir(m_datos).entryList({ nombre + QStringLiteral(".ilegible-*") }, QDir::Files, QDir::Name);
    QCOMPARE(aparte.size(), 3);
    QStringList copias;
    for (const QString &f : aparte) {
        if (readFile(m_datos + QLatin1Char('/') + f) == bytes)
            copias << f;
    }
    QCOMPARE(copias.size(), 1);
    QVERIFY(m_rt.m_boxes.at(0).text.endsWith(m_datos + QLatin1Char('/') + copias.first()));
    QCOMPARE(r->historial().modelo().rowCount(), validos);

    // What was valid is written back, and read back as it was.
    QTRY_VERIFY(!r->historial().pendiente());
    r.reset();
    m_rt.m_boxes.clear();
    Historial leido(m_datos);
    QVERIFY2(leido.cargar(), qPrintable(leido.error()));
    QCOMPARE(leido.modelo().rowCount(), validos);
    if (validos)
        QCOMPARE(leido.modelo().filas().first().llegada.toSecsSinceEpoch(), kEnero + 1);
}

// A new message or pop-up costs its own line on the disk, not the whole history; a program
// stopped halfway through a line loses nothing of what was written before it, and a pop-up
// whose message the disk does not hold is not taken for shown.
void tst_Recepcion::historialEscribeSoloLoNuevoYAguantaUnCorte()
{
    const QString largo(1600, QLatin1Char('x'));
    const auto mensaje = [&](int i) {
        return Buzon::Mensaje { QString::fromStdString(Registro::nombreArchivo(kEnero + i, 0, 1)),
            QStringLiteral("ana"), QStringLiteral("of"), QDateTime::fromSecsSinceEpoch(kEnero + i, Qt::UTC), false,
            largo };
    };
    Historial h(m_datos);
    QVERIFY(h.cargar());
    for (int i = 0; i < Historial::kMaxMensajes; ++i)
        h.agregar(mensaje(i));
    QVERIFY2(h.guardar(), qPrintable(h.error()));
    const QByteArray lleno = readFile(h.ruta());
    QVERIFY(lleno.size() > Historial::kMaxMensajes * 1600);

    Historial siguiente(m_datos);
    QVERIFY(siguiente.cargar());
    for (int i = Historial::kMaxMensajes; i < Historial::kMaxMensajes + 20; ++i) {
        QVERIFY(siguiente.agregar(mensaje(i)));
        siguiente.marcarMostrado(mensaje(i).id);
        QVERIFY2(siguiente.guardar(), qPrintable(siguiente.error()));
    }
    QCOMPARE(readFile(h.ruta()), lleno);
    const qint64 diario = QFileInfo(h.rutaDiario()).size();
    QVERIFY2(diario > 20 * 1600 && diario < 20 * 2000, qPrintable(QString::number(diario)));
    QCOMPARE(QFileInfo(h.rutaDiario()).permissions() & 0x0077, QFileDevice::Permissions());

    // Stopped while writing: a pop-up whose message did not reach the disk, then half a line.
    const QString perdido = mensaje(5000).id;
    QFile f(h.rutaDiario());
    QVERIFY(f.open(QIODevice::Append));
    f.write("{\"mostrado\":\"" + perdido.toLatin1() + "\"}\n" + entrada(mensaje(5001).id).left(30));
    f.close();
    Historial tras(m_datos);
    QVERIFY2(tras.cargar(), qPrintable(tras.error()));
    QCOMPARE(tras.modelo().rowCount(), Historial::kMaxMensajes);
    QCOMPARE(tras.modelo().filas().last().id, mensaje(Historial::kMaxMensajes + 19).id);
    QVERIFY(tras.mostrado(mensaje(Historial::kMaxMensajes + 19).id));
    QVERIFY(!tras.mostrado(perdido));
    // The next write folds the journal, half line and all, into the file.
    QVERIFY(tras.pendiente());
    QVERIFY(tras.guardar());
    QVERIFY(!QFileInfo::exists(h.rutaDiario()));
    Historial ultimo(m_datos);
    QVERIFY(ultimo.cargar());
    QCOMPARE(ultimo.modelo().rowCount(), Historial::kMaxMensajes);
    QCOMPARE(ultimo.modelo().filas().last().id, tras.modelo().filas().last().id);
    QVERIFY(ultimo.mostrado(tras.modelo().filas().last().id));
}

// A flood: a bounded number of pop-ups and of messages waiting for one; the rest only counted in
// one window that opens the list, where every one of them is. "Cerrar todos" closes every pop-up.
void tst_Recepcion::rafagaSeReuneEnUnaVentanaYCerrarTodos()
{
    constexpr int kTotal = 200;
    for (int i = 0; i < kTotal; ++i)
        entregar(QByteArray::number(i), kEnero + i);
    auto r = recepcion(m_datos);
    QCOMPARE(r->abiertas().size(), Recepcion::kMaxAbiertas);
    QCOMPARE(r->esperando(), Recepcion::kMaxEsperando);
    frmMasRecibidos *mas = r->masRecibidos();
    QVERIFY(mas && mas->isVisible());
    const int reunidos = kTotal - Recepcion::kMaxAbiertas - Recepcion::kMaxEsperando;
    QCOMPARE(mas->cuenta(), reunidos);
    QCOMPARE(mas->windowTitle(), QStringLiteral("Más mensajes recibidos"));
    QVERIFY(child<QLabel>(mas, QStringLiteral("lblCuenta"))
                ->text()
                .startsWith(QStringLiteral("Han llegado 140 mensajes más")));
    QCOMPARE(r->historial().modelo().rowCount(), kTotal);
    // While it is open, what arrives joins it.
    entregar("otro", kEnero + kTotal);
    QTRY_COMPARE(mas->cuenta(), reunidos + 1);
    QCOMPARE(r->historial().modelo().rowCount(), kTotal + 1);

    auto *cerrar = child<QPushButton>(r->abiertas().first(), QStringLiteral("cmdCerrarTodos"));
    QVERIFY(cerrar->isVisible());
    QCOMPARE(cerrar->text(), QStringLiteral("Cerrar &todos"));
    cerrar->click();
    QTRY_COMPARE(r->abiertas().size(), 0);
    QCOMPARE(r->esperando(), 0);
    QCOMPARE(r->masRecibidos(), mas);
    QCOMPARE(mas->cuenta(), reunidos + 1 + Recepcion::kMaxEsperando);

    child<QPushButton>(mas, QStringLiteral("cmdVerRecibidos"))->click();
    QTRY_VERIFY(!r->masRecibidos());
    QVERIFY(r->ventanaRecibidos() && r->ventanaRecibidos()->isVisible());
    QTRY_VERIFY(!r->historial().pendiente());
    r.reset();

    // All were told: nothing pops up again, and the history holds each one once.
    r = recepcion(m_datos);
    QCOMPARE(r->abiertas().size(), 0);
    QVERIFY(!r->masRecibidos());
    QCOMPARE(r->historial().modelo().rowCount(), kTotal + 1);
    // One pop-up alone offers no "Cerrar todos".
    entregar("solo", kEnero + kTotal + 1);
    QTRY_COMPARE(r->abiertas().size(), 1);
    QVERIFY(!child<QPushButton>(r->abiertas().first(), QStringLiteral("cmdCerrarTodos"))->isVisible());
}

// Records are trusted for their owner: a mailbox that another user could put in place is not read.
void tst_Recepcion::buzonQueOtrosPuedenCambiarNoSeLee()
{
    // Its folder open to everybody, who could delete it and make their own.
    const QString abierta = m_raiz.filePath(QStringLiteral("abierta%1").arg(m_serie));
    m_buzon = abierta + QStringLiteral("/buzon");
    QVERIFY(QDir().mkpath(m_buzon));
    QVERIFY(!entregar("en carpeta abierta").isEmpty());
    QVERIFY(setMode(abierta, 0777));
    auto r = recepcion(m_datos);
    QCOMPARE(r->abiertas().size(), 0);
    QCOMPARE(r->historial().modelo().rowCount(), 0);
    r.reset();

    // Deleted and made again by another user, who plants a record of their own.
    if (::geteuid() != 0)
        QSKIP("needs root for the rest: the mailbox made again is given to another user");
    QVERIFY(setMode(abierta, 0755));
    r = recepcion(m_datos);
    QCOMPARE(r->abiertas().size(), 1);
    QVERIFY(QDir(m_buzon).removeRecursively());
    QVERIFY(QDir().mkpath(m_buzon));
    QCOMPARE(::chown(QFile::encodeName(m_buzon).constData(), 65534, 65534), 0);
    const QString plantado = entregar("Mensaje de administrador: cambie su clave en ...", kEnero + 5, "admin");
    QCOMPARE(::chown(QFile::encodeName(m_buzon + QLatin1Char('/') + plantado).constData(), 65534, 65534), 0);
    QTest::qWait(300);
    QCOMPARE(r->abiertas().size(), 1);
    QCOMPARE(r->historial().modelo().rowCount(), 1);
}

// A termination signal ends the program even while a start-up box waits for an answer.
void tst_Recepcion::senalDeTerminarCierraElAvisoDeArranque()
{
    const QString datos = m_raiz.filePath(QStringLiteral("senal"));
    QVERIFY(writeFile(datos + QStringLiteral("/velrisa/recibidos.json"), "{roto"));
    QProcess velrisa;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), datos);
    env.insert(QStringLiteral("VELRISA_BUZON"), m_buzon);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    velrisa.setProcessEnvironment(env);
    velrisa.start(QStringLiteral(VELRISA_BINARY), { QStringLiteral("-min") });
    QVERIFY(velrisa.waitForStarted());
    // Set aside just before the box says so.
    QTRY_COMPARE_WITH_TIMEOUT(
        QDir(datos + QStringLiteral("/velrisa")).entryList({ QStringLiteral("recibidos.json.ilegible-*") }).size(), 1,
        10000);
    QTest::qWait(300);
    QCOMPARE(velrisa.state(), QProcess::Running);
    velrisa.terminate();
    const bool termino = velrisa.waitForFinished(5000);
    if (!termino)
        velrisa.kill();
    QVERIFY(termino);
    QCOMPARE(velrisa.exitStatus(), QProcess::NormalExit);
    QCOMPARE(velrisa.exitCode(), 0);
}

void tst_Recepcion::historialQueNoSeGuardaSeDice()
{
    // Folders put in the places of the file and its journal once they were read: said once,
    // not repeated.
    auto r = recepcion(m_datos);
    QFile::remove(m_datos + QStringLiteral("/recibidos.json"));
    QVERIFY(QDir().mkpath(m_datos + QStringLiteral("/recibidos.json")));
    QVERIFY(QDir().mkpath(m_datos + QStringLiteral("/recibidos.diario")));
    entregar("uno");
    QTRY_COMPARE(r->abiertas().size(), 1);
    QTRY_COMPARE(m_rt.m_boxes.size(), 1);
    entregar("dos", kEnero + 1);
    QTRY_COMPARE(r->abiertas().size(), 2);
    QTest::qWait(3 * Recepcion::kDemoraGuardadoMs);
    QCOMPARE(m_rt.m_boxes.size(), 1);
    QVERIFY(m_rt.m_boxes.at(0).text.contains(m_datos + QStringLiteral("/recibidos.")));
    QCOMPARE(m_rt.m_boxes.at(0).icon, Runtime::Icon::Critical);
}

// What comes from the network (the sender's name, the called name, the text) is shown as
// written, in the pop-up and in every tooltip of the history, never taken for markup.
void tst_Recepcion::textoConMarcasSeMuestraTalCual_data()
{
    QTest::addColumn<int>("columna");
    QTest::addColumn<QStringList>("mensaje"); // sender, called name, text
    QTest::addColumn<int>("campo"); // which of them the column shows
    const QString nombre = QStringLiteral("<i>ana</i> &amp; co");
    QTest::newRow("De") << int(ModeloRecibidos::ColDe) << QStringList { nombre, "oficina1", "hola" } << 0;
    QTest::newRow("Para") << int(ModeloRecibidos::ColPara) << QStringList { "ana", nombre, "hola" } << 1;
    QTest::newRow("Mensaje") << int(ModeloRecibidos::ColMensaje)
                             << QStringList { "ana", "oficina1", "<b>urgente</b> & <img src=\"x\">\nfin" } << 2;
}

void tst_Recepcion::textoConMarcasSeMuestraTalCual()
{
    QFETCH(int, columna);
    QFETCH(QStringList, mensaje);
    QFETCH(int, campo);
    entregar(mensaje.at(2).toUtf8(), kEnero, mensaje.at(0).toUtf8().constData(), mensaje.at(1).toUtf8().constData());
    auto r = recepcion(m_datos);
    QCOMPARE(r->abiertas().size(), 1);
    QCOMPARE(child<QPlainTextEdit>(r->abiertas().at(0), QStringLiteral("txtMensaje"))->toPlainText(), mensaje.at(2));
    const QString ayuda = r->historial().modelo().index(0, columna).data(Qt::ToolTipRole).toString();
    QString mostrado = ayuda;
    if (Qt::mightBeRichText(ayuda)) {
        QTextDocument documento;
        documento.setHtml(ayuda);
        mostrado = documento.toPlainText();
    }
    QCOMPARE(mostrado, mensaje.at(campo));
}

void tst_Recepcion::menuRecibidosYResponderEnLaVentanaPrincipal()
{
    // prepareEnvironment's mailbox, not there yet.
    m_buzon = Buzon::rutaPredeterminada();
    QVERIFY(!QFileInfo::exists(m_buzon));
    FakeRuntime rt;
    rt.m_appPath = m_raiz.path();
    Startup arranque(rt);
    arranque.start();
    frmPrincipal &ventana = arranque.mainWindow();
    const auto items = [&ventana] {
        QStringList nombres;
        for (const QAction *a : ventana.mnuApp().actions())
            nombres << a->objectName();
        return nombres;
    };
    const QStringList especificado { "mnuEnviar", "mnuEnviados", "munS1", "mnuAcerca", "mnuSP2", "mnuSalir" };
    QCOMPARE(items(), especificado);

    QVERIFY(QDir().mkpath(m_buzon));
    QStringList conRecibidos = especificado;
    conRecibidos.insert(2, QStringLiteral("mnuRecibidos"));
    QTRY_COMPARE(items(), conRecibidos);
    QAction *recibidos = ventana.mnuApp().actions().at(2);
    QCOMPARE(recibidos->text(), QStringLiteral("Mostrar mensajes &recibidos"));

    ventana.hide();
    entregar("¿comemos?", kEnero, "pepe");
    QTRY_COMPARE_WITH_TIMEOUT(ventana.recepcion()->abiertas().size(), 1, 1000);
    child<QPushButton>(ventana.recepcion()->abiertas().first(), QStringLiteral("cmdResponder"))->click();
    QTRY_COMPARE(ventana.recepcion()->abiertas().size(), 0);
    QVERIFY(ventana.isVisible());
    QCOMPARE(child<QComboBox>(&ventana, QStringLiteral("txtDestino"))->currentText(), QStringLiteral("pepe"));
    QVERIFY(child<QRadioButton>(&ventana, QStringLiteral("optGrupo(0)"))->isChecked());
    auto *mensaje = child<QLineEdit>(&ventana, QStringLiteral("txtMensaje"));
    QVERIFY(mensaje->text().isEmpty());
    QTRY_COMPARE(QApplication::focusWidget(), mensaje);
    // What the user wrote stays through the next "&Responder"; only the recipients change.
    QTest::keyClicks(mensaje, QStringLiteral("Vale, a las dos"));
    ventana.hide();
    entregar("¿y mañana?", kEnero + 1, "rosa");
    QTRY_COMPARE_WITH_TIMEOUT(ventana.recepcion()->abiertas().size(), 1, 1000);
    child<QPushButton>(ventana.recepcion()->abiertas().first(), QStringLiteral("cmdResponder"))->click();
    QTRY_COMPARE(ventana.recepcion()->abiertas().size(), 0);
    QVERIFY(ventana.isVisible());
    QCOMPARE(child<QComboBox>(&ventana, QStringLiteral("txtDestino"))->currentText(), QStringLiteral("rosa"));
    QCOMPARE(mensaje->text(), QStringLiteral("Vale, a las dos"));
    QTRY_COMPARE(QApplication::focusWidget(), mensaje);

    recibidos->trigger();
    frmRecibidos *lista = ventana.recepcion()->ventanaRecibidos();
    QVERIFY(lista && lista->isVisible());
    QCOMPARE(lista->windowTitle(), QStringLiteral("Mensajes recibidos"));
    const QAbstractItemModel *modelo = child<QTableView>(lista, QStringLiteral("ListView1"))->model();
    QStringList fila;
    for (int c = 0; c < modelo->columnCount(); ++c)
        fila << modelo->headerData(c, Qt::Horizontal).toString() + QLatin1Char('=')
                + modelo->index(0, c).data().toString();
    QCOMPARE(
        fila, QStringList({ "De=pepe", "Equipo=", "Para=oficina1", "Mensaje=¿comemos?", "Fecha=01/01/2026 00:00:00" }));

    QVERIFY(QDir(m_buzon).removeRecursively());
    QTRY_COMPARE(items(), especificado);
}

// What the list shows on the screen after messages arrive while it is open is what it would
// draw afresh: no row half drawn, however the list scrolled to show the newest.
void tst_Recepcion::filasQueLleganConLaListaAbiertaSeVenEnteras()
{
    auto r = recepcion(m_datos);
    r->mostrarRecibidos();
    frmRecibidos *ventana = r->ventanaRecibidos();
    QVERIFY(QTest::qWaitForWindowExposed(ventana));
    auto *lista = child<QTableView>(ventana, QStringLiteral("ListView1"));
    QWidget *hoja = lista->viewport();
    const auto enPantalla = [ventana, hoja] {
        const QRect zona(hoja->mapTo(ventana, QPoint()), hoja->size());
        return ventana->screen()
            ->grabWindow(ventana->winId(), zona.x(), zona.y(), zona.width(), zona.height())
            .toImage();
    };
    const auto dibujada = [hoja] { return hoja->grab().toImage().convertToFormat(QImage::Format_RGB32); };
    // More than the list has room for, so that the newest ones are scrolled into view.
    for (int i = 0; i < 16; ++i) {
        entregar(QByteArray("mensaje ") + QByteArray::number(i), kEnero + i);
        QTRY_COMPARE_WITH_TIMEOUT(r->historial().modelo().rowCount(), i + 1, 1000);
        QTRY_COMPARE(enPantalla().convertToFormat(QImage::Format_RGB32), dibujada());
    }
    QVERIFY(lista->verticalScrollBar()->value() > 0);
}

// The history is a place to read: Enter or a double click opens a message whole, with
// "&Responder"; Ctrl+C copies the chosen messages whole, as a person reads them.
void tst_Recepcion::mensajeDelHistorialSeAbreEnteroYSeCopia()
{
    const QString largo = QStringLiteral("Primera línea de un mensaje largo, más de lo que cabe en la lista,\n"
                                         "segunda línea\n\ny la última tras una en blanco");
    entregar(largo.toUtf8(), kEnero, "ana", "oficina1");
    entregar("¿comemos?", kEnero + 3661, "pepe", "oficina2");
    auto r = recepcion(m_datos);
    QSignalSpy respuestas(r.get(), &Recepcion::responder);
    // Only the history's own windows from here on.
    cleanup();
    r->mostrarRecibidos();
    frmRecibidos *ventana = r->ventanaRecibidos();
    QVERIFY(activate(ventana));
    auto *lista = child<QTableView>(ventana, QStringLiteral("ListView1"));
    const auto abiertas = [ventana] { return ventana->findChildren<frmRecibido *>(); };

    // Enter on the first row opens it, in front and with the keyboard; again, the same one comes forward.
    lista->setFocus();
    lista->setCurrentIndex(lista->model()->index(0, 0));
    QTest::keyClick(lista, Qt::Key_Return);
    QCOMPARE(abiertas().size(), 1);
    frmRecibido *primero = abiertas().at(0);
    QVERIFY(ventana->isVisible());
    QCOMPARE(child<QPlainTextEdit>(primero, QStringLiteral("txtMensaje"))->toPlainText(), largo);
    QCOMPARE(child<QLabel>(primero, QStringLiteral("lblEncabezado"))->text(),
        QStringLiteral("Mensaje de ana a oficina1 el 01/01/2026 a las 00:00:00"));
    QTRY_VERIFY(primero->isActiveWindow());
    ventana->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(ventana));
    lista->setFocus();
    QTest::keyClick(lista, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(abiertas().size(), 1);
    QTRY_VERIFY(primero->isActiveWindow());

    // A double click on the second; its "&Responder" answers its sender.
    ventana->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(ventana));
    const QPoint segunda = lista->visualRect(lista->model()->index(1, ModeloRecibidos::ColMensaje)).center();
    // As the window system gives it: a click, then the second press as a double click.
    QTest::mouseClick(lista->viewport(), Qt::LeftButton, {}, segunda);
    QTest::mouseDClick(lista->viewport(), Qt::LeftButton, {}, segunda);
    QTRY_COMPARE(abiertas().size(), 2);
    frmRecibido *segundo = abiertas().at(0) == primero ? abiertas().at(1) : abiertas().at(0);
    QCOMPARE(child<QPlainTextEdit>(segundo, QStringLiteral("txtMensaje"))->toPlainText(), QStringLiteral("¿comemos?"));
    child<QPushButton>(segundo, QStringLiteral("cmdResponder"))->click();
    QCOMPARE(respuestas.size(), 1);
    QCOMPARE(respuestas.at(0).at(0).toString(), QStringLiteral("pepe"));
    QTRY_COMPARE(abiertas().size(), 1);

    // Both chosen, Ctrl+C: each whole, in the list's order.
    ventana->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(ventana));
    lista->setFocus();
    QGuiApplication::clipboard()->clear();
    lista->setCurrentIndex(lista->model()->index(1, 0));
    QTest::keyClick(lista, Qt::Key_Up, Qt::ShiftModifier);
    QCOMPARE(lista->selectionModel()->selectedRows().size(), 2);
    QTest::keyClick(lista, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
        QStringLiteral("Fecha: 01/01/2026 00:00:00\nDe: ana\nPara: oficina1\n") + largo
            + QStringLiteral("\n\nFecha: 01/01/2026 01:01:01\nDe: pepe\nPara: oficina2\n¿comemos?\n"));
    // Enter on the list still closes it where there is no row to open.
    r->historial().modelo().reemplazar({});
    QVERIFY(!lista->currentIndex().isValid());
    QTest::keyClick(lista, Qt::Key_Return);
    QVERIFY(!ventana->isVisible());
}

QTEST_MAIN(tst_Recepcion)
#include "tst_Recepcion.moc"
