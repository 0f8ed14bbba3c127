#pragma once

#include "runtime/posix/PosixRuntime.h"

#include <QList>
#include <QMap>
#include <QStringList>

// A runtime for tests: message boxes are recorded instead of shown, input boxes answer
// from a script, settings live in memory, the clock and the program's place are chosen
// by the test, and End throws instead of ending the process. Processes are real: shell
// and waitForProcess start and wait for real children.
class FakeRuntime : public PosixRuntime
{
public:
    struct Box
    {
        QString text;
        Icon icon;
        QString title; // as shown: "Velrisa" when the caller gave none
    };

    // Thrown by end(), so a test can see that the program would have ended there.
    struct Ended
    {
    };

    void msgBox(const QString &text, Icon icon, const QString &title) override;
    QString inputBox(const QString &prompt, const QString &title) override;
    qint64 shell(const QString &commandLine, WindowStyle style) override;
    bool appActivate(qint64 pid) override;
    void bringForward(QWidget &) override { ++m_broughtForward; }
    bool openUrl(const QUrl &url) override
    {
        m_openedUrls << url;
        return m_browserOpens;
    }
    [[noreturn]] void end() override;
    QString appPath() const override { return m_appPath; }
    QString dataPath() const override { return m_dataPath.isEmpty() ? m_appPath : m_dataPath; }
    QString userDataPath() const override;
    QString command() const override { return m_command; }
    bool prevInstance() override { return m_prevInstance; }
    void activatePrevInstance() override { ++m_activationsSent; }
    void setActivationHandler(std::function<void()> handler) override { m_activationHandler = std::move(handler); }
    bool trayAvailable() const override { return m_trayAvailable; }
    QString getSetting(
        const QString &app, const QString &section, const QString &key, const QString &defaultValue) override;
    void saveSetting(const QString &app, const QString &section, const QString &key, const QString &value) override;
    QTime currentTime() const override { return m_time; }
    void setHourglass(bool on) override;

    // What the test arranges.
    QString m_appPath = QStringLiteral("/");
    QString m_dataPath; // empty: the data files live in m_appPath
    QString m_userDataPath; // empty: $XDG_DATA_HOME/velrisa, as prepareEnvironment sets it
    QString m_command;
    bool m_prevInstance = false;
    bool m_trayAvailable = true;
    QTime m_time = QTime(14, 5, 33);
    QStringList m_inputAnswers; // answered in order; empty when used up (Cancel)
    QMap<QString, QString> m_settings; // "app/section/key" -> value
    bool m_realShell = true; // false: shell() only records and returns m_shellPid
    qint64 m_shellPid = 0;
    bool m_browserOpens = true; // what openUrl answers

    // What the test observes.
    QList<Box> m_boxes;
    QStringList m_inputPrompts; // "title|prompt" of every input box shown
    QStringList m_shellCalls; // command lines given to shell()
    QList<qint64> m_activateCalls;
    QList<QUrl> m_openedUrls;
    int m_activationsSent = 0;
    int m_broughtForward = 0;
    int m_endCalls = 0;
    bool m_hourglass = false;
    int m_hourglassChanges = 0;
    std::function<void()> m_activationHandler;

    // Runs code when the next message box is shown (before it is recorded).
    std::function<void(const Box &)> m_onBox;
};
