#include "fakes/TestSupport.h"

#include "receiver/CarpetaSegura.h"
#include "receiver/Destinatarios.h"
#include "receiver/Entrega.h"
#include "receiver/Registro.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace TestSupport;

namespace {

constexpr int64_t kAhora = 1767225600; // 2026-01-01 00:00:00 UTC
const std::string kFFFD = "\xEF\xBF\xBD";

std::string s(const QString &texto)
{
    return texto.toStdString();
}

timespec reloj()
{
    timespec t = {};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return t;
}

QStringList registros(const QString &buzon)
{
    QStringList nombres;
    for (const QString &n :
        QDir(buzon).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        nombres << n;
    return nombres;
}

} // namespace

// velrisa-recibe's logic: cleaning what smbd hands over, the record format, writing into a
// mailbox that may hold planted entries, and keeping the mailbox bounded.
class tst_Entrega : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void limpieza_data();
    void limpieza();
    void registroIdaYVuelta_data();
    void registroIdaYVuelta();
    void registroAntiguoSinEquipoSeLee();
    void registroAlteradoSeRechaza_data();
    void registroAlteradoSeRechaza();
    void listaDeUsuarios_data();
    void listaDeUsuarios();
    void carpetaOListaDeUsuariosDudosaNoEntrega_data();
    void carpetaOListaDeUsuariosDudosaNoEntrega();
    void argumentos_data();
    void argumentos();

    void entregaGuardaElMensajeYBorraElArchivo();
    void mensajeDemasiadoLargoSeCortaYLoDice();
    void textoDeSmbclientLlegaComoSeEscribio_data();
    void textoDeSmbclientLlegaComoSeEscribio();
    void entradasPlantadasNoSeSiguenNiSeReemplazan();
    void archivoDelMensajeHostilSeRechaza_data();
    void archivoDelMensajeHostilSeRechaza();
    void escrituraFallidaNoDejaNadaYConservaElMensaje();
    void podaLosMasAntiguosPropiosPorCantidadYEdad();
    void registrosConFechaFuturaNoDesplazanALosReales();
    void ochoEntregasALaVezNoPierdenNiRepiten();
    void carpetaSegura_data();
    void carpetaSegura();
    void loQueNoSeEntregaSeDiceYSeBorra_data();
    void loQueNoSeEntregaSeDiceYSeBorra();

private:
    QString mensaje(const QByteArray &bytes);
    Entrega::Resultado entregar(const QString &archivo, int64_t segundos = kAhora, int32_t ns = 0, long pid = 42,
        const Entrega::Limites &limites = {});

    QTemporaryDir m_raiz;
    QString m_buzon;
    int m_serie = 0;
};

void tst_Entrega::initTestCase()
{
    QVERIFY(m_raiz.isValid());
    QVERIFY(prepareEnvironment(m_raiz.path()));
}

void tst_Entrega::init()
{
    m_buzon = m_raiz.filePath(QStringLiteral("buzon%1").arg(++m_serie));
    QVERIFY(QDir().mkpath(m_buzon));
}

QString tst_Entrega::mensaje(const QByteArray &bytes)
{
    const QString ruta = m_raiz.filePath(QStringLiteral("msg.%1").arg(++m_serie));
    return writeFile(ruta, bytes) ? ruta : QString();
}

Entrega::Resultado tst_Entrega::entregar(
    const QString &archivo, int64_t segundos, int32_t ns, long pid, const Entrega::Limites &limites)
{
    Entrega::Peticion p;
    p.buzon = s(m_buzon);
    p.de = "ana";
    p.para = "oficina1";
    p.archivo = s(archivo);
    return Entrega::entregar(p, segundos, ns, pid, limites);
}

void tst_Entrega::limpieza_data()
{
    QTest::addColumn<bool>("esTexto");
    QTest::addColumn<QByteArray>("entrada");
    QTest::addColumn<QByteArray>("salida");
    QTest::addColumn<bool>("cortado");

    const QByteArray fffd = QByteArray::fromStdString(kFFFD);
    QTest::newRow("texto: UTF-8 intacto")
        << true << QByteArray("Hola, ¿qué tal? Año 2026") << QByteArray("Hola, ¿qué tal? Año 2026") << false;
    QTest::newRow("texto: bytes rotos") << true << QByteArray("a\xC3(\xFF") << "a" + fffd + "(" + fffd << false;
    QTest::newRow("texto: finales de línea")
        << true << QByteArray("a\r\nb\rc\nd\te") << QByteArray("a\nb\nc\nd\te") << false;
    QTest::newRow("texto: controles") << true << QByteArray("a\x1b[31m\x00z\x7f", 9)
                                      << "a" + fffd + "[31m" + fffd + "z" + fffd << false;
    QTest::newRow("texto: C1") << true << QByteArray("\xC2\x85x") << fffd + "x" << false;
    QTest::newRow("texto: 1600 caracteres") << true << QByteArray(1600, 'x') << QByteArray(1600, 'x') << false;
    QTest::newRow("texto: 1601 caracteres") << true << QByteArray(1601, 'x') << QByteArray(1600, 'x') << true;
    QTest::newRow("texto: multibyte cortado por caracteres")
        << true << QByteArray("€").repeated(1700) << QByteArray("€").repeated(1600) << true;
    QTest::newRow("nombre: salto de línea") << false << QByteArray("ana\nDe: eva") << "ana" + fffd + "De: eva" << false;
    QTest::newRow("nombre: 65 caracteres")
        << false << QByteArray("ñ").repeated(65) << QByteArray("ñ").repeated(64) << true;
}

