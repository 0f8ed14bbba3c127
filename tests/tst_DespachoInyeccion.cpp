#include "fakes/VentanaEnvioPrueba.h"

#include "dispatch/Despacho.h"
#include "fakes/TestSupport.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// Hostile recipients and messages: whatever the user types, the batch line runs `net`
// once, with exactly the intended words, writes nowhere but mensaje.txt and runs nothing else.
class tst_DespachoInyeccion : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void netRecibeExactamenteLasPalabras_data();
    void netRecibeExactamenteLasPalabras();
};

namespace {

QString alfabeto()
{
    QString a;
    for (char c = 33; c < 127; ++c)
        a += QLatin1Char(c);
    // Letters of Windows-1252 beyond ASCII, and the shell's syntax once more so it turns up often.
    a += QStringLiteral("áéíóúÁÉÍÓÚñÑüÜçÇàèìòùâêîôûäëïöÿ¿¡ºª€£¥©®°±µßæøåÆØÅ");
    a += QStringLiteral("|&;<>()$`\\\"'*?[]#~!{}=%^\t\n|&;<>()$`\\\"'*?#~");
    return a;
}

QString palabra(QRandomGenerator &rng, const QString &alfabeto, int maximo)
{
    QString w;
    const int n = 1 + int(rng.bounded(maximo));
    for (int k = 0; k < n; ++k)
        w += alfabeto.at(int(rng.bounded(int(alfabeto.size()))));
    return w;
}

} // namespace

void tst_DespachoInyeccion::initTestCase()
{
    QVERIFY(TestSupport::prepareEnvironment());
}

void tst_DespachoInyeccion::netRecibeExactamenteLasPalabras_data()
{
    QTest::addColumn<QString>("carpeta");
    QTest::addColumn<quint32>("semilla");
    QTest::addColumn<int>("envios");

    QTest::newRow("carpeta corriente") << "programa" << 20240501u << 500;
    QTest::newRow("carpeta con signos") << "p $x `y` \"q\" 'z' ;&|<>()*?[#~ \\n a$b" << 77u << 500;
}

void tst_DespachoInyeccion::netRecibeExactamenteLasPalabras()
{
    QFETCH(QString, carpeta);
    QFETCH(quint32, semilla);
    QFETCH(int, envios);

    QTemporaryDir dir;
    const QString prog = dir.path() + QLatin1Char('/') + carpeta + QLatin1Char('/');
    QVERIFY(TestSupport::prepareProgram(prog));
    // A file that a glob in the line would match, to catch globbing.
    QVERIFY(TestSupport::writeFile(prog + QStringLiteral("a.txt"), {}));

    RuntimePrueba rt;
    rt.m_appPath = prog.chopped(1);
    VentanaEnvioPrueba ventana;
    ventana.m_ruta = prog;
    ventana.m_ventana.show();
    Despacho despacho(rt, ventana);

    QRandomGenerator rng(semilla);
    const QString letras = alfabeto();
    QList<QStringList> esperadas;
    for (int k = 0; k < envios; ++k) {
        const QString destino = palabra(rng, letras, 12);
        QStringList palabras;
        const int n = int(rng.bounded(5));
        for (int j = 0; j < n; ++j)
            palabras << palabra(rng, letras, 10);
        // Blanks separate the message's words for net, however many there are.
        QString mensaje = palabras.join(rng.bounded(2) ? QStringLiteral(" ") : QStringLiteral("  "));
        if (rng.bounded(4) == 0)
            mensaje.prepend(QLatin1Char(' '));
        ventana.m_grupo = rng.bounded(3) == 0;

        QCOMPARE(int(despacho.EnviarADestino(destino, mensaje)), 1);
        esperadas << (QStringList { "send", (ventana.m_grupo ? QStringLiteral("/domain:") : QString()) + destino }
            + palabras);
    }

    const QList<QStringList> llamadas = TestSupport::netCalls(prog);
    QCOMPARE(llamadas.size(), esperadas.size());
    for (int k = 0; k < esperadas.size(); ++k)
        QCOMPARE(llamadas.at(k), esperadas.at(k));
    QCOMPARE(rt.m_boxes.size(), 0);
    QCOMPARE(ventana.mensajes().filas(), envios);

    const QStringList archivos
        = QDir(prog).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    QCOMPARE(archivos, (QStringList { "a.txt", "ejecuta.bat", "mensaje.txt", "net", "net.registro" }));
    const QStringList fuera = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(fuera, QStringList { carpeta });
}

QTEST_MAIN(tst_DespachoInyeccion)
#include "tst_DespachoInyeccion.moc"
