#include "net/SambaHost.h"

#include "receiver/Registro.h"

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace {

QByteArray xdotool(const QStringList &args)
{
    return SambaHost::run(QString(), QStringLiteral("xdotool"), args, nullptr, 10000).trimmed();
}

// The first visible window with exactly this title, polled for up to ms.
QString ventana(const QString &titulo, int ms)
{
    QElapsedTimer reloj;
    reloj.start();
    do {
        const QByteArray ids
            = xdotool({ "search", "--onlyvisible", "--name", QLatin1Char('^') + titulo + QLatin1Char('$') });
        if (!ids.isEmpty())
            return QString::fromLatin1(ids.split('\n').first());
        QTest::qWait(20);
    } while (reloj.elapsed() < ms);
    return {};
}

// Ctrl+A (when asked) and Ctrl+C in the focused control of window w; what reached the clipboard.
QString copiar(const QString &w, bool todo = true)
{
    QGuiApplication::clipboard()->clear();
    xdotool({ "windowfocus", "--sync", w });
    if (todo)
        xdotool({ "key", "--window", w, "ctrl+a" });
    xdotool({ "key", "--window", w, "ctrl+c" });
    QElapsedTimer reloj;
    reloj.start();
    while (QGuiApplication::clipboard()->text().isEmpty() && reloj.elapsed() < 3000)
        QTest::qWait(20);
    return QGuiApplication::clipboard()->text();
}

// The menu of the program `pid` open beside its tray icon `icono`, polled for up to ms.
QString menuBandeja(qint64 pid, const QString &icono, int ms)
{
    const QByteArray deIcono = QByteArray::number(icono.toULongLong(nullptr, 16));
    QElapsedTimer reloj;
    reloj.start();
    do {
        for (const QByteArray &w :
            xdotool({ "search", "--onlyvisible", "--pid", QString::number(pid), "--name", QStringLiteral("^Velrisa$") })
                .split('\n')) {
            if (!w.isEmpty() && w != deIcono)
                return QString::fromLatin1(w);
        }
        QTest::qWait(20);
    } while (reloj.elapsed() < ms);
    return {};
}

// The program's icon embedded in the tray host's panel.
QString iconoBandeja()
{
    for (const QByteArray &w : xdotool({ "search", "--class", "^trayer$" }).split('\n')) {
        const QByteArray arbol
            = SambaHost::run(QString(), QStringLiteral("xwininfo"), { "-tree", "-id", QString::fromLatin1(w) });
        for (const QByteArray &linea : arbol.split('\n')) {
            if (linea.contains("(\"velrisa\" \"Velrisa\")"))
                return QString::fromLatin1(linea.trimmed().split(' ').first());
        }
    }
    return {};
}

} // namespace

// Receiving end to end, as a user meets it: smbd on loopback hands each message to the real
// velrisa-recibe, the real program under X shows it, and `net send` (ours) sends.
class tst_RecepcionSamba : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void mensajeSaleSeRespondeYQuedaEnElHistorial();
    void rafagaDeOchoEmisoresNoPierdeNiRepite();
    void textoDeSmbclientLlegaComoSeEscribio();

private:
    void arrancar();
    void parar();
    QJsonArray historial() const;

    QTemporaryDir m_raiz;
    QString m_buzon;
    // An address of this process alone: the same test may run elsewhere on the machine at once.
    QString m_direccion = QStringLiteral("127.%1.%2.50").arg(::getpid() / 250 % 250 + 1).arg(::getpid() % 250 + 1);
    QString m_programa;
    QString m_confCliente;
    std::unique_ptr<SambaHost> m_samba;
    QProcess m_bandeja;
    std::unique_ptr<QProcess> m_velrisa;
};