void tst_Entrega::limpieza()
{
    QFETCH(bool, esTexto);
    QFETCH(QByteArray, entrada);
    QFETCH(QByteArray, salida);
    QFETCH(bool, cortado);
    bool cortadoVisto = !cortado;
    const std::string hecho = esTexto ? Registro::limpiarTexto(entrada.toStdString(), &cortadoVisto)
                                      : Registro::limpiarNombre(entrada.toStdString(), &cortadoVisto);
    QCOMPARE(QByteArray::fromStdString(hecho), salida);
    QCOMPARE(cortadoVisto, cortado);
}

void tst_Entrega::registroIdaYVuelta_data()
{
    QTest::addColumn<QString>("de");
    QTest::addColumn<QString>("para");
    QTest::addColumn<QString>("texto");
    QTest::addColumn<bool>("cortado");
    QTest::addColumn<QString>("equipo");
    QTest::addColumn<QString>("direccion");
    QTest::newRow("normal") << "juan"
                            << "oficina1"
                            << "Hola, ¿qué tal?\nAño 2026" << false << "pc-juan"
                            << "10.0.0.7";
    QTest::newRow("vacío, sin equipo") << ""
                                       << ""
                                       << "" << true << ""
                                       << "";
    QTest::newRow("línea final y cabeceras en el texto") << "a b"
                                                         << "mi pc"
                                                         << "x\n\nDe: eva\nEquipo: pc\nLongitud: 3\n"
                                                         << false << ""
                                                         << "fe80::1";
}

void tst_Entrega::registroIdaYVuelta()
{
    QFETCH(QString, de);
    QFETCH(QString, para);
    QFETCH(QString, texto);
    QFETCH(bool, cortado);
    QFETCH(QString, equipo);
    QFETCH(QString, direccion);
    const Registro::Mensaje m { s(de), s(para), kAhora, 5, cortado, s(texto), s(equipo), s(direccion) };
    const auto leido = Registro::analizar(Registro::componer(m));
    QVERIFY(leido);
    QCOMPARE(QString::fromStdString(leido->equipo), equipo);
    QCOMPARE(QString::fromStdString(leido->direccion), direccion);
    QCOMPARE(QString::fromStdString(leido->de), de);
    QCOMPARE(QString::fromStdString(leido->para), para);
    QCOMPARE(QString::fromStdString(leido->texto), texto);
    QCOMPARE(leido->segundos, kAhora);
    QCOMPARE(leido->nanosegundos, 5);
    QCOMPARE(leido->cortado, cortado);
}

void tst_Entrega::registroAntiguoSinEquipoSeLee()
{
    // As receivers wrote them before they knew the sending computer.
    const auto m = Registro::analizar("velrisa-mensaje 1\nDe: ana\nPara: of\nLlegada: 1767225600.000000005\n"
                                      "Cortado: 0\nLongitud: 4\n\nhola");
    QVERIFY(m);
    QCOMPARE(m->de, std::string("ana"));
    QVERIFY(m->equipo.empty());
    QVERIFY(m->direccion.empty());
    QCOMPARE(m->texto, std::string("hola"));
}

void tst_Entrega::registroAlteradoSeRechaza_data()
{
    QTest::addColumn<QByteArray>("desde");
    QTest::addColumn<QByteArray>("hacia");
    QTest::newRow("cabecera") << QByteArray("velrisa-mensaje 1") << QByteArray("velrisa-mensaje 2");
    QTest::newRow("longitud de más") << QByteArray("Longitud: 4") << QByteArray("Longitud: 5");
    QTest::newRow("longitud no numérica") << QByteArray("Longitud: 4") << QByteArray("Longitud: +4");
    QTest::newRow("CR en el texto") << QByteArray("\n\nhola") << QByteArray("\n\nho\rl");
    QTest::newRow("control en el nombre") << QByteArray("De: ana") << QByteArray("De: a\x1b");
    QTest::newRow("orden de las claves") << QByteArray("De: ana\nPara: of") << QByteArray("Para: of\nDe: ana");
    QTest::newRow("nanosegundos cortos") << QByteArray(".000000005") << QByteArray(".00000005");
    QTest::newRow("cortado raro") << QByteArray("Cortado: 0") << QByteArray("Cortado: 2");
    QTest::newRow("año 2287") << QByteArray("Llegada: 1767225600") << QByteArray("Llegada: 10000000000");
    QTest::newRow("equipo vacío") << QByteArray("Equipo: pc1") << QByteArray("Equipo: ");
    QTest::newRow("equipo tras la dirección")
        << QByteArray("Equipo: pc1\nDireccion: 10.0.0.7") << QByteArray("Direccion: 10.0.0.7\nEquipo: pc1");
    QTest::newRow("control en la dirección") << QByteArray("Direccion: 10.0.0.7") << QByteArray("Direccion: 10\t0");
}

void tst_Entrega::registroAlteradoSeRechaza()
{
    QFETCH(QByteArray, desde);
    QFETCH(QByteArray, hacia);
    const Registro::Mensaje m { "ana", "of", kAhora, 5, false, "hola", "pc1", "10.0.0.7" };
    QByteArray bytes = QByteArray::fromStdString(Registro::componer(m));
    QVERIFY(Registro::analizar(bytes.toStdString()));
    QVERIFY(bytes.contains(desde));
    bytes.replace(desde, hacia);
    QVERIFY(!Registro::analizar(bytes.toStdString()));
}

