#include "fakes/TestSupport.h"

#include "addressbook/Module.h"
#include "fakes/FakeRuntime.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    if (windowLook && QCoreApplication::instance() && QCoreApplication::instance()->inherits("QApplication"))
        windowLook();
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

bool writeBook(Module &module, const QStringList &computers, const QStringList &networks)
{
    for (int kind = 0; kind < 2; ++kind) {
        while (module.total(kind) > 0)
            module.removeAt(kind, 1);
        for (const QString &name : kind == 0 ? computers : networks)
            module.add(kind, name);
    }
    module.GuardarListas();
    return QFile::exists(module.addressBookPath());
}

ProgramFixture::ProgramFixture() = default;
ProgramFixture::~ProgramFixture() = default;

bool ProgramFixture::prepare()
{
    m_base = std::make_unique<QTemporaryDir>();
    return m_base->isValid() && prepareEnvironment(m_base->path());
}

bool ProgramFixture::renew()
{
    reset();
    m_program = std::make_unique<QTemporaryDir>(m_base->filePath(QStringLiteral("prog-XXXXXX")));
    m_rt = std::make_unique<FakeRuntime>();
    m_rt->m_appPath = m_program->path();
    return m_program->isValid();
}

void ProgramFixture::reset()
{
    m_rt.reset();
    m_program.reset();
}

QString ProgramFixture::programPath() const
{
    return m_program->path() + QLatin1Char('/');
}

QString ProgramFixture::base() const
{
    return m_base->path();
}

} // namespace TestSupport