void tst_RecepcionSamba::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root: smbd serves messages on port 139");
    for (const char *herramienta : { "smbd", "smbclient", "xdotool", "xwininfo", "trayer" }) {
        if (QStandardPaths::findExecutable(
                QString::fromLatin1(herramienta), { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin") })
                .isEmpty())
            QSKIP(qPrintable(
                QStringLiteral("%1 is not installed (scripts/deps.sh installs it)").arg(QLatin1String(herramienta))));
    }
    QVERIFY(qEnvironmentVariableIsSet("DISPLAY"));
    QVERIFY(m_raiz.isValid());
    // The guest user that runs the receiver must reach the mailbox, and only it writes there.
    QVERIFY(QFile::setPermissions(m_raiz.path(), QFileDevice::Permissions(0x7755)));
    m_buzon = m_raiz.filePath(QStringLiteral("buzon"));
    QVERIFY(QDir().mkpath(m_buzon));
    QCOMPARE(::chown(QFile::encodeName(m_buzon).constData(), 65534, 65534), 0);

    const QString dirSamba = m_raiz.filePath(QStringLiteral("samba"));
    QVERIFY(QDir().mkpath(dirSamba));
    m_samba = std::make_unique<SambaHost>(dirSamba,
        SambaHost::receiving(
            QStringLiteral("RECIBE"), QStringLiteral("OFICINA"), m_direccion, QStringLiteral(RECIBE_BINARY), m_buzon));
    QVERIFY2(m_samba->start(), qPrintable(m_samba->error()));

    m_programa = m_raiz.filePath(QStringLiteral("programa"));
    QVERIFY(QDir().mkpath(m_programa));
    QVERIFY(QFile::copy(QStringLiteral(NET_BINARY), m_programa + QStringLiteral("/net")));
    QVERIFY(QFile::copy(QStringLiteral(VELRISA_BINARY), m_programa + QStringLiteral("/velrisa")));
    m_confCliente = SambaHost::writeClientConfig(m_raiz.path(), QStringLiteral("lo"), QStringLiteral("OFICINA"));
    QFile ini(m_programa + QStringLiteral("/net.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(
        "[Equipos]\nRECIBE=" + m_direccion.toLatin1() + "\n[Opciones]\nConfiguracion=" + m_confCliente.toUtf8() + "\n");
    ini.close();

    m_bandeja.start(QStringLiteral("trayer"),
        { "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24", "--SetDockType", "true",
            "--transparent", "false" });
    QVERIFY(m_bandeja.waitForStarted());
}

void tst_RecepcionSamba::cleanupTestCase()
{
    parar();
    m_samba.reset();
    m_bandeja.kill();
    m_bandeja.waitForFinished();
}

void tst_RecepcionSamba::arrancar()
{
    m_velrisa = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *sub : { "run", "config", "data" })
        QDir().mkpath(m_raiz.filePath(QString::fromLatin1(sub)));
    QFile::setPermissions(m_raiz.filePath(QStringLiteral("run")),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_raiz.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_raiz.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_raiz.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("VELRISA_BUZON"), m_buzon);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_velrisa->setProcessEnvironment(env);
    m_velrisa->setProcessChannelMode(QProcess::ForwardedChannels);
    // In the tray only, as a receiving desktop starts it at log-in.
    m_velrisa->start(m_programa + QStringLiteral("/velrisa"), { QStringLiteral("-min") });
    QVERIFY(m_velrisa->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!iconoBandeja().isEmpty(), 10000);
}

void tst_RecepcionSamba::parar()
{
    if (!m_velrisa || m_velrisa->state() == QProcess::NotRunning)
        return;
    m_velrisa->terminate();
    QVERIFY(m_velrisa->waitForFinished(10000));
}

// The messages the history holds on disk: recibidos.json and the message lines of its journal.
QJsonArray tst_RecepcionSamba::historial() const
{
    QJsonArray mensajes;
    QFile f(m_raiz.filePath(QStringLiteral("data/velrisa/recibidos.json")));
    if (f.open(QIODevice::ReadOnly))
        mensajes = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("mensajes")).toArray();
    QFile diario(m_raiz.filePath(QStringLiteral("data/velrisa/recibidos.diario")));
    if (diario.open(QIODevice::ReadOnly)) {
        for (const QByteArray &linea : diario.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(linea).object();
            if (o.contains(QStringLiteral("id")))
                mensajes.append(o);
        }
    }
    return mensajes;
}

