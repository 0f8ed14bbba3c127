#include "dispatch/LineaLote.h"
#include "dispatch/ResultadoEnvio.h"
#include "runtime/DataFileQt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

// The batch line and the reading of the command's output, without windows or processes.
class tst_DespachoLinea : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lineaSegunDestinoYMensaje_data();
    void lineaSegunDestinoYMensaje();
    void contenidoTerminaEnLfEnUtf8();
    void primerCampo_data();
    void primerCampo();
    void archivoLoteReemplazaEntero();
};

void tst_DespachoLinea::lineaSegunDestinoYMensaje_data()
{
    QTest::addColumn<QString>("destino");
    QTest::addColumn<bool>("grupo");
    QTest::addColumn<QString>("mensaje");
    QTest::addColumn<QString>("ruta");
    QTest::addColumn<QString>("linea");

    QTest::newRow("grupo, varias palabras")
        << "OFICINA" << true << "Hola a todos"
        << "/srv/Mensajeria/"
        << R"(net send /domain:OFICINA Hola a todos > "/srv/Mensajeria/mensaje.txt")";
    QTest::newRow("equipo") << "PEPE" << false << "hola"
                            << "/opt/v/"
                            << R"(net send PEPE hola > "/opt/v/mensaje.txt")";
    QTest::newRow("raiz sin barra doble") << "PEPE" << false << "hola"
                                          << "/"
                                          << R"(net send PEPE hola > "/mensaje.txt")";
    QTest::newRow("mensaje sin recortar") << "PEPE" << false << "  dos  blancos "
                                          << "/d/"
                                          << R"(net send PEPE   dos  blancos  > "/d/mensaje.txt")";
    QTest::newRow("mensaje vacio") << "PEPE" << false << ""
                                   << "/d/"
                                   << R"(net send PEPE  > "/d/mensaje.txt")";
    QTest::newRow("letras y signos corrientes")
        << "José-Peña_2" << false << "¿Qué tal? ¡Café, 50% €! a=b ^x ]"
        << "/d/" << QStringLiteral("net send José-Peña_2 ¿Qué tal\\? ¡Café, 50% €! a=b ^x ] > \"/d/mensaje.txt\"");
    QTest::newRow("redireccion y tuberia") << "a>b" << false << "x | rm -rf ~ & y; z"
                                           << "/d/"
                                           << R"(net send a\>b x \| rm -rf \~ \& y\; z > "/d/mensaje.txt")";
    QTest::newRow("sustituciones") << "$(id)" << true << "`date` ${HOME} $$"
                                   << "/d/"
                                   << R"(net send /domain:\$\(id\) \`date\` \${HOME} \$\$ > "/d/mensaje.txt")";
    QTest::newRow("comillas y barra") << "o'neil" << false << "dijo \"hola\\\" 'x'"
                                      << "/d/"
                                      << R"(net send o\'neil dijo \"hola\\\" \'x\' > "/d/mensaje.txt")";
    QTest::newRow("comodines y comentario") << "*" << false << "#no ? [ab] *.txt"
                                            << "/d/"
                                            << R"(net send \* \#no \? \[ab] \*.txt > "/d/mensaje.txt")";
    QTest::newRow("tabulador y salto de linea") << "a\tb" << false << "uno\ndos"
                                                << "/d/"
                                                << "net send a\\\tb uno'\n'dos > \"/d/mensaje.txt\"";
    QTest::newRow("directorio con dolar y comilla invertida")
        << "PEPE" << false << "hola"
        << "/tmp/a$b/c`d`/e\"f\\g/"
        << R"(net send PEPE hola > "/tmp/a\$b/c\`d\`/e\"f\\g/mensaje.txt")";
    QTest::newRow("directorio con blancos y signos que no cuentan entre comillas")
        << "PEPE" << false << "hola"
        << "/tmp/a b;c&d'e*/"
        << R"(net send PEPE hola > "/tmp/a b;c&d'e*/mensaje.txt")";
}

void tst_DespachoLinea::lineaSegunDestinoYMensaje()
{
    QFETCH(QString, destino);
    QFETCH(bool, grupo);
    QFETCH(QString, mensaje);
    QFETCH(QString, ruta);
    QFETCH(QString, linea);
    QCOMPARE(LineaLote::armar(destino, grupo, mensaje, ruta), linea);
}

void tst_DespachoLinea::contenidoTerminaEnLfEnUtf8()
{
    const QByteArray bytes = LineaLote::contenido(QStringLiteral("net send Peña é"));
    QCOMPARE(bytes,
        QByteArray("net send Pe\xc3\xb1"
                   "a \xc3\xa9\n"));
}

void tst_DespachoLinea::primerCampo_data()
{
    QTest::addColumn<QByteArray>("salida");
    QTest::addColumn<QString>("campo");
    QTest::addColumn<int>("resultado");

    QTest::newRow("exito con CR LF") << QByteArray("Mensaje enviado a PEPE.\r\notra\r\n") << "Mensaje enviado a PEPE."
                                     << 1;
    QTest::newRow("minusculas tras blancos")
        << QByteArray("   mensaje ENVIADO a pepe\n") << "mensaje ENVIADO a pepe" << 1;
    QTest::newRow("justo la marca sin fin de linea") << QByteArray("MENSAJE ENVIADO") << "MENSAJE ENVIADO" << 1;
    QTest::newRow("mas corto que la marca") << QByteArray("Mensaje envia\n") << "Mensaje envia" << 0;
    QTest::newRow("marca tras una coma") << QByteArray("Error, Mensaje enviado\n") << "Error" << 0;
    QTest::newRow("campo cortado por coma") << QByteArray("Mensaje enviado, a PEPE\n") << "Mensaje enviado" << 1;
    QTest::newRow("marca en la segunda linea") << QByteArray("Error 2273\nMensaje enviado\n") << "Error 2273" << 0;
    QTest::newRow("primera linea vacia") << QByteArray("\nMensaje enviado\n") << "" << 0;
    QTest::newRow("linea de blancos") << QByteArray("    \nMensaje enviado\n") << "" << 0;
    QTest::newRow("tabulador no se salta") << QByteArray("\tMensaje enviado\n") << "\tMensaje enviado" << 0;
    QTest::newRow("entre comillas con coma")
        << QByteArray("  \"Mensaje enviado, ok\",x\n") << "Mensaje enviado, ok" << 1;
    QTest::newRow("comillas que cortan la marca") << QByteArray("\"Mensaje\" enviado\n") << "Mensaje" << 0;
    QTest::newRow("comilla sin cerrar acaba en la linea")
        << QByteArray("\"Mensaje enviado\nx\"\n") << "Mensaje enviado" << 1;
    QTest::newRow("solo CR como fin de linea") << QByteArray("Fallo\rMensaje enviado") << "Fallo" << 0;
    QTest::newRow("letras no ASCII") << QByteArray("Mensaje enviado a Peña\n") << "Mensaje enviado a Peña" << 1;
}

void tst_DespachoLinea::primerCampo()
{
    QFETCH(QByteArray, salida);
    QFETCH(QString, campo);
    QFETCH(int, resultado);
    const QString leido = ResultadoEnvio::primerCampo(salida);
    QCOMPARE(leido, campo);
    QCOMPARE(int(ResultadoEnvio::evaluar(leido)), resultado);
}

// The batch file is replaced whole: a link in its place is replaced, not written through; an
// executable file stays executable; a leftover of a crashed run does not block the write; a
// failed write leaves nothing behind.
void tst_DespachoLinea::archivoLoteReemplazaEntero()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString lote = dir.filePath(QStringLiteral("ejecuta.bat"));
    const QString destinoEnlace = dir.filePath(QStringLiteral("ajeno.txt"));
    auto leer = [](const QString &ruta) {
        QFile f(ruta);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<falta>");
    };
    auto escribir = [](const QString &ruta, const QByteArray &bytes) {
        QFile f(ruta);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    // As the dispatch writes it: whole, not forced to disk.
    auto guardarLote = [](const QString &ruta, const QByteArray &bytes, QString &error) {
        return DataFileQt::replace(ruta, bytes, DataFile::Sync::NoFlush, &error);
    };
    QString error;

    QVERIFY(escribir(destinoEnlace, "ajeno\n"));
    QVERIFY(QFile::link(destinoEnlace, lote));
    QVERIFY(guardarLote(lote, "uno\n", error));
    QVERIFY(!QFileInfo(lote).isSymLink());
    QCOMPARE(leer(lote), QByteArray("uno\n"));
    QCOMPARE(leer(destinoEnlace), QByteArray("ajeno\n"));

    QVERIFY(QFile::setPermissions(lote, QFile::permissions(lote) | QFileDevice::ExeOwner));
    const QString sobrante = lote + QStringLiteral(".%1.nuevo").arg(QCoreApplication::applicationPid());
    QVERIFY(escribir(sobrante, "resto de otra vez"));
    QVERIFY(guardarLote(lote, "dos\n", error));
    QCOMPARE(leer(lote), QByteArray("dos\n"));
    QVERIFY(QFile::permissions(lote) & QFileDevice::ExeOwner);

    const QString enCarpetaQueFalta = dir.filePath(QStringLiteral("no/hay/ejecuta.bat"));
    QVERIFY(!guardarLote(enCarpetaQueFalta, "tres\n", error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
        (QStringList { QStringLiteral("ajeno.txt"), QStringLiteral("ejecuta.bat") }));
}

QTEST_GUILESS_MAIN(tst_DespachoLinea)
#include "tst_DespachoLinea.moc"