void tst_Entrega::argumentos_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("esperado"); // buzon, de, para, archivo; empty: refused
    const QString def = QString::fromLatin1(Entrega::kBuzonPredeterminado);
    QTest::newRow("completo") << QStringList { "--buzon=/b", "ana", "of1", "/tmp/m" }
                              << QStringList { "/b", "ana", "of1", "/tmp/m" };
    QTest::newRow("buzón por omisión") << QStringList { "ana", "of1", "/tmp/m" }
                                       << QStringList { def, "ana", "of1", "/tmp/m" };
    // smbd puts %L in unquoted: a called name with a blank arrives as two words.
    QTest::newRow("destinatario partido")
        << QStringList { "ana", "mi", "pc", "/tmp/m" } << QStringList { def, "ana", "mi pc", "/tmp/m" };
    QTest::newRow("sin destinatario") << QStringList { "ana", "/tmp/m" } << QStringList { def, "ana", "", "/tmp/m" };
    QTest::newRow("-- y guion") << QStringList { "--", "--ana", "of1", "/tmp/m" }
                                << QStringList { def, "--ana", "of1", "/tmp/m" };
    QTest::newRow("equipo y dirección") << QStringList { "--equipo=pc2", "--direccion=10.0.0.3", "ana", "of1",
        "/tmp/m" } << QStringList { def, "ana", "of1", "/tmp/m", "pc2", "10.0.0.3" };
    // smbd leaves %m empty for a client that gave no name.
    QTest::newRow("equipo vacío") << QStringList { "--equipo=", "--usuarios=/u", "ana", "of1", "/tmp/m" }
                                  << QStringList { def, "ana", "of1", "/tmp/m", "", "", "/u" };
    QTest::newRow("lista vacía") << QStringList { "--usuarios=", "ana", "of1", "/tmp/m" } << QStringList();
    QTest::newRow("falta el archivo") << QStringList { "--buzon=/b", "ana" } << QStringList();
    QTest::newRow("opción desconocida") << QStringList { "--buzón=/b", "ana", "of1", "/tmp/m" } << QStringList();
    QTest::newRow("buzón vacío") << QStringList { "--buzon=", "ana", "of1", "/tmp/m" } << QStringList();
}

void tst_Entrega::argumentos()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, esperado);
    std::vector<std::string> v;
    for (const QString &a : args)
        v.push_back(s(a));
    std::string error;
    const auto p = Entrega::argumentos(v, error);
    if (esperado.isEmpty()) {
        QVERIFY(!p);
        QVERIFY(!error.empty());
        return;
    }
    QVERIFY2(p, error.c_str());
    QStringList visto { QString::fromStdString(p->buzon), QString::fromStdString(p->de),
        QString::fromStdString(p->para), QString::fromStdString(p->archivo), QString::fromStdString(p->equipo),
        QString::fromStdString(p->direccion), QString::fromStdString(p->usuarios) };
    while (visto.size() > esperado.size() && visto.last().isEmpty())
        visto.removeLast();
    QCOMPARE(visto, esperado);
}

void tst_Entrega::listaDeUsuarios_data()
{
    QTest::addColumn<QByteArray>("lista");
    QTest::addColumn<QString>("llamado");
    QTest::addColumn<QString>("usuario"); // "!": the list is refused
    const QByteArray buena = "# recepcion.sh\n\nJUAN juan\nOficina-2 maria\nmaria maria\nmaria maria\n";
    QTest::newRow("alias de un usuario, sin mayúsculas") << buena << "juan"
                                                         << "juan";
    QTest::newRow("con mayúsculas") << buena << "OFICINA-2"
                                    << "maria";
    QTest::newRow("nombre del equipo") << buena << "oficina1"
                                       << "";
    QTest::newRow("sin fin de línea") << QByteArray("ana ana") << "ana"
                                      << "ana";
    QTest::newRow("sin usuario") << QByteArray("juan\n") << "juan"
                                 << "!";
    QTest::newRow("usuario que es una ruta") << QByteArray("juan ../etc\n") << "juan"
                                             << "!";
    QTest::newRow("nombre de 16") << QByteArray("abcdefghijklmnop juan\n") << "juan"
                                  << "!";
    QTest::newRow("dos blancos") << QByteArray("juan  juan\n") << "juan"
                                 << "!";
    QTest::newRow("un nombre, dos usuarios") << QByteArray("juan juan\nJuan maria\n") << "juan"
                                             << "!";
}

void tst_Entrega::listaDeUsuarios()
{
    QFETCH(QByteArray, lista);
    QFETCH(QString, llamado);
    QFETCH(QString, usuario);
    std::string error;
    const auto mapa = Destinatarios::analizar(lista.toStdString(), error);
    if (usuario == QLatin1String("!")) {
        QVERIFY(!mapa);
        QVERIFY(QString::fromStdString(error).contains(QStringLiteral("línea")));
        return;
    }
    QVERIFY2(mapa, error.c_str());
    QCOMPARE(QString::fromStdString(Destinatarios::usuarioDe(*mapa, s(llamado))), usuario);
}