void tst_RecepcionSamba::mensajeSaleSeRespondeYQuedaEnElHistorial()
{
    arrancar();
    const QString texto = QStringLiteral("Hola, ¿qué tal? Año 2026");
    int salida = -1;
    const QByteArray dicho
        = SambaHost::run(QString(), m_programa + QStringLiteral("/net"), { "send", "RECIBE", texto }, &salida);
    QCOMPARE(salida, 0);
    QVERIFY2(dicho.startsWith("Mensaje enviado"), dicho.constData());

    const QString w = ventana(QStringLiteral("Mensaje recibido"), 1000);
    QVERIFY2(!w.isEmpty(), "no window \"Mensaje recibido\" within one second");
    QCOMPARE(copiar(w), texto);

    // "&Responder": the main window with the sender (smbd's %f: our user) as recipient.
    xdotool({ "key", "--window", w, "alt+r" });
    QTRY_VERIFY(ventana(QStringLiteral("Mensaje recibido"), 0).isEmpty());
    const QString principal = ventana(QStringLiteral("elrisa"), 3000);
    QVERIFY(!principal.isEmpty());
    xdotool({ "mousemove", "--window", principal, "200", "38", "click", "1" });
    QCOMPARE(copiar(principal), QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name));

    // A new run: nothing pops up again, and the history window lists it.
    parar();
    arrancar();
    const QString icono = iconoBandeja();
    xdotool({ "mousemove", "--window", icono, "8", "8", "click", "3" });
    QVERIFY2(!menuBandeja(m_velrisa->processId(), icono, 3000).isEmpty(), "no tray menu within three seconds");
    xdotool({ "key", "r" }); // "Mostrar mensajes &recibidos"
    const QString lista = ventana(QStringLiteral("Mensajes recibidos"), 3000);
    QVERIFY(!lista.isEmpty());
    // What waits pops up at start-up, before the tray icon that arrancar() waited for.
    QVERIFY(ventana(QStringLiteral("Mensaje recibido"), 0).isEmpty());
    // The last row, copied as a person reads it: date, sender, called name, then the text.
    xdotool({ "windowfocus", "--sync", lista });
    xdotool({ "key", "--window", lista, "ctrl+End" });
    const QString copiado = copiar(lista, false);
    QVERIFY2(copiado.startsWith(QStringLiteral("Fecha: ")), qPrintable(copiado));
    QVERIFY2(copiado.endsWith(QStringLiteral("\nDe: %1\nPara: recibe\n%2\n")
                                  .arg(QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name), texto)),
        qPrintable(copiado));
    QCOMPARE(historial().size(), 1);
    parar();
}

// A flood from 8 senders at once: every message reaches the history once, while the windows
// open stay within the pop-ups' bound and one window counting the rest.
void tst_RecepcionSamba::rafagaDeOchoEmisoresNoPierdeNiRepite()
{
    arrancar();
    constexpr int kEmisores = 8;
    constexpr int kPorEmisor = 250;
    std::vector<std::unique_ptr<QProcess>> emisores;
    for (int e = 0; e < kEmisores; ++e) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(QStringLiteral("/bin/sh"),
            { "-c",
                QStringLiteral("for i in $(seq 1 %1); do \"$0\" send RECIBE \"f%2-$i\" | head -n 1; done")
                    .arg(kPorEmisor)
                    .arg(e),
                m_programa + QStringLiteral("/net") });
        emisores.push_back(std::move(p));
    }
    // The history keeps the last 1,000: it is looked at all along, and every message must be
    // seen there, always under the same record.
    QHash<QString, QString> registroDe;
    QStringList repetidos;
    const auto mirar = [&] {
        for (const QJsonValue &v : historial()) {
            const QString texto = v[QStringLiteral("texto")].toString();
            const QString id = v[QStringLiteral("id")].toString();
            const auto visto = registroDe.constFind(texto);
            if (visto != registroDe.cend() && *visto != id)
                repetidos << texto;
            registroDe.insert(texto, id);
        }
    };
    const auto contar = [](const QString &patron) {
        const QByteArray ids = xdotool({ "search", "--onlyvisible", "--name", patron });
        return ids.isEmpty() ? 0 : int(ids.split('\n').size());
    };
    int popups = 0;
    int resumenes = 0;
    QElapsedTimer reloj;
    reloj.start();
    while (std::any_of(emisores.cbegin(), emisores.cend(), [](const std::unique_ptr<QProcess> &p) {
        return p->state() != QProcess::NotRunning;
    }) && reloj.elapsed() < 400000) {
        QTest::qWait(200);
        mirar();
        popups = std::max(popups, contar(QStringLiteral("^Mensaje recibido$")));
        resumenes = std::max(resumenes, contar(QStringLiteral("s mensajes recibidos$")));
    }
    for (auto &p : emisores) {
        QCOMPARE(p->state(), QProcess::NotRunning);
        QCOMPARE(p->readAll().count("Mensaje enviado"), kPorEmisor);
    }
    QSet<QString> esperados;
    for (int e = 0; e < kEmisores; ++e)
        for (int i = 1; i <= kPorEmisor; ++i)
            esperados.insert(QStringLiteral("f%1-%2").arg(e).arg(i));
    QElapsedTimer espera;
    espera.start();
    do {
        QTest::qWait(200);
        mirar();
    } while (!QSet<QString>(esperados).subtract(QSet<QString>(registroDe.keyBegin(), registroDe.keyEnd())).isEmpty()
        && espera.elapsed() < 30000);
    const QSet<QString> faltan
        = QSet<QString>(esperados).subtract(QSet<QString>(registroDe.keyBegin(), registroDe.keyEnd()));
    QVERIFY2(faltan.isEmpty(),
        qPrintable(QStringLiteral("%1 never in the history: %2")
                       .arg(faltan.size())
                       .arg(QStringList(faltan.cbegin(), faltan.cend()).join(' ').left(200))));
    QVERIFY2(repetidos.isEmpty(), qPrintable(repetidos.join(QLatin1Char(' ')).left(200)));
    QVERIFY2(popups >= 1 && popups <= 10, qPrintable(QString::number(popups)));
    QCOMPARE(resumenes, 1);
    QFile estado(QStringLiteral("/proc/%1/status").arg(m_velrisa->processId()));
    QVERIFY(estado.open(QIODevice::ReadOnly));
    for (const QByteArray &linea : estado.readAll().split('\n')) {
        if (linea.startsWith("VmRSS") || linea.startsWith("VmHWM"))
            qInfo("velrisa after %d messages: %s", kEmisores * kPorEmisor, linea.simplified().constData());
    }
    parar();
}

