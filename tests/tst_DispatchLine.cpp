#include "dispatch/BatchLine.h"
#include "dispatch/SendResult.h"
#include "runtime/DataFileQt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

// The batch line and the reading of the command's output, without windows or processes.
class tst_DispatchLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lineFollowsRecipientAndMessage_data();
    void lineFollowsRecipientAndMessage();
    void contentEndsInLfInUtf8();
    void firstOutputFieldDecidesTheResult_data();
    void firstOutputFieldDecidesTheResult();
    void batchFileIsReplacedWhole();
};

void tst_DispatchLine::lineFollowsRecipientAndMessage_data()
{
    QTest::addColumn<QString>("recipient");
    QTest::addColumn<bool>("group");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("line");

    QTest::newRow("group, several words") << "OFICINA" << true << "Hola a todos"
                                          << "/srv/Mensajeria/"
                                          << R"(net send /domain:OFICINA Hola a todos > "/srv/Mensajeria/mensaje.txt")";
    QTest::newRow("computer") << "PEPE" << false << "hola"
                              << "/opt/v/"
                              << R"(net send PEPE hola > "/opt/v/mensaje.txt")";
    QTest::newRow("root without a double slash") << "PEPE" << false << "hola"
                                                 << "/"
                                                 << R"(net send PEPE hola > "/mensaje.txt")";
    QTest::newRow("message not trimmed") << "PEPE" << false << "  dos  blancos "
                                         << "/d/"
                                         << R"(net send PEPE   dos  blancos  > "/d/mensaje.txt")";
    QTest::newRow("empty message") << "PEPE" << false << ""
                                   << "/d/"
                                   << R"(net send PEPE  > "/d/mensaje.txt")";
    QTest::newRow("ordinary letters and signs")
        << "José-Peña_2" << false << "¿Qué tal? ¡Café, 50% €! a=b ^x ]"
        << "/d/" << QStringLiteral("net send José-Peña_2 ¿Qué tal\\? ¡Café, 50% €! a=b ^x ] > \"/d/mensaje.txt\"");
    QTest::newRow("redirection and pipe") << "a>b" << false << "x | rm -rf ~ & y; z"
                                          << "/d/"
                                          << R"(net send a\>b x \| rm -rf \~ \& y\; z > "/d/mensaje.txt")";
    QTest::newRow("substitutions") << "$(id)" << true << "`date` ${HOME} $$"
                                   << "/d/"
                                   << R"(net send /domain:\$\(id\) \`date\` \${HOME} \$\$ > "/d/mensaje.txt")";
    QTest::newRow("quotes and backslash") << "o'neil" << false << "dijo \"hola\\\" 'x'"
                                          << "/d/"
                                          << R"(net send o\'neil dijo \"hola\\\" \'x\' > "/d/mensaje.txt")";
    QTest::newRow("wildcards and comment") << "*" << false << "#no ? [ab] *.txt"
                                           << "/d/"
                                           << R"(net send \* \#no \? \[ab] \*.txt > "/d/mensaje.txt")";
    QTest::newRow("tab and line break") << "a\tb" << false << "uno\ndos"
                                        << "/d/"
                                        << "net send a\\\tb uno'\n'dos > \"/d/mensaje.txt\"";
    QTest::newRow("folder with dollar and backquote")
        << "PEPE" << false << "hola"
        << "/tmp/a$b/c`d`/e\"f\\g/"
        << R"(net send PEPE hola > "/tmp/a\$b/c\`d\`/e\"f\\g/mensaje.txt")";
    QTest::newRow("folder with blanks and signs that do not count in quotes")
        << "PEPE" << false << "hola"
        << "/tmp/a b;c&d'e*/"
        << R"(net send PEPE hola > "/tmp/a b;c&d'e*/mensaje.txt")";
}

void tst_DispatchLine::lineFollowsRecipientAndMessage()
{
    QFETCH(QString, recipient);
    QFETCH(bool, group);
    QFETCH(QString, message);
    QFETCH(QString, path);
    QFETCH(QString, line);
    QCOMPARE(BatchLine::arm(recipient, group, message, path), line);
}

void tst_DispatchLine::contentEndsInLfInUtf8()
{
    const QByteArray bytes = BatchLine::contents(QStringLiteral("net send Peña é"));
    QCOMPARE(bytes,
        QByteArray("net send Pe\xc3\xb1"
                   "a \xc3\xa9\n"));
}

void tst_DispatchLine::firstOutputFieldDecidesTheResult_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("result");

    QTest::newRow("success with CR LF") << QByteArray("Mensaje enviado a PEPE.\r\notra\r\n")
                                        << "Mensaje enviado a PEPE." << 1;
    QTest::newRow("lower case after blanks")
        << QByteArray("   mensaje ENVIADO a pepe\n") << "mensaje ENVIADO a pepe" << 1;
    QTest::newRow("just the mark without line end") << QByteArray("MENSAJE ENVIADO") << "MENSAJE ENVIADO" << 1;
    QTest::newRow("shorter than the mark") << QByteArray("Mensaje envia\n") << "Mensaje envia" << 0;
    QTest::newRow("mark after a comma") << QByteArray("Error, Mensaje enviado\n") << "Error" << 0;
    QTest::newRow("field cut at a comma") << QByteArray("Mensaje enviado, a PEPE\n") << "Mensaje enviado" << 1;
    QTest::newRow("mark on the second line") << QByteArray("Error 2273\nMensaje enviado\n") << "Error 2273" << 0;
    QTest::newRow("empty first line") << QByteArray("\nMensaje enviado\n") << "" << 0;
    QTest::newRow("line of blanks") << QByteArray("    \nMensaje enviado\n") << "" << 0;
    QTest::newRow("tab is not skipped") << QByteArray("\tMensaje enviado\n") << "\tMensaje enviado" << 0;
    QTest::newRow("quoted with a comma") << QByteArray("  \"Mensaje enviado, ok\",x\n") << "Mensaje enviado, ok" << 1;
    QTest::newRow("quotes that cut the mark") << QByteArray("\"Mensaje\" enviado\n") << "Mensaje" << 0;
    QTest::newRow("unclosed quote ends with the line")
        << QByteArray("\"Mensaje enviado\nx\"\n") << "Mensaje enviado" << 1;
    QTest::newRow("lone CR as line end") << QByteArray("Fallo\rMensaje enviado") << "Fallo" << 0;
    QTest::newRow("non-ASCII letters") << QByteArray("Mensaje enviado a Peña\n") << "Mensaje enviado a Peña" << 1;
}

void tst_DispatchLine::firstOutputFieldDecidesTheResult()
{
    QFETCH(QByteArray, output);
    QFETCH(QString, field);
    QFETCH(int, result);
    const QString readField = SendResult::firstField(output);
    QCOMPARE(readField, field);
    QCOMPARE(int(SendResult::evaluate(readField)), result);
}

// The batch file is replaced whole: a link in its place is replaced, not written through; an
// executable file stays executable; a leftover of a crashed run does not block the write; a
// failed write leaves nothing behind.
void tst_DispatchLine::batchFileIsReplacedWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString batchFile = dir.filePath(QStringLiteral("ejecuta.bat"));
    const QString linkTarget = dir.filePath(QStringLiteral("ajeno.txt"));
    auto load = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<falta>");
    };
    auto store = [](const QString &path, const QByteArray &bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    // As the dispatch writes it: whole, not forced to disk.
    auto saveBatch = [](const QString &path, const QByteArray &bytes, QString &error) {
        return DataFileQt::replace(path, bytes, DataFile::Sync::NoFlush, &error);
    };
    QString error;

    QVERIFY(store(linkTarget, "ajeno\n"));
    QVERIFY(QFile::link(linkTarget, batchFile));
    QVERIFY(saveBatch(batchFile, "uno\n", error));
    QVERIFY(!QFileInfo(batchFile).isSymLink());
    QCOMPARE(load(batchFile), QByteArray("uno\n"));
    QCOMPARE(load(linkTarget), QByteArray("ajeno\n"));

    QVERIFY(QFile::setPermissions(batchFile, QFile::permissions(batchFile) | QFileDevice::ExeOwner));
    const QString leftover = batchFile + QStringLiteral(".%1.nuevo").arg(QCoreApplication::applicationPid());
    QVERIFY(store(leftover, "resto de otra vez"));
    QVERIFY(saveBatch(batchFile, "dos\n", error));
    QCOMPARE(load(batchFile), QByteArray("dos\n"));
    QVERIFY(QFile::permissions(batchFile) & QFileDevice::ExeOwner);

    const QString inMissingFolder = dir.filePath(QStringLiteral("no/hay/ejecuta.bat"));
    QVERIFY(!saveBatch(inMissingFolder, "tres\n", error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
        (QStringList { QStringLiteral("ajeno.txt"), QStringLiteral("ejecuta.bat") }));
}

QTEST_GUILESS_MAIN(tst_DispatchLine)
#include "tst_DispatchLine.moc"
