#include "net/PrivateNetwork.h"
#include "net/SambaHost.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kNadie = 65534; // Samba's guest account, nobody:nogroup

bool escribir(const QString &ruta, const QByteArray &bytes)
{
    QFile f(ruta);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool preparar(const QString &ruta, uid_t uid, gid_t gid, mode_t modo)
{
    const QByteArray r = QFile::encodeName(ruta);
    return QDir().mkpath(ruta) && ::chown(r.constData(), uid, gid) == 0 && ::chmod(r.constData(), modo) == 0;
}

} // namespace

// An office as it works: one computer that two people use at once, each on a display of their
// own, and a second computer that writes to them, each in a network namespace of the test's
// own with real Samba. A message to one person's name pops up for that person alone (the other
// cannot even list it), one to the computer for both, and "&Responder" reaches the sender's
// Velrisa on the other computer.
class tst_RecepcionPersonas : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cadaPersonaVeLoSuyoYLaRespuestaLlegaAlRemitente();

private:
    struct Persona
    {
        QString usuario;
        uid_t uid = 0;
        QString pantalla; // ":N"
        std::unique_ptr<QProcess> xvfb;
        std::unique_ptr<QProcess> velrisa;
    };

    QByteArray xdotool(const Persona &p, const QStringList &args, int *codigo = nullptr) const;
    QStringList ventanas(const Persona &p, const QString &titulo) const;
    int comoUsuario(const QString &usuario, const QStringList &mandato) const;
    bool enviar(const QString &destino, const QString &texto);
    QJsonArray recibidosDelRemitente() const;

    QTemporaryDir m_raiz;
    std::unique_ptr<PrivateNetwork> m_red;
    std::unique_ptr<SambaHost> m_recibe;
    std::unique_ptr<SambaHost> m_emisor;
    QString m_buzon;
    QString m_confEmisor;
    Persona m_personas[2];
    std::unique_ptr<QProcess> m_remitente; // Velrisa of the sender, offscreen on the other computer
};

