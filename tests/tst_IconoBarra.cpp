#include "fakes/TestSupport.h"
#include "runtime/IconoBarra.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QXmlStreamReader>

using namespace TestSupport;

namespace {

const QString kVigilante = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kAvisos = QStringLiteral("org.freedesktop.Notifications");
// A sender's name and text that look like markup, as they come from the network.
const QString kTitulo = QStringLiteral("Mensaje de <i>ana</i>");
const QString kTexto = QStringLiteral("Hola, <b>qué</b> tal? &amp;\n1 < 2");

// What a label shows: its text, or what that text says as markup where the label reads it so.
QString mostrado(const QLabel *etiqueta)
{
    const Qt::TextFormat formato = etiqueta->textFormat();
    if (formato == Qt::PlainText || (formato == Qt::AutoText && !Qt::mightBeRichText(etiqueta->text())))
        return etiqueta->text();
    QTextDocument documento;
    documento.setHtml(etiqueta->text());
    return documento.toPlainText();
}

// What a notification server shows of a body: its markup is XML, a few of HTML's tags. Each
// tag, and a body that is no such markup at all, shows in brackets.
QString leidoComoMarcado(const QString &cuerpo)
{
    QXmlStreamReader xml(QStringLiteral("<cuerpo>") + cuerpo + QStringLiteral("</cuerpo>"));
    QString texto;
    while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
        if (xml.isCharacters())
            texto += xml.text();
        else if (xml.isStartElement() && xml.name() != QLatin1String("cuerpo"))
            texto += QStringLiteral("[<%1>]").arg(xml.name());
    }
    if (xml.hasError())
        texto += QStringLiteral("[%1]").arg(xml.errorString());
    return texto;
}

// A desktop's StatusNotifier host, as far as Qt asks about one.
class Vigilante final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ anfitrion)

public:
    bool anfitrion() const { return true; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &) { }
};

// A desktop's notification server that keeps the last notification, summary and body, in a file.
class Avisos final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit Avisos(const QString &archivo)
        : m_archivo(archivo)
    { }

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &resumen, const QString &cuerpo,
        const QStringList &, const QVariantMap &, int)
    {
        QSaveFile f(m_archivo);
        if (f.open(QIODevice::WriteOnly)) {
            f.write(QJsonDocument(QJsonObject { { "resumen", resumen }, { "cuerpo", cuerpo } }).toJson());
            f.commit();
        }
        return ++m_serie;
    }
    QStringList GetCapabilities() { return { QStringLiteral("body"), QStringLiteral("body-markup") }; }

private:
    QString m_archivo;
    uint m_serie = 0;
};

// "--servicios FILE": this program becomes the desktop's stand-ins on the session bus.
int servicios(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Vigilante vigilante;
    Avisos avisos(QFile::decodeName(argv[2]));
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto exportar = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties;
    if (!bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &vigilante, exportar)
        || !bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &avisos, exportar)
        || !bus.registerService(kVigilante) || !bus.registerService(kAvisos))
        return 1;
    return app.exec();
}

} // namespace

// The tray's notification of a received message shows its title and text as written on
// either kind of tray Qt may use, never taken for markup.
class tst_IconoBarra : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void globoMuestraTituloYTextoTalCual();
    void avisoDelEscritorioMuestraTituloYTextoTalCual();

private:
    QTemporaryDir m_raiz;
};

void tst_IconoBarra::initTestCase()
{
    QVERIFY(m_raiz.isValid());
    QVERIFY(prepareEnvironment(m_raiz.path()));
}

