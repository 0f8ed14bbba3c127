#include "fakes/TestSupport.h"

#include "addressbook/Module.h"
#include "widgets/Appearance.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QLocale>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace TestSupport {

bool prepareEnvironment(const QString &base)
{
    static QTemporaryDir own;
    const QString root = base.isEmpty() ? own.path() : base;
    if (root.isEmpty())
        return false;
    const QString run = root + QStringLiteral("/run");
    QLocale::setDefault(QLocale::c());
    // Windows are tested as the program shows them: in its typeface, Qt's texts in Spanish.
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        Appearance::apply();
    // No mailbox: a program under test receives nothing unless the test makes one.
    return QDir().mkpath(run) && setMode(run, 0700) && qputenv("XDG_RUNTIME_DIR", QFile::encodeName(run))
        && qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/config")))
        && qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/data")))
        && qputenv("XDG_CACHE_HOME", QFile::encodeName(root + QStringLiteral("/cache")))
        && qputenv("VELRISA_BUZON", QFile::encodeName(root + QStringLiteral("/buzon")));
}

QString newFolder(const QString &base)
{
    static int serial = 0;
    QString dir;
    do
        dir = QStringLiteral("%1/p%2/").arg(base).arg(++serial);
    while (QFileInfo::exists(dir));
    return QDir().mkpath(dir) ? dir : QString();
}

bool writeFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return !permissions || f.setPermissions(permissions);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool setMode(const QString &path, uint mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

bool prepareProgram(const QString &dir, const QString &script)
{
    const QString target = QDir(dir).filePath(QStringLiteral("net"));
    QFile::remove(target);
    return QDir().mkpath(dir) && QFile::copy(QStringLiteral(VELRISA_TEST_DATA "/") + script, target)
        && QFile::setPermissions(target, kExecutable);
}

QList<QStringList> netCalls(const QString &dir)
{
    QFile f(QDir(dir).filePath(QStringLiteral("net.registro")));
    QList<QStringList> result;
    if (!f.open(QIODevice::ReadOnly))
        return result;
    // Each call: the argument count, then each argument, all NUL-terminated.
    const QList<QByteArray> parts = f.readAll().split('\0');
    for (qsizetype k = 0; k + 1 < parts.size();) {
        const int n = parts.at(k).toInt();
        QStringList args;
        for (int j = 1; j <= n && k + j < parts.size(); ++j)
            args << QString::fromLocal8Bit(parts.at(k + j));
        result << args;
        k += n + 1;
    }
    return result;
}

bool activate(QWidget *window)
{
    window->show();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

bool writeBook(Module &module, const QStringList &computers, const QStringList &networks)
{
    module.ListaEquipos = computers;
    module.TotalEquipos = qint16(computers.size());
    module.ListaRedes = networks;
    module.TotalRedes = qint16(networks.size());
    module.GuardarListas();
    return QFile::exists(module.addressBookPath());
}

QStringList itemTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

bool clickItem(QListWidget *list, const QString &text)
{
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    if (found.isEmpty())
        return false;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.first()).center());
    return true;
}

ModalDriver::ModalDriver(std::function<bool(QWidget *)> act)
    : m_act(std::move(act))
{
    m_poll.setInterval(10);
    QObject::connect(&m_poll, &QTimer::timeout, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        const QString name = QString::fromLatin1(modal->metaObject()->className());
        // Stopped first: the action may open a modal window of its own, which runs a loop here.
        m_poll.stop();
        if (!m_act(modal)) {
            m_poll.start();
            return;
        }
        m_handled = true;
        m_className = name;
    });
    m_poll.start();
    m_safetyNet.setSingleShot(true);
    QObject::connect(&m_safetyNet, &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    m_safetyNet.start(10000);
}

} // namespace TestSupport