void tst_RecepcionPersonas::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root: it creates users, network namespaces and runs smbd on port 139");
    for (const char *herramienta : { "smbd", "smbclient", "Xvfb", "xdotool", "useradd", "userdel", "runuser" }) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(herramienta),
                { QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin") })
                .isEmpty())
            QSKIP(qPrintable(
                QStringLiteral("%1 is not installed (scripts/deps.sh installs it)").arg(QLatin1String(herramienta))));
    }
    if (!PrivateNetwork::toolsPresent())
        QSKIP("ip or nmbd is not installed");
    QVERIFY(m_raiz.isValid());
    QCOMPARE(::chmod(QFile::encodeName(m_raiz.path()).constData(), 0755), 0);

    // Names and addresses of this process alone.
    const int pid = int(::getpid());
    m_red = std::make_unique<PrivateNetwork>(
        QStringLiteral("vpe%1").arg(pid), QStringLiteral("10.234.%1").arg(pid % 250 + 1));
    if (!m_red->create(2)) {
        if (m_red->cannotHere())
            QSKIP(qPrintable(QStringLiteral("cannot make network namespaces here: %1").arg(m_red->why())));
        QFAIL(qPrintable(m_red->why()));
    }

    // Two people of the receiving computer; removed in cleanupTestCase.
    for (int i = 0; i < 2; ++i) {
        Persona &p = m_personas[i];
        p.usuario = QStringLiteral("vp%1%2").arg(QChar(u'a' + i)).arg(pid);
        int codigo = -1;
        SambaHost::run(
            QString(), QStringLiteral("useradd"), { "-M", "-N", "-s", "/usr/sbin/nologin", p.usuario }, &codigo);
        if (codigo != 0)
            QSKIP(qPrintable(QStringLiteral("useradd cannot create the test's users here (exit %1)").arg(codigo)));
        const passwd *pw = ::getpwnam(p.usuario.toLocal8Bit().constData());
        QVERIFY(pw);
        p.uid = pw->pw_uid;
    }

    // The mailbox as recepcion.sh lays it out: the guest's, and in it one folder per person.
    m_buzon = m_raiz.filePath(QStringLiteral("buzon"));
    QVERIFY(preparar(m_buzon, kNadie, kNadie, 0755));
    QByteArray lista = "# names that are one person's\n";
    for (const Persona &p : m_personas) {
        QVERIFY(preparar(m_buzon + QLatin1Char('/') + p.usuario, p.uid, kNadie, 02770));
        lista += p.usuario.toLatin1() + ' ' + p.usuario.toLatin1() + '\n';
    }
    const QString usuarios = m_raiz.filePath(QStringLiteral("velrisa-usuarios"));
    QVERIFY(escribir(usuarios, lista));
    QCOMPARE(::chmod(QFile::encodeName(usuarios).constData(), 0644), 0);

    const QString dirRecibe = m_raiz.filePath(QStringLiteral("recibe"));
    QVERIFY(preparar(dirRecibe, 0, 0, 0755));
    SambaHost::Settings recibe = SambaHost::receiving(
        QStringLiteral("RECIBE"), QStringLiteral("OFICINA"), m_red->address(0), QStringLiteral(RECIBE_BINARY), m_buzon);
    recibe.interfaces = m_red->address(0) + QStringLiteral("/24");
    recibe.netns = m_red->member(0);
    recibe.messageCommand = QStringLiteral("%1 --buzon=%2 --usuarios=%3 '--equipo=%m' '--direccion=%I' '%f' '%L' '%s'")
                                .arg(QStringLiteral(RECIBE_BINARY), m_buzon, usuarios);
    m_recibe = std::make_unique<SambaHost>(dirRecibe, recibe);
    QVERIFY2(m_recibe->start(), qPrintable(m_recibe->error()));

    // The other computer: everything to it goes to its shared mailbox.
    const QString buzonEmisor = m_raiz.filePath(QStringLiteral("buzon-emisor"));
    QVERIFY(preparar(buzonEmisor, kNadie, kNadie, 0755));
    const QString dirEmisor = m_raiz.filePath(QStringLiteral("emisor"));
    QVERIFY(preparar(dirEmisor, 0, 0, 0755));
    SambaHost::Settings emisor = SambaHost::receiving(QStringLiteral("EMISOR"), QStringLiteral("OFICINA"),
        m_red->address(1), QStringLiteral(RECIBE_BINARY), buzonEmisor);
    emisor.interfaces = m_red->address(1) + QStringLiteral("/24");
    emisor.netns = m_red->member(1);
    emisor.messageCommand = QStringLiteral("%1 --buzon=%2 '--equipo=%m' '--direccion=%I' '%f' '%L' '%s'")
                                .arg(QStringLiteral(RECIBE_BINARY), buzonEmisor);
    m_emisor = std::make_unique<SambaHost>(dirEmisor, emisor);
    QVERIFY2(m_emisor->start(), qPrintable(m_emisor->error()));
    m_confEmisor = SambaHost::writeClientConfig(
        m_raiz.filePath(QStringLiteral("cliente-emisor")), m_red->address(1) + QStringLiteral("/24"), "OFICINA");

    // The receiving computer's program folder: its net reaches the sender's name at that computer.
    const QString programa = m_raiz.filePath(QStringLiteral("programa"));
    QVERIFY(preparar(programa, 0, 0, 0755));
    QVERIFY(QFile::copy(QStringLiteral(NET_BINARY), programa + QStringLiteral("/net")));
    QVERIFY(QFile::copy(QStringLiteral(VELRISA_BINARY), programa + QStringLiteral("/velrisa")));
    const QString cliente = m_raiz.filePath(QStringLiteral("cliente-recibe"));
    const QString confCliente
        = SambaHost::writeClientConfig(cliente, m_red->address(0) + QStringLiteral("/24"), QStringLiteral("OFICINA"));
    // Each person's smbclient keeps its state there.
    QCOMPARE(::chmod(QFile::encodeName(cliente).constData(), 0755), 0);
    QCOMPARE(::chmod(QFile::encodeName(cliente + QStringLiteral("/client")).constData(), 01777), 0);
    QVERIFY(escribir(programa + QStringLiteral("/net.ini"),
        "[Equipos]\nJEFA=" + m_red->address(1).toLatin1() + "\n[Opciones]\nConfiguracion=" + confCliente.toUtf8()
            + "\nEspera=10\n"));

    // Each person on a display of their own, running Velrisa inside the receiving computer.
    for (Persona &p : m_personas) {
        // Xvfb picks a free display itself and says which: no other server can take it between
        // a look and the start.
        p.xvfb = std::make_unique<QProcess>();
        p.xvfb->start(
            QStringLiteral("Xvfb"), { "-displayfd", "1", "-ac", "-nolisten", "tcp", "-screen", "0", "1024x768x24" });
        QVERIFY(p.xvfb->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(p.xvfb->canReadLine(), 10000);
        p.pantalla = QLatin1Char(':') + QString::fromLatin1(p.xvfb->readLine()).trimmed();

        const QString casa = m_raiz.filePath(p.usuario);
        QVERIFY(preparar(casa, p.uid, kNadie, 0700));
        for (const char *sub : { "run", "config", "data" })
            QVERIFY(preparar(casa + QLatin1Char('/') + QLatin1String(sub), p.uid, kNadie, 0700));
        // The display must take a connection from where Velrisa will run (that computer's
        // network, the person's account) before Velrisa starts on it; what refuses is said.
        QByteArray sonda;
        int codigo = -1;
        for (int intento = 0; intento < 40 && codigo != 0; ++intento) {
            if (intento > 0)
                QTest::qWait(250);
            sonda = SambaHost::run(m_red->member(0), QStringLiteral("runuser"),
                { "-u", p.usuario, "--", "env", "DISPLAY=" + p.pantalla, "xdotool", "getdisplaygeometry" }, &codigo,
                10000);
        }
        QVERIFY2(codigo == 0, sonda.constData());
        p.velrisa = std::make_unique<QProcess>();
        p.velrisa->setProcessChannelMode(QProcess::ForwardedChannels);
        p.velrisa->start(QStringLiteral("ip"),
            { "netns", "exec", m_red->member(0), "runuser", "-u", p.usuario, "--", "env", "DISPLAY=" + p.pantalla,
                "HOME=" + casa, "XDG_RUNTIME_DIR=" + casa + "/run", "XDG_CONFIG_HOME=" + casa + "/config",
                "XDG_DATA_HOME=" + casa + "/data", "VELRISA_BUZON=" + m_buzon, "QT_QPA_PLATFORM=xcb", "LANG=C.UTF-8",
                programa + QStringLiteral("/velrisa") });
        QVERIFY(p.velrisa->waitForStarted());
    }

    // The sender's own Velrisa, on the other computer (offscreen: only its history is looked at).
    const QString casa = m_raiz.filePath(QStringLiteral("remitente"));
    for (const char *sub : { "run", "config", "data" })
        QVERIFY(preparar(casa + QLatin1Char('/') + QLatin1String(sub), 0, 0, 0700));
    m_remitente = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), casa + QStringLiteral("/run"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), casa + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), casa + QStringLiteral("/data"));
    env.insert(QStringLiteral("VELRISA_BUZON"), buzonEmisor);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_remitente->setProcessEnvironment(env);
    m_remitente->setProcessChannelMode(QProcess::ForwardedChannels);
    m_remitente->start(programa + QStringLiteral("/velrisa"), {});
    QVERIFY(m_remitente->waitForStarted());

    // Everybody up: each person's main window is there, the sender's history written.
    for (const Persona &p : m_personas)
        QTRY_VERIFY_WITH_TIMEOUT(!ventanas(p, QStringLiteral("elrisa")).isEmpty(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(casa + QStringLiteral("/data/velrisa/recibidos.json")), 15000);
}