void tst_Entrega::carpetaOListaDeUsuariosDudosaNoEntrega_data()
{
    QTest::addColumn<QString>("caso");
    for (const char *caso : { "carpeta abierta a otros", "sin carpeta", "carpeta enlazada",
             "lista escribible por otros", "lista de otro dueño", "sin lista", "usuario inexistente" })
        QTest::newRow(caso) << QString::fromUtf8(caso);
}

// Where the person's folder or the list cannot be trusted the message must not reach the
// wrong eyes: nothing is delivered, it says why, and smbd's file stays.
void tst_Entrega::carpetaOListaDeUsuariosDudosaNoEntrega()
{
    QFETCH(QString, caso);
    const QString yo = QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
    const QString usuario = caso == QLatin1String("usuario inexistente") ? QStringLiteral("nadie-velrisa") : yo;
    const QString lista = m_raiz.filePath(QStringLiteral("usuarios%1").arg(m_serie));
    if (caso != QLatin1String("sin lista"))
        QVERIFY(writeFile(lista, "mi-alias " + usuario.toLocal8Bit() + '\n'));
    if (caso == QLatin1String("lista escribible por otros"))
        QCOMPARE(::chmod(QFile::encodeName(lista).constData(), 0666), 0);
    const QString propia = m_buzon + QLatin1Char('/') + usuario;
    if (caso == QLatin1String("carpeta enlazada")) {
        const QString otra = m_raiz.filePath(QStringLiteral("otra%1").arg(m_serie));
        QVERIFY(QDir().mkpath(otra));
        QCOMPARE(::chmod(QFile::encodeName(otra).constData(), 0700), 0);
        QVERIFY(QFile::link(otra, propia));
    } else if (caso != QLatin1String("sin carpeta")) {
        QVERIFY(QDir().mkpath(propia));
        QCOMPARE(::chmod(QFile::encodeName(propia).constData(),
                     caso == QLatin1String("carpeta abierta a otros") ? 0775 : 0770),
            0);
    }
    Entrega::Limites limites;
    limites.duenioUsuarios = caso == QStringLiteral("lista de otro dueño") ? ::geteuid() + 1 : ::geteuid();
    Entrega::Peticion p;
    p.buzon = s(m_buzon);
    p.de = "ana";
    p.para = "mi-alias";
    p.usuarios = s(lista);
    p.archivo = s(mensaje("hola"));
    const QStringList antes = registros(m_buzon);
    const Entrega::Resultado r = Entrega::entregar(p, kAhora, 1, 42, limites);
    QVERIFY(!r.entregado);
    QVERIFY(!r.error.empty());
    QVERIFY(QFile::exists(QString::fromStdString(p.archivo)));
    QCOMPARE(registros(m_buzon), antes);
    if (QFileInfo(propia).isDir())
        QVERIFY(registros(propia).isEmpty());
}

void tst_Entrega::entregaGuardaElMensajeYBorraElArchivo()
{
    const QString archivo = mensaje("Hola, \xC2\xBFqu\xC3\xA9 tal?\r\nA\xC3\xB1o 2026");
    ::umask(0077); // smbd's is 0; the readers' rights must not depend on it
    const Entrega::Resultado r = entregar(archivo, kAhora, 123, 4242);
    ::umask(0022);
    QVERIFY2(r.entregado, r.error.c_str());
    QVERIFY(r.avisos.empty());
    QVERIFY(!QFile::exists(archivo));
    QCOMPARE(registros(m_buzon), QStringList { "m1767225600.000000123.4242" });
    QCOMPARE(QString::fromStdString(r.registro), QStringLiteral("m1767225600.000000123.4242"));
    const QString ruta = m_buzon + QStringLiteral("/") + QString::fromStdString(r.registro);
    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(ruta).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0644));
    const auto m = Registro::analizar(readFile(ruta).toStdString());
    QVERIFY(m);
    QCOMPARE(m->de, std::string("ana"));
    QCOMPARE(m->para, std::string("oficina1"));
    QCOMPARE(QString::fromStdString(m->texto), QStringLiteral("Hola, ¿qué tal?\nAño 2026"));
    QCOMPARE(m->segundos, kAhora);
    QCOMPARE(m->nanosegundos, 123);
    QVERIFY(!m->cortado);
}

void tst_Entrega::mensajeDemasiadoLargoSeCortaYLoDice()
{
    // Past what the read takes at all (four bytes a character), and past 1600 characters.
    for (const QByteArray &bytes : { QByteArray(Registro::kMaxBytesTexto + 1000, 'x'), QByteArray(2000, 'y') }) {
        const Entrega::Resultado r = entregar(mensaje(bytes), kAhora, ++m_serie);
        QVERIFY2(r.entregado, r.error.c_str());
        QCOMPARE(r.avisos.size(), size_t(1));
        QVERIFY(QString::fromStdString(r.avisos[0]).contains(QStringLiteral("1600")));
        const auto m = Registro::analizar(
            readFile(m_buzon + QLatin1Char('/') + QString::fromStdString(r.registro)).toStdString());
        QVERIFY(m);
        QVERIFY(m->cortado);
        QCOMPARE(m->texto, std::string(1600, bytes[0]));
    }
}

