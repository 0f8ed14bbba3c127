#include "app/Startup.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"
#include "mainwindow/frmPrincipal.h"
#include "net/SambaHost.h"
#include "sentlog/MessagesModel.h"
#include "sentlog/frmMensajes.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

// The whole road of a send: the main window, the batch line, the real net program
// beside it and real smbd "computers" on loopback.
class tst_netProgram : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void sendRunDeliversToEachRecipientAndLogsTheOutcome();

private:
    QTemporaryDir m_root;
    std::unique_ptr<SambaHost> m_office1;
    std::unique_ptr<SambaHost> m_office2;
};

void tst_netProgram::initTestCase()
{
    QVERIFY(m_root.isValid());
    // Nothing received here: no mailbox, and no history of the user's touched.
    QVERIFY(TestSupport::prepareEnvironment(m_root.path()));
    if (::geteuid() != 0)
        QSKIP("needs root: smbd serves messages on port 139");
    if (QStandardPaths::findExecutable(QStringLiteral("smbd"), { QStringLiteral("/usr/sbin") }).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("smbclient")).isEmpty())
        QSKIP("smbd or smbclient is not installed (packages samba, smbclient)");
    // The guest user that smbd's message command runs as must reach the spool folders.
    QVERIFY(QFile::setPermissions(m_root.path(), QFileDevice::Permissions(0x7755)));

    // Addresses of their own, so this test may run beside the other delivery tests.
    auto host = [this](const char *name, const char *address) {
        SambaHost::Settings s;
        s.netbiosName = QString::fromLatin1(name);
        s.workgroup = QStringLiteral("OFICINA");
        s.address = QString::fromLatin1(address);
        s.interfaces = s.address + QStringLiteral("/8");
        const QString dir = m_root.filePath(s.netbiosName);
        QDir().mkpath(dir);
        return std::make_unique<SambaHost>(dir, s);
    };
    m_office1 = host("OFICINA1", "127.0.0.7");
    m_office2 = host("OFICINA2", "127.0.0.8");
    QVERIFY2(m_office1->start(), qPrintable(m_office1->error()));
    QVERIFY2(m_office2->start(), qPrintable(m_office2->error()));
}

void tst_netProgram::cleanupTestCase()
{
    m_office1.reset();
    m_office2.reset();
}

void tst_netProgram::sendRunDeliversToEachRecipientAndLogsTheOutcome()
{
    const QString program = m_root.filePath(QStringLiteral("programa"));
    QVERIFY(QDir().mkpath(program));
    QVERIFY(QFile::copy(QStringLiteral(NET_BINARY), program + QStringLiteral("/net")));
    const QString conf = SambaHost::writeClientConfig(m_root.path(), QStringLiteral("lo"), QStringLiteral("OFICINA"));
    QFile ini(program + QStringLiteral("/net.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Equipos]\nOFICINA1=127.0.0.7\nOFICINA2=127.0.0.8\n[Opciones]\nConfiguracion=" + conf.toUtf8() + "\n");
    ini.close();

    FakeRuntime rt;
    rt.m_appPath = program;
    Startup startup(rt);
    startup.start();
    frmPrincipal &window = startup.mainWindow();
    auto *recipientBox = window.findChild<QComboBox *>(QStringLiteral("txtDestino"));
    auto *messageEdit = window.findChild<QLineEdit *>(QStringLiteral("txtMensaje"));
    auto *computerOption = window.findChild<QRadioButton *>(QStringLiteral("optGrupo(0)"));
    auto *sendButton = window.findChild<QPushButton *>(QStringLiteral("cmdEnviar"));
    QVERIFY(recipientBox && messageEdit && computerOption && sendButton);

    const QString text = QStringLiteral("Hola, ¿qué tal? Año 2026");
    computerOption->setChecked(true);
    recipientBox->setEditText(QStringLiteral("OFICINA1 OFICINA2 NOEXISTE"));
    messageEdit->setText(text);
    QVERIFY(sendButton->isEnabled());
    sendButton->click();

    const MessagesModel &log = window.messages().model();
    QCOMPARE(log.rowCount(), 3);
    const QStringList recipients { "OFICINA1", "OFICINA2", "NOEXISTE" };
    const QStringList results { "Enviado", "Enviado", "Error" };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(log.row(i).Para, recipients.at(i));
        QCOMPARE(log.row(i).Resultado, results.at(i));
        QCOMPARE(log.row(i).Mensaje, text);
    }
    QVERIFY2(rt.m_boxes.isEmpty(), qPrintable(rt.m_boxes.value(0).text));

    const auto got1 = m_office1->messages();
    const auto got2 = m_office2->messages();
    QCOMPARE(got1.size(), 1);
    QCOMPARE(got2.size(), 1);
    QCOMPARE(got1.first().calledName, QStringLiteral("oficina1"));
    QCOMPARE(got2.first().calledName, QStringLiteral("oficina2"));
    QCOMPARE(QString::fromUtf8(got1.first().text), text);
    QCOMPARE(QString::fromUtf8(got2.first().text), text);
}

QTEST_MAIN(tst_netProgram)
#include "tst_netProgram.moc"