void tst_RecepcionPersonas::cleanupTestCase()
{
    std::vector<QProcess *> procesos { m_remitente.get() };
    for (Persona &p : m_personas)
        procesos.push_back(p.velrisa.get());
    for (QProcess *p : procesos) {
        if (p && p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(5000)) {
                p->kill();
                p->waitForFinished(2000);
            }
        }
    }
    for (Persona &p : m_personas) {
        // Whatever still runs as a user this test made was started by this test.
        if (p.uid != 0) {
            for (const QString &e : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
                struct stat st = {};
                bool numerico = false;
                const int pid = e.toInt(&numerico);
                if (numerico && ::stat(QFile::encodeName(QStringLiteral("/proc/") + e).constData(), &st) == 0
                    && st.st_uid == p.uid)
                    ::kill(pid, SIGKILL);
            }
        }
        if (p.xvfb) {
            p.xvfb->terminate();
            p.xvfb->waitForFinished(5000);
        }
        if (!p.usuario.isEmpty() && p.uid != 0)
            SambaHost::run(QString(), QStringLiteral("userdel"), { p.usuario });
    }
    m_recibe.reset();
    m_emisor.reset();
    m_red.reset();
}

QByteArray tst_RecepcionPersonas::xdotool(const Persona &p, const QStringList &args, int *codigo) const
{
    return SambaHost::run(
        QString(), QStringLiteral("env"), QStringList { "DISPLAY=" + p.pantalla, "xdotool" } + args, codigo, 10000)
        .trimmed();
}