// What Samba's own client sends, as the receiving smbd hands it over (tests/data/mensajes,
// README.md there says how each was taken), arrives in the record as it was written.
void tst_Entrega::textoDeSmbclientLlegaComoSeEscribio_data()
{
    QTest::addColumn<QByteArray>("recibido");
    QTest::addColumn<QByteArray>("esperado");
    const auto captura = [](const char *nombre, const char *extension) {
        return readFile(
            QStringLiteral(MENSAJES_CAPTURADOS "/%1.%2").arg(QLatin1String(nombre), QLatin1String(extension)));
    };
    for (const char *nombre :
        { "ascii", "cp850_espanol", "cp850_cajas", "vacio", "corte_pieza", "cjk_emoji", "mixto", "lineas_euro" })
        QTest::newRow(nombre) << captura(nombre, "recibido") << captura(nombre, "enviado");
    // smbclient stops at the zero byte, and reads 1,598 bytes: the last is the lead of a letter.
    QTest::newRow("hola_cero") << captura("hola_cero", "recibido") << QByteArray("Hola");
    QTest::newRow("euro_acentos") << captura("euro_acentos", "recibido")
                                  << captura("euro_acentos", "enviado").left(1597);
    // Other peers.
    QTest::newRow("cero final") << QByteArray("Hola", 5) << QByteArray("Hola");
    QTest::newRow("ya en UTF-8") << QByteArray("A\xC3\xB1o \xE2\x82\xAC") << QByteArray("A\xC3\xB1o \xE2\x82\xAC");
    // What smbclient sends converted for "├▒ ┬á": were it raw UTF-8 ("ñ á"), it could have been
    // converted, so it was not raw.
    QTest::newRow("cajas convertibles") << QByteArray("\xE2\x94\x9C\xE2\x96\x92 \xE2\x94\xAC\xC3\xA1")
                                        << QByteArray("\xE2\x94\x9C\xE2\x96\x92 \xE2\x94\xAC\xC3\xA1");
    // A peer that sends CP850 whole: the 127th byte of input would fall inside the "ñ", so this is
    // not smbclient's, and the "€" that "Ôé¼" would be is not taken either.
    const QByteArray cp850 = QByteArray(126, 'x') + "\xC3\xB1\xC3\x94\xC3\xA9\xC2\xBC";
    QTest::newRow("CP850 de otro cliente") << cp850 << cp850;
}

void tst_Entrega::textoDeSmbclientLlegaComoSeEscribio()
{
    QFETCH(QByteArray, recibido);
    QFETCH(QByteArray, esperado);
    QVERIFY(recibido != "<missing>" && esperado != "<missing>");
    const Entrega::Resultado r = entregar(mensaje(recibido));
    QVERIFY2(r.entregado, r.error.c_str());
    const auto m
        = Registro::analizar(readFile(m_buzon + QLatin1Char('/') + QString::fromStdString(r.registro)).toStdString());
    QVERIFY(m);
    QCOMPARE(QByteArray::fromStdString(m->texto), esperado);
}

void tst_Entrega::entradasPlantadasNoSeSiguenNiSeReemplazan()
{
    // A local user who could write the mailbox plants the names the receiver will use: the
    // temporary of the first attempt (a link to a file of the victim's) and the record name
    // of the second (a fifo). The receiver writes under a third name and touches neither.
    const QString victima = m_raiz.filePath(QStringLiteral("victima"));
    QVERIFY(writeFile(victima, "intacto"));
    QVERIFY(QFile::link(victima, m_buzon + QStringLiteral("/.m1767225600.000000000.42")));
    QCOMPARE(::mkfifo(QFile::encodeName(m_buzon + QStringLiteral("/m1767225600.000000001.42")).constData(), 0666), 0);

    const Entrega::Resultado r = entregar(mensaje("hola"));
    QVERIFY2(r.entregado, r.error.c_str());
    QCOMPARE(QString::fromStdString(r.registro), QStringLiteral("m1767225600.000000002.42"));
    QCOMPARE(readFile(victima), QByteArray("intacto"));
    QCOMPARE(registros(m_buzon),
        QStringList({ ".m1767225600.000000000.42", "m1767225600.000000001.42", "m1767225600.000000002.42" }));
    QVERIFY(QFileInfo(m_buzon + QStringLiteral("/.m1767225600.000000000.42")).isSymLink());

    // A mailbox that is itself a link is not followed.
    const QString enlace = m_raiz.filePath(QStringLiteral("enlace-buzon"));
    QVERIFY(QFile::link(m_buzon, enlace));
    Entrega::Peticion p;
    p.buzon = s(enlace);
    p.de = "ana";
    p.archivo = s(mensaje("hola"));
    const Entrega::Resultado porEnlace = Entrega::entregar(p, kAhora, 0, 7);
    QVERIFY(!porEnlace.entregado);
    QVERIFY(QString::fromStdString(porEnlace.error).contains(enlace));
    QVERIFY(QFile::exists(QString::fromStdString(p.archivo)));
}

void tst_Entrega::archivoDelMensajeHostilSeRechaza_data()
{
    QTest::addColumn<QString>("tipo");
    QTest::newRow("enlace") << "enlace";
    QTest::newRow("fifo (no bloquea)") << "fifo";
    QTest::newRow("carpeta") << "carpeta";
    QTest::newRow("no existe") << "falta";
}