// Samba's own client garbles what CP850 lacks on the way (raw UTF-8 pieces that smbd decodes
// as CP850); the receiver gives the record the text as written, or as much as smbclient reads.
void tst_RecepcionSamba::textoDeSmbclientLlegaComoSeEscribio()
{
    const QString letras = QStringLiteral("ñáéíóúüÑÁÉÍÓÚÜ¿¡");
    QString acentos;
    for (int i = 0; i < 1500; ++i)
        acentos += letras[i % letras.size()];
    const QByteArray largo = (QStringLiteral("€") + acentos).toUtf8();
    const QByteArray entero = (QStringLiteral("€\n") + acentos.left(790)).toUtf8();
    // smbclient reads 1,598 bytes of the long one: the euro and 797 letters, half of the next.
    const QList<QPair<QByteArray, QByteArray>> casos { { largo, largo.left(1597) }, { entero, entero } };
    for (const auto &[enviado, esperado] : casos) {
        const QStringList antes = QDir(m_buzon).entryList(QDir::Files);
        QProcess smbclient;
        smbclient.setProcessChannelMode(QProcess::MergedChannels);
        smbclient.start(QStringLiteral("smbclient"),
            { "-s", m_confCliente, "-M", "RECIBE", "-I", m_direccion, "-p", "139", "-N", "-U", "juan" });
        QVERIFY(smbclient.waitForStarted());
        smbclient.write(enviado);
        smbclient.closeWriteChannel();
        QVERIFY(smbclient.waitForFinished(30000));
        const QByteArray dicho = smbclient.readAll();
        QVERIFY2(smbclient.exitCode() == 0 && !dicho.contains("cli_message returned"), dicho.constData());

        QStringList nuevos = QDir(m_buzon).entryList(QDir::Files);
        for (const QString &n : antes)
            nuevos.removeOne(n);
        QCOMPARE(nuevos.size(), 1);
        QFile f(m_buzon + QLatin1Char('/') + nuevos.first());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const auto m = Registro::analizar(f.readAll().toStdString());
        QVERIFY(m);
        QCOMPARE(m->de, std::string("juan"));
        QCOMPARE(QByteArray::fromStdString(m->texto), esperado);
    }
}

QTEST_MAIN(tst_RecepcionSamba)
#include "tst_RecepcionSamba.moc"
