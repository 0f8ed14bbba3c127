#include "SambaHost.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

// Signals every process whose command line names conf as an argument of its own
// ("-s CONF", "--configfile=CONF"): only what was started for the host of that file.
// Returns how many there were.
int signalProcessesNaming(const QByteArray &conf, int signal)
{
    const QByteArray option = "--configfile=" + conf;
    int found = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (!isPid || pid == ::getpid())
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        // A zombie's is empty: it has ended, and its parent reaps it.
        const QList<QByteArray> args = cmdline.readAll().split('\0');
        if (args.contains(conf) || args.contains(option)) {
            ::kill(pid, signal);
            ++found;
        }
    }
    return found;
}

// smbd starts samba-dcerpcd and its rpcd_* workers for RPC ("smbclient -L"); they detach,
// outlive smbd and pass the configuration on, which is how they are found.
void stopProcessesNaming(const QString &conf)
{
    const QByteArray path = QFile::encodeName(conf);
    const QDeadlineTimer grace(2000);
    const QDeadlineTimer limit(4000);
    while (signalProcessesNaming(path, grace.hasExpired() ? SIGKILL : SIGTERM) > 0 && !limit.hasExpired())
        QThread::msleep(20);
}

} // namespace

SambaHost::SambaHost(const QString &dir, const Settings &settings)
    : m_dir(dir)
    , m_settings(settings)
    , m_spool(dir + QStringLiteral("/spool"))
    , m_conf(dir + QStringLiteral("/smb.conf"))
{ }

SambaHost::~SambaHost()
{
    stop();
}

SambaHost::Settings SambaHost::receiving(const QString &name, const QString &workgroup, const QString &address,
    const QString &receiverBinary, const QString &mailbox)
{
    Settings s;
    s.netbiosName = name;
    s.workgroup = workgroup;
    s.address = address;
    s.interfaces = address + QStringLiteral("/8");
    s.messageCommand = QStringLiteral("%1 --buzon=%2 '%f' '%L' '%s'").arg(receiverBinary, mailbox);
    return s;
}

QString SambaHost::writeClientConfig(const QString &dir, const QString &interfaces, const QString &workgroup)
{
    QDir().mkpath(dir + QStringLiteral("/client"));
    const QString c = dir + QStringLiteral("/client");
    const QString path = dir + QStringLiteral("/client.conf");
    writeFile(path,
        QStringLiteral("[global]\n"
                       "workgroup = %1\n"
                       "interfaces = %2\n"
                       "bind interfaces only = yes\n"
                       "name resolve order = bcast\n"
                       "lock directory = %3\n"
                       "state directory = %3\n"
                       "cache directory = %3\n"
                       "private dir = %3\n"
                       "pid directory = %3\n")
            .arg(workgroup, interfaces, c)
            .toUtf8());
    return path;
}

bool SambaHost::start()
{
    QDir root(m_dir);
    for (const char *sub : { "state", "lock", "cache", "private", "pid", "ncalrpc", "nmbd", "spool" }) {
        if (!root.mkpath(QString::fromLatin1(sub))) {
            m_error = QStringLiteral("cannot create %1/%2").arg(m_dir, QString::fromLatin1(sub));
            return false;
        }
    }
    // The message command runs as the guest user: the spool must be open to it.
    if (::chmod(QFile::encodeName(m_spool).constData(), 01777) != 0) {
        m_error = QStringLiteral("cannot open the spool folder to everybody");
        return false;
    }

    QString conf = QStringLiteral("[global]\n"
                                  "netbios name = %1\n"
                                  "workgroup = %2\n"
                                  "server min protocol = NT1\n"
                                  "smb ports = %3\n"
                                  "interfaces = %4\n"
                                  "bind interfaces only = yes\n"
                                  "disable netbios = no\n"
                                  "state directory = %5/state\n"
                                  "lock directory = %5/lock\n"
                                  "cache directory = %5/cache\n"
                                  "private dir = %5/private\n"
                                  "pid directory = %5/pid\n"
                                  "ncalrpc dir = %5/ncalrpc\n"
                                  // nmbd's packet socket is otherwise one path for the
                                  // whole machine: of two nmbd started together, one exits.
                                  "nmbd:socket dir = %5/nmbd\n"
                                  "log level = %6\n")
                       .arg(m_settings.netbiosName, m_settings.workgroup)
                       .arg(m_settings.port)
                       .arg(m_settings.interfaces, m_dir)
                       .arg(m_settings.logLevel)
        + m_settings.extraGlobal;
    if (m_settings.acceptMessages && !m_settings.messageCommand.isEmpty()) {
        conf += QStringLiteral("message command = %1\n").arg(m_settings.messageCommand);
    } else if (m_settings.acceptMessages) {
        // One file per message, named "called.sender.N"; written under a temporary name
        // first so that a reader never sees half a message.
        conf += QStringLiteral("message command = /bin/sh -c 'n=$$; cat %s > %1/.%L.%f.$n; "
                               "mv %1/.%L.%f.$n %1/%L.%f.$n; rm -f %s'\n")
                    .arg(m_spool);
    }
    if (!writeFile(m_conf, conf.toUtf8())) {
        m_error = QStringLiteral("cannot write %1").arg(m_conf);
        return false;
    }

    m_smbd = launch(QStringLiteral("smbd"));
    if (!m_smbd->waitForStarted(10000)) {
        m_error = QStringLiteral("smbd did not start: %1").arg(m_smbd->errorString());
        return false;
    }
    if (m_settings.nameService) {
        m_nmbd = launch(QStringLiteral("nmbd"));
        if (!m_nmbd->waitForStarted(10000)) {
            m_error = QStringLiteral("nmbd did not start: %1").arg(m_nmbd->errorString());
            return false;
        }
    }
    if (!m_settings.netns.isEmpty())
        return true; // not reachable from here; the caller polls through the namespace

    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (m_smbd->state() == QProcess::NotRunning) {
            m_error = QStringLiteral("smbd ended at start:\n%1").arg(log());
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(m_settings.address, quint16(m_settings.port));
        if (probe.waitForConnected(500))
            return true;
        QThread::msleep(50);
    }
    m_error = QStringLiteral("smbd does not accept connections on %1:%2\n%3")
                  .arg(m_settings.address)
                  .arg(m_settings.port)
                  .arg(log());
    return false;
}