void tst_Entrega::archivoDelMensajeHostilSeRechaza()
{
    QFETCH(QString, tipo);
    const QString ruta = m_raiz.filePath(QStringLiteral("hostil.%1").arg(++m_serie));
    if (tipo == QLatin1String("enlace"))
        QVERIFY(QFile::link(mensaje("secreto"), ruta));
    else if (tipo == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(ruta).constData(), 0600), 0);
    else if (tipo == QLatin1String("carpeta"))
        QVERIFY(QDir().mkpath(ruta));

    const Entrega::Resultado r = entregar(ruta);
    QVERIFY(!r.entregado);
    QVERIFY(QString::fromStdString(r.error).contains(ruta));
    QVERIFY(registros(m_buzon).isEmpty());
    // What is not a message is not removed either.
    QCOMPARE(QFileInfo(ruta).exists() || QFileInfo(ruta).isSymLink(), tipo != QLatin1String("falta"));
}

void tst_Entrega::escrituraFallidaNoDejaNadaYConservaElMensaje()
{
    // A file-size limit makes the write fail as a full disk does, after the file exists.
    const QString archivo = mensaje(QByteArray(1000, 'z'));
    struct rlimit antes = {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &antes), 0);
    const auto senal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limite = antes;
    limite.rlim_cur = 100;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limite), 0);
    const Entrega::Resultado r = entregar(archivo);
    ::setrlimit(RLIMIT_FSIZE, &antes);
    std::signal(SIGXFSZ, senal);

    QVERIFY(!r.entregado);
    QVERIFY(QString::fromStdString(r.error).contains(m_buzon));
    QVERIFY(QString::fromStdString(r.error).contains(archivo));
    QVERIFY(registros(m_buzon).isEmpty());
    QCOMPARE(readFile(archivo), QByteArray(1000, 'z'));
}