QStringList tst_RecepcionPersonas::ventanas(const Persona &p, const QString &titulo) const
{
    const QByteArray ids = xdotool(p, { "search", "--onlyvisible", "--name", titulo });
    QStringList lista;
    for (const QByteArray &id : ids.split('\n')) {
        if (!id.isEmpty())
            lista << QString::fromLatin1(id);
    }
    return lista;
}

int tst_RecepcionPersonas::comoUsuario(const QString &usuario, const QStringList &mandato) const
{
    int codigo = -1;
    SambaHost::run(QString(), QStringLiteral("runuser"), QStringList { "-u", usuario, "--" } + mandato, &codigo);
    return codigo;
}

// From the other computer, as "jefa", with Samba's own client.
bool tst_RecepcionPersonas::enviar(const QString &destino, const QString &texto)
{
    QProcess smbclient;
    smbclient.setProcessChannelMode(QProcess::MergedChannels);
    smbclient.start(QStringLiteral("ip"),
        { "netns", "exec", m_red->member(1), "smbclient", "-s", m_confEmisor, "-M", destino, "-I", m_red->address(0),
            "-p", "139", "-N", "-U", "jefa" });
    if (!smbclient.waitForStarted())
        return false;
    smbclient.write(texto.toUtf8());
    smbclient.closeWriteChannel();
    if (!smbclient.waitForFinished(30000))
        return false;
    const QByteArray dicho = smbclient.readAll();
    if (smbclient.exitCode() != 0 || dicho.contains("cli_message returned")) {
        qWarning("smbclient: %s", dicho.constData());
        return false;
    }
    return true;
}

QJsonArray tst_RecepcionPersonas::recibidosDelRemitente() const
{
    // The history file, and the messages its journal added since it was written whole.
    QJsonArray mensajes;
    QFile f(m_raiz.filePath(QStringLiteral("remitente/data/velrisa/recibidos.json")));
    if (f.open(QIODevice::ReadOnly))
        mensajes = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("mensajes")).toArray();
    QFile diario(m_raiz.filePath(QStringLiteral("remitente/data/velrisa/recibidos.diario")));
    if (diario.open(QIODevice::ReadOnly)) {
        for (const QByteArray &linea : diario.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(linea).object();
            if (o.contains(QStringLiteral("texto")))
                mensajes.append(o);
        }
    }
    return mensajes;
}

