#include "fakes/FakeRuntime.h"

#include "runtime/posix/ProcessStart.h"

#include <QCoreApplication>
#include <QFile>

#include <csignal>
#include <cstdlib>

void FakeRuntime::msgBox(const QString &text, Icon icon, const QString &title)
{
    const Box box { text, icon, title.isEmpty() ? QStringLiteral("Velrisa") : title };
    if (m_onBox)
        m_onBox(box);
    m_boxes.append(box);
}

QString FakeRuntime::inputBox(const QString &prompt, const QString &title)
{
    m_inputPrompts.append(title + QLatin1Char('|') + prompt);
    return m_inputAnswers.isEmpty() ? QString() : m_inputAnswers.takeFirst();
}

qint64 FakeRuntime::shell(const QString &commandLine, WindowStyle)
{
    m_shellCalls.append(commandLine);
    if (!m_realShell)
        return m_shellPid;
    return ProcessStart::start(ProcessStart::resolve(commandLine, appPath()));
}

bool FakeRuntime::waitForProcess(qint64 pid)
{
    return ProcessStart::wait(pid);
}

bool FakeRuntime::appActivate(qint64 pid)
{
    m_activateCalls.append(pid);
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

void FakeRuntime::doEvents()
{
    ++m_yields;
    if (m_onYield)
        m_onYield(m_yields);
    QCoreApplication::processEvents();
}

void FakeRuntime::end()
{
    ++m_endCalls;
    if (!m_endThrows)
        qFatal("the program ended abruptly (Runtime::end)");
    throw Ended {};
}

QString FakeRuntime::getSetting(
    const QString &app, const QString &section, const QString &key, const QString &defaultValue)
{
    return m_settings.value(app + QLatin1Char('/') + section + QLatin1Char('/') + key, defaultValue);
}

void FakeRuntime::saveSetting(const QString &app, const QString &section, const QString &key, const QString &value)
{
    m_settings.insert(app + QLatin1Char('/') + section + QLatin1Char('/') + key, value);
}

void FakeRuntime::setHourglass(bool on)
{
    if (on != m_hourglass)
        ++m_hourglassChanges;
    m_hourglass = on;
}

QString FakeRuntime::userDataPath() const
{
    if (!m_userDataPath.isEmpty())
        return m_userDataPath;
    const QString base = QFile::decodeName(qgetenv("XDG_DATA_HOME"));
    // Never the file system's root: a test without its own data folder gets none at all.
    return base.startsWith(QLatin1Char('/')) ? base + QStringLiteral("/velrisa") : QString();
}