void tst_Entrega::podaLosMasAntiguosPropiosPorCantidadYEdad()
{
    if (::geteuid() != 0)
        QSKIP("needs root: one of the records is given to another user");
    const int fd = ::open(QFile::encodeName(m_buzon).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(fd >= 0);
    const auto nombre
        = [](int64_t segundos, long pid) { return QString::fromStdString(Registro::nombreArchivo(segundos, 0, pid)); };
    const auto crear = [this](const QString &n) { return writeFile(m_buzon + QLatin1Char('/') + n, "x"); };
    // 8 records a minute apart, the first one 31 days old; and entries that are not ours.
    QStringList propios;
    for (int i = 0; i < 8; ++i) {
        propios << nombre(kAhora - (i == 0 ? 31 * 86400 : (8 - i) * 60), 1);
        QVERIFY(crear(propios.last()));
    }
    const QString ajeno = nombre(kAhora - 40 * 86400, 2);
    QVERIFY(crear(ajeno));
    QCOMPARE(::chown(QFile::encodeName(m_buzon + QLatin1Char('/') + ajeno).constData(), 65534, 65534), 0);
    const QString enlace = nombre(kAhora - 50 * 86400, 3);
    QVERIFY(QFile::link(m_raiz.filePath(QStringLiteral("x")), m_buzon + QLatin1Char('/') + enlace));
    QVERIFY(crear(QStringLiteral("otra-cosa")));
    // Temporaries of ours: one left by a crash two hours ago, one of a delivery under way.
    const QString viejo = QLatin1Char('.') + nombre(kAhora - 7200, 4);
    const QString reciente = QLatin1Char('.') + nombre(kAhora, 5);
    QVERIFY(crear(viejo) && crear(reciente));
    struct timespec tiempos[2] = { { kAhora - 7200, 0 }, { kAhora - 7200, 0 } };
    QCOMPARE(::utimensat(fd, QFile::encodeName(viejo).constData(), tiempos, 0), 0);

    const auto quedan = [&](int desde) {
        QStringList esperado = propios.mid(desde);
        esperado << ajeno << enlace << QStringLiteral("otra-cosa") << reciente;
        esperado.sort();
        QStringList vistos = registros(m_buzon);
        vistos.sort();
        return vistos == esperado;
    };
    std::vector<std::string> avisos;
    // By age alone: the 31-day-old record and the crash's temporary.
    Entrega::podar(fd, kAhora, Entrega::Limites { 10, 30 * 86400, 1 }, avisos);
    QVERIFY(quedan(1));
    // By count, down to the limit less the slack: the others' entries are neither removed nor counted.
    Entrega::podar(fd, kAhora, Entrega::Limites { 6, 30 * 86400, 1 }, avisos);
    QVERIFY(quedan(3));
    ::close(fd);
    QVERIFY(avisos.empty());
}

void tst_Entrega::registrosConFechaFuturaNoDesplazanALosReales()
{
    // A hundred records dated 2031 (a sender's clock, a restored backup, a hand-made file) are
    // already there, past the limit, when the real messages come.
    const Entrega::Limites limites { 20, 30 * 86400, 2 };
    const Registro::Mensaje futuro { "eva", "of", 1938000000, 0, false, "del futuro" };
    for (int i = 0; i < 100; ++i) {
        QVERIFY(writeFile(
            m_buzon + QLatin1Char('/') + QString::fromStdString(Registro::nombreArchivo(futuro.segundos + i, 0, 9)),
            QByteArray::fromStdString(Registro::componer(futuro))));
    }
    ::usleep(20000); // the files' change times, kept in clock ticks, are behind what comes next
    QStringList reales;
    for (int i = 0; i < 15; ++i) {
        const timespec t = reloj();
        const Entrega::Resultado r
            = entregar(mensaje("real " + QByteArray::number(i)), t.tv_sec, t.tv_nsec, 42, limites);
        QVERIFY2(r.entregado, r.error.c_str());
        reales << QString::fromStdString(r.registro);
    }
    // The computer's clock set back a day: what arrives now is still the newest.
    const timespec t = reloj();
    const Entrega::Resultado atrasado = entregar(mensaje("atrasado"), t.tv_sec - 86400, t.tv_nsec, 42, limites);
    QVERIFY2(atrasado.entregado, atrasado.error.c_str());
    reales << QString::fromStdString(atrasado.registro);

    const QStringList quedan = registros(m_buzon);
    for (const QString &real : reales)
        QVERIFY2(quedan.contains(real), qPrintable(real));
    QVERIFY(quedan.size() <= int(limites.maxRegistros));
}

void tst_Entrega::ochoEntregasALaVezNoPierdenNiRepiten()
{
    // 8 senders at once, 250 messages each, as smbd starts one receiver for each: 2,000
    // deliveries into one mailbox that they prune together past 1,000 records.
    constexpr int kHijos = 8;
    constexpr int kCada = 250;
    std::vector<pid_t> hijos;
    for (int h = 0; h < kHijos; ++h) {
        const QByteArray carpeta = QFile::encodeName(m_raiz.filePath(QStringLiteral("hijo%1").arg(h)));
        QVERIFY(QDir().mkpath(QString::fromLocal8Bit(carpeta)));
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            int fallo = 0;
            for (int i = 0; i < kCada && !fallo; ++i) {
                const std::string archivo = carpeta.toStdString() + "/msg." + std::to_string(i);
                const std::string texto = std::to_string(h) + ' ' + std::to_string(i);
                const int fd = ::open(archivo.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
                fallo = fd < 0 || ::write(fd, texto.data(), texto.size()) != ssize_t(texto.size()) ? 2 : 0;
                ::close(fd);
                Entrega::Peticion p;
                p.buzon = s(m_buzon);
                p.de = "ana";
                p.archivo = archivo;
                const timespec t = reloj();
                const Entrega::Resultado r = Entrega::entregar(p, t.tv_sec, int32_t(t.tv_nsec), long(::getpid()));
                // Each record is there when its delivery returns, whatever the others pruned.
                if (!fallo
                    && (!r.entregado || !r.avisos.empty()
                        || ::access((s(m_buzon) + '/' + r.registro).c_str(), F_OK) != 0))
                    fallo = 3;
            }
            ::_exit(fallo);
        }
        hijos.push_back(pid);
    }
    for (const pid_t pid : hijos) {
        int estado = -1;
        QCOMPARE(::waitpid(pid, &estado, 0), pid);
        QVERIFY(WIFEXITED(estado));
        QCOMPARE(WEXITSTATUS(estado), 0);
    }

    // Each kept once, and of each sender its newest ones, with no gap: what pruning took
    // were always the oldest.
    const QStringList quedan = registros(m_buzon);
    QVERIFY2(quedan.size() >= 900 && quedan.size() <= 1000, qPrintable(QString::number(quedan.size())));
    QSet<QString> textos;
    std::vector<int> primero(kHijos, kCada);
    for (const QString &nombre : quedan) {
        QVERIFY2(Registro::esNombreRegistro(s(nombre)), qPrintable(nombre));
        const auto m = Registro::analizar(readFile(m_buzon + QLatin1Char('/') + nombre).toStdString());
        QVERIFY(m);
        const QStringList partes = QString::fromStdString(m->texto).split(QLatin1Char(' '));
        QCOMPARE(partes.size(), 2);
        QVERIFY2(!textos.contains(QString::fromStdString(m->texto)), m->texto.c_str());
        textos.insert(QString::fromStdString(m->texto));
        const int h = partes[0].toInt();
        primero[size_t(h)] = std::min(primero[size_t(h)], partes[1].toInt());
    }
    int esperados = 0;
    for (int h = 0; h < kHijos; ++h)
        esperados += kCada - primero[size_t(h)];
    QCOMPARE(int(textos.size()), esperados);
}

void tst_Entrega::carpetaSegura_data()
{
    // The folders above the mailbox, from the test's own folder down: mode and owner of each.
    QTest::addColumn<QList<uint>>("modos");
    QTest::addColumn<uint>("dueno");
    QTest::addColumn<bool>("segura");
    QTest::newRow("protegidas") << QList<uint> { 0755, 0700 } << 0u << true;
    QTest::newRow("/tmp más arriba") << QList<uint> { 01777, 0755 } << 0u << true;
    QTest::newRow("padre de todos con sticky") << QList<uint> { 0755, 01777 } << 0u << false;
    QTest::newRow("padre de todos") << QList<uint> { 0755, 0777 } << 0u << false;
    QTest::newRow("abuelo de todos sin sticky") << QList<uint> { 0777, 0755 } << 0u << false;
    QTest::newRow("padre del grupo") << QList<uint> { 0755, 0775 } << 0u << false;
    QTest::newRow("padre de otro usuario") << QList<uint> { 0755, 0755 } << 65534u << false;
}

void tst_Entrega::carpetaSegura()
{
    QFETCH(QList<uint>, modos);
    QFETCH(uint, dueno);
    QFETCH(bool, segura);
    if (dueno != 0 && ::geteuid() != 0)
        QSKIP("needs root: the folder is given to another user");
    QString ruta = m_buzon;
    for (const uint modo : modos) {
        ruta += QStringLiteral("/c");
        QVERIFY(QDir().mkpath(ruta));
        QVERIFY(setMode(ruta, modo));
    }
    if (dueno != 0)
        QCOMPARE(::chown(QFile::encodeName(ruta).constData(), dueno, dueno), 0);
    // The test's own folders belong to whoever runs it.
    const uid_t yo = ::geteuid();
    const std::string buzon = s(ruta + QStringLiteral("/buzon"));
    const std::string problema = CarpetaSegura::problema(buzon, yo);
    QVERIFY2(problema.empty() == segura, problema.c_str());
    // Through a link, the folders it leads to count.
    const QString enlace = m_buzon + QStringLiteral("/enlace");
    QVERIFY(QFile::link(ruta, enlace));
    QCOMPARE(CarpetaSegura::problema(s(enlace + QStringLiteral("/buzon")), yo).empty(), segura);
    // The owner itself may own them all.
    if (dueno != 0)
        QVERIFY(CarpetaSegura::problema(buzon, dueno).empty());

    // The test's own folders are safe (the temporary folder is only in /tmp); the default
    // mailbox is; relative paths are not.
    QVERIFY2(CarpetaSegura::problema(s(m_buzon + QStringLiteral("/buzon")), yo).empty(), "test folder");
    QVERIFY(CarpetaSegura::problema(Entrega::kBuzonPredeterminado, 0).empty());
    QVERIFY(!CarpetaSegura::problema("buzon", 0).empty());
    QVERIFY(!CarpetaSegura::problema("/tmp/buzon", 0).empty());
}

void tst_Entrega::loQueNoSeEntregaSeDiceYSeBorra_data()
{
    QTest::addColumn<QString>("caso");
    QTest::addColumn<bool>("seBorra");
    QTest::addColumn<QStringList>("dicho");
    QTest::newRow("el buzón no existe") << "sin-buzon" << true << QStringList { "no se puede abrir el buzón" };
    QTest::newRow("buzón en una carpeta de todos")
        << "de-todos" << true << QStringList { "se rechaza el buzón", "(permisos 1777)" };
    QTest::newRow("disco lleno") << "lleno" << true << QStringList { "no se puede guardar el mensaje de ana" };
    QTest::newRow("enlace en lugar del mensaje")
        << "enlace" << false << QStringList { "no se puede leer", "no se borra", "enlace simbólico" };
    QTest::newRow("mensaje de otro usuario")
        << "ajeno" << false << QStringList { "no se puede abrir el buzón", "no se borra", "es del usuario 65534" };
}

void tst_Entrega::loQueNoSeEntregaSeDiceYSeBorra()
{
    // The real velrisa-recibe, as smbd runs it: what it cannot deliver it says (where the
    // message was and why), then removes, so that smbd's folder does not fill up; but only
    // a regular file of its own.
    QFETCH(QString, caso);
    QFETCH(bool, seBorra);
    QFETCH(QStringList, dicho);
    if (caso == QLatin1String("ajeno") && ::geteuid() != 0)
        QSKIP("needs root: the message file is given to another user");
    const QString victima = m_raiz.filePath(QStringLiteral("victima"));
    QVERIFY(writeFile(victima, "intacto"));
    QString archivo = mensaje(QByteArray(1000, 'z'));
    QString buzon = m_buzon;
    QProcess recibe;
    if (caso == QLatin1String("sin-buzon") || caso == QLatin1String("ajeno"))
        buzon = m_buzon + QStringLiteral("/no-existe");
    if (caso == QLatin1String("ajeno"))
        QCOMPARE(::chown(QFile::encodeName(archivo).constData(), 65534, 65534), 0);
    if (caso == QLatin1String("de-todos")) {
        QVERIFY(setMode(m_buzon, 01777));
        buzon = m_buzon + QStringLiteral("/buzon");
        QVERIFY(QDir().mkpath(buzon));
    }
    if (caso == QLatin1String("enlace")) {
        QVERIFY(QFile::remove(archivo));
        QVERIFY(QFile::link(victima, archivo));
    }
    if (caso == QLatin1String("lleno")) {
        recibe.setChildProcessModifier([] {
            ::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limite = { 100, 100 };
            ::setrlimit(RLIMIT_FSIZE, &limite);
        });
    }
    recibe.start(QStringLiteral(RECIBE_BINARY), { QStringLiteral("--buzon=") + buzon, "ana", "oficina1", archivo });
    QVERIFY(recibe.waitForFinished(10000));
    QCOMPARE(recibe.exitCode(), 1);
    const QString error = QString::fromUtf8(recibe.readAllStandardError());
    QVERIFY2(error.contains(archivo), qPrintable(error));
    for (const QString &parte : dicho)
        QVERIFY2(error.contains(parte), qPrintable(error));
    QCOMPARE(error.contains(QStringLiteral("velrisa-recibe: se borra ") + archivo), seBorra);
    QCOMPARE(QFileInfo(archivo).exists() || QFileInfo(archivo).isSymLink(), !seBorra);
    QCOMPARE(readFile(victima), QByteArray("intacto"));
    QVERIFY(registros(buzon).isEmpty());
}

QTEST_GUILESS_MAIN(tst_Entrega)
#include "tst_Entrega.moc"