void tst_RecepcionPersonas::cadaPersonaVeLoSuyoYLaRespuestaLlegaAlRemitente()
{
    const QString recibido = QStringLiteral("^Mensaje recibido$");
    Persona &a = m_personas[0];
    Persona &b = m_personas[1];

    // To each person's name: a pop-up for that person, none for the other.
    for (int i = 0; i < 2; ++i) {
        const Persona &p = m_personas[i];
        const Persona &otra = m_personas[1 - i];
        // smbclient sends the called name as typed; smbd hands it over in lower case.
        QVERIFY(enviar(p.usuario.toUpper(), QStringLiteral("solo para %1").arg(p.usuario)));
        QTRY_COMPARE_WITH_TIMEOUT(ventanas(p, recibido).size(), 1, 5000);
        const QStringList registros
            = QDir(m_buzon + QLatin1Char('/') + p.usuario).entryList({ QStringLiteral("m*") }, QDir::Files);
        QCOMPARE(registros.size(), 1);
        // The person reads it; the other one can neither list the folder nor open the record.
        QCOMPARE(comoUsuario(p.usuario, { "ls", m_buzon + QLatin1Char('/') + p.usuario }), 0);
        QVERIFY(comoUsuario(otra.usuario, { "ls", m_buzon + QLatin1Char('/') + p.usuario }) != 0);
        QVERIFY(comoUsuario(otra.usuario,
                    { "cat", m_buzon + QLatin1Char('/') + p.usuario + QLatin1Char('/') + registros.first() })
            != 0);
    }
    QTest::qWait(1000);
    QCOMPARE(ventanas(a, recibido).size(), 1);
    QCOMPARE(ventanas(b, recibido).size(), 1);

    // "&Responder" in the person's pop-up, then the reply typed and sent from the main window.
    const QString w = ventanas(a, recibido).first();
    xdotool(a, { "windowfocus", "--sync", w });
    xdotool(a, { "key", "--window", w, "alt+r" });
    QTRY_COMPARE_WITH_TIMEOUT(ventanas(a, recibido).size(), 0, 5000);
    const QStringList principal = ventanas(a, QStringLiteral("elrisa"));
    QVERIFY(!principal.isEmpty());
    xdotool(a, { "windowfocus", "--sync", principal.first() });
    xdotool(a, { "type", "--delay", "20", "de acuerdo" });
    xdotool(a, { "key", "Return" });
    QJsonObject respuesta;
    QElapsedTimer reloj;
    reloj.start();
    while (respuesta.isEmpty() && reloj.elapsed() < 20000) {
        for (const QJsonValue &v : recibidosDelRemitente()) {
            if (v[QStringLiteral("texto")].toString() == QStringLiteral("de acuerdo"))
                respuesta = v.toObject();
        }
        QTest::qWait(100);
    }
    QVERIFY2(!respuesta.isEmpty(), "the reply did not reach the sender's Velrisa");
    QCOMPARE(respuesta[QStringLiteral("para")].toString(), QStringLiteral("jefa"));
    QCOMPARE(respuesta[QStringLiteral("de")].toString(), a.usuario);
    QCOMPARE(respuesta[QStringLiteral("direccion")].toString(), m_red->address(0));

    // To the computer: a pop-up for each person.
    QVERIFY(enviar(QStringLiteral("RECIBE"), QStringLiteral("para todos")));
    QTRY_COMPARE_WITH_TIMEOUT(ventanas(a, recibido).size(), 1, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(ventanas(b, recibido).size(), 2, 5000);
}

QTEST_GUILESS_MAIN(tst_RecepcionPersonas)
#include "tst_RecepcionPersonas.moc"