// A plain X11 tray (trayer), no session bus: Qt draws its own balloon.
void tst_IconoBarra::globoMuestraTituloYTextoTalCual()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server: ctest runs this one under xvfb-run with the xcb platform");
    if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
        QSKIP("trayer is not installed (scripts/deps.sh installs it)");
    if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        QSKIP("runs without a session bus, where Qt draws its own balloon: ctest unsets DBUS_SESSION_BUS_ADDRESS");
    QProcess bandeja;
    bandeja.start(QStringLiteral("trayer"),
        { "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24", "--SetDockType", "true",
            "--transparent", "false" });
    QVERIFY(bandeja.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 30000);

    // As at start-up: the notification comes right after the icon is shown, before the tray
    // has taken the icon in.
    IconoBarra icono;
    icono.start();
    QVERIFY(icono.isVisible());
    icono.notificar(kTitulo, kTexto);
    const auto globoVisible = [] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->inherits("QBalloonTip") && w->isVisible())
                return w;
        }
        return static_cast<QWidget *>(nullptr);
    };
    QTRY_VERIFY2_WITH_TIMEOUT(globoVisible(), "no balloon beside the tray icon", 10000);
    QWidget *globo = globoVisible();
    // It points at the icon where the tray shows it (trayer: the top right corner), not at
    // the corner of the screen where the icon stood before.
    const auto enBandeja = [&icono] { return icono.findChild<QSystemTrayIcon *>()->geometry(); };
    const QRect pantalla = globo->screen()->geometry();
    QTRY_VERIFY(enBandeja().center().x() > pantalla.center().x());
    QVERIFY2(globo->geometry().adjusted(-30, -30, 30, 30).contains(enBandeja().center()),
        qPrintable(QDebug::toString(globo->geometry()) + QDebug::toString(enBandeja())));
    // Title above, text below, in the balloon's own grid.
    const auto *rejilla = qobject_cast<QGridLayout *>(globo->layout());
    QVERIFY(rejilla);
    QList<const QLabel *> etiquetas;
    for (int fila = 0; fila < rejilla->rowCount(); ++fila) {
        for (int columna = 0; columna < rejilla->columnCount(); ++columna) {
            const QLayoutItem *celda = rejilla->itemAtPosition(fila, columna);
            const auto *etiqueta = celda ? qobject_cast<QLabel *>(celda->widget()) : nullptr;
            // A label may span cells; the icon's has no text.
            if (etiqueta && !etiqueta->text().isEmpty() && !etiquetas.contains(etiqueta))
                etiquetas << etiqueta;
        }
    }
    QStringList lineas;
    for (const QLabel *etiqueta : std::as_const(etiquetas))
        lineas << mostrado(etiqueta);
    QCOMPARE(lineas, QStringList({ kTitulo, kTexto }));
    bandeja.kill();
    bandeja.waitForFinished();
}

// A StatusNotifier host on the session bus: Qt hands the notification to the desktop's server.
void tst_IconoBarra::avisoDelEscritorioMuestraTituloYTextoTalCual()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        QSKIP("needs a session bus of its own: ctest runs this one under dbus-run-session");
    // Only on a fresh bus, never on a desktop's: nothing but the bus itself has a name there.
    for (const QString &nombre : bus.interface()->registeredServiceNames().value()) {
        if (!nombre.startsWith(QLatin1Char(':')) && nombre != QLatin1String("org.freedesktop.DBus"))
            QSKIP(qPrintable(QStringLiteral("the session bus is not one of its own (%1 is there): ctest runs this "
                                            "one under dbus-run-session")
                                 .arg(nombre)));
    }
    const QString registro = m_raiz.filePath(QStringLiteral("aviso.json"));
    QProcess servicios;
    servicios.setProcessChannelMode(QProcess::ForwardedChannels);
    servicios.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--servicios"), registro });
    QVERIFY(servicios.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(bus.interface()->isServiceRegistered(kVigilante).value()
            && bus.interface()->isServiceRegistered(kAvisos).value(),
        30000);

    // Qt chooses its kind of tray when the first icon is made: here, now that the host is there.
    {
        IconoBarra icono;
        icono.start();
        QVERIFY(icono.isVisible());
        icono.notificar(kTitulo, kTexto);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(registro), 30000);
    }
    const QJsonObject aviso = QJsonDocument::fromJson(readFile(registro)).object();
    // The summary is plain text to a notification server, the body markup.
    QCOMPARE(aviso.value(QLatin1String("resumen")).toString(), kTitulo);
    QCOMPARE(leidoComoMarcado(aviso.value(QLatin1String("cuerpo")).toString()), kTexto);
    servicios.kill();
    servicios.waitForFinished();
}

int main(int argc, char *argv[])
{
    if (argc > 2 && qstrcmp(argv[1], "--servicios") == 0)
        return servicios(argc, argv);
    QApplication app(argc, argv);
    tst_IconoBarra test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_IconoBarra.moc"