std::unique_ptr<QProcess> SambaHost::launch(const QString &daemon)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardOutputFile(m_dir + QLatin1Char('/') + daemon + QStringLiteral(".log"));
    const QStringList args { QStringLiteral("-F"), QStringLiteral("--debug-stdout"), QStringLiteral("-s"), m_conf };
    if (m_settings.netns.isEmpty()) {
        process->start(daemon, args);
    } else {
        // "ip netns exec" replaces itself with the daemon, so the pid stays the daemon's.
        process->start(QStringLiteral("ip"),
            QStringList { QStringLiteral("netns"), QStringLiteral("exec"), m_settings.netns, daemon } + args);
    }
    return process;
}

void SambaHost::stop()
{
    for (auto *process : { m_nmbd.get(), m_smbd.get() }) {
        if (!process || process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    stopProcessesNaming(m_conf);
}

QList<SambaHost::Message> SambaHost::messages() const
{
    QList<Message> result;
    QDir spool(m_spool);
    const QFileInfoList files = spool.entryInfoList(QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo &info : files) {
        const QStringList parts = info.fileName().split(QLatin1Char('.'));
        QFile file(info.filePath());
        if (parts.size() != 3 || !file.open(QIODevice::ReadOnly))
            continue;
        result << Message { parts.at(0), parts.at(1), file.readAll() };
    }
    return result;
}

void SambaHost::clearSpool()
{
    QDir spool(m_spool);
    for (const QString &name : spool.entryList(QDir::Files | QDir::Hidden))
        spool.remove(name);
}

QList<QPair<QString, QString>> SambaHost::loggedSends() const
{
    QList<QPair<QString, QString>> sends;
    QFile file(m_dir + QStringLiteral("/smbd.log"));
    if (!file.open(QIODevice::ReadOnly))
        return sends;
    static const QRegularExpression line(QStringLiteral("^SMBsendstrt \\(from (.*) to (.*)\\)$"));
    for (const QByteArray &bytes : file.readAll().split('\n')) {
        const QRegularExpressionMatch m = line.match(QString::fromUtf8(bytes));
        if (m.hasMatch())
            sends.append({ m.captured(1), m.captured(2) });
    }
    return sends;
}

QString SambaHost::log(const QString &daemon) const
{
    QFile file(m_dir + QLatin1Char('/') + daemon + QStringLiteral(".log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(4000)) : QString();
}

QString SambaHost::ended() const
{
    for (const auto &[process, daemon] :
        { std::pair { m_smbd.get(), QStringLiteral("smbd") }, std::pair { m_nmbd.get(), QStringLiteral("nmbd") } }) {
        if (process && process->state() == QProcess::NotRunning)
            return QStringLiteral("%1 of %2 ended:\n%3").arg(daemon, m_settings.netbiosName, log(daemon));
    }
    return QString();
}

QByteArray SambaHost::run(
    const QString &netns, const QString &program, const QStringList &arguments, int *exitCode, int timeoutMs)
{
    QProcess process;
    if (netns.isEmpty())
        process.start(program, arguments);
    else
        process.start(QStringLiteral("ip"),
            QStringList { QStringLiteral("netns"), QStringLiteral("exec"), netns, program } + arguments);
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    if (exitCode)
        *exitCode = finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}
