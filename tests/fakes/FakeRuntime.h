#pragma once

#include "runtime/Runtime.h"

#include <QList>
#include <QMap>
#include <QStringList>

// A runtime for tests, on QtCore alone: message boxes are recorded instead of shown, input
// boxes answer from a script, settings live in memory, the clock and the program's place are
// chosen by the test, and end() stops the test instead of the process. What runs for real is
// chosen here, method by method: processes (shell, waitForProcess) and the event loop
// (doEvents). A method added to Runtime gets its own block below, or this class does not
// compile.
class FakeRuntime : public Runtime
{
public:
    struct Box
    {
        QString text;
        Icon icon;
        QString title; // as shown: "Velrisa" when the caller gave none
    };

    // Thrown by end() where allowed, so a test can see that the program would have ended there.
    struct Ended
    {
    };

    // --- msgBox: recorded; m_onBox runs first.
    void msgBox(const QString &text, Icon icon = Icon::None, const QString &title = QString()) override;
    std::function<void(const Box &)> m_onBox;
    QList<Box> m_boxes;

    // --- inputBox: answered from m_inputAnswers in order; Cancel (empty) once they are used up.
    QString inputBox(const QString &prompt, const QString &title) override;
    QStringList m_inputAnswers;
    QStringList m_inputPrompts; // "title|prompt" of every input box shown

    // --- shell: recorded; a real child through ProcessStart, unless m_realShell is false.
    qint64 shell(const QString &commandLine, WindowStyle style) override;
    bool m_realShell = true; // false: shell() only records and returns m_shellPid
    qint64 m_shellPid = 0;
    QStringList m_shellCalls;

    // --- waitForProcess: real, through ProcessStart.
    bool waitForProcess(qint64 pid) override;

    // --- appActivate: recorded; true for a live process, which stands for a viewer with a window.
    bool appActivate(qint64 pid) override;
    QList<qint64> m_activateCalls;

    // --- bringForward: counted.
    void bringForward(QWidget &) override { ++m_broughtForward; }
    int m_broughtForward = 0;

    // --- openUrl: recorded; answers m_browserOpens.
    bool openUrl(const QUrl &url) override
    {
        m_openedUrls << url;
        return m_browserOpens;
    }
    bool m_browserOpens = true;
    QList<QUrl> m_openedUrls;

    // --- doEvents: counted, m_onYield acts at each one, then the real event loop runs once.
    void doEvents() override;
    int m_yields = 0;
    std::function<void(int)> m_onYield;

    // --- end: counted; throws Ended with m_endThrows, set where the test itself calls into the
    // program. Anywhere else the end may come from a slot or an event handler, which no exception
    // may cross: it is a fatal test failure there.
    [[noreturn]] void end() override;
    int m_endCalls = 0;
    bool m_endThrows = false;

    // --- appPath, dataPath, userDataPath: chosen by the test.
    QString appPath() const override { return m_appPath; }
    QString dataPath() const override { return m_dataPath.isEmpty() ? m_appPath : m_dataPath; }
    QString userDataPath() const override;
    QString m_appPath = QStringLiteral("/");
    QString m_dataPath; // empty: the data files live in m_appPath
    QString m_userDataPath; // empty: $XDG_DATA_HOME/velrisa, as prepareEnvironment sets it

    // --- command: chosen by the test.
    QString command() const override { return m_command; }
    QString m_command;

    // --- prevInstance, activatePrevInstance, setActivationHandler: no lock, no socket.
    bool prevInstance() override { return m_prevInstance; }
    void activatePrevInstance() override { ++m_activationsSent; }
    void setActivationHandler(std::function<void()> handler) override { m_activationHandler = std::move(handler); }
    bool m_prevInstance = false;
    int m_activationsSent = 0;
    std::function<void()> m_activationHandler;

    // --- trayAvailable: chosen by the test.
    bool trayAvailable() const override { return m_trayAvailable; }
    bool m_trayAvailable = true;

    // --- getSetting, saveSetting: in memory, "app/section/key" -> value.
    QString getSetting(
        const QString &app, const QString &section, const QString &key, const QString &defaultValue) override;
    void saveSetting(const QString &app, const QString &section, const QString &key, const QString &value) override;
    QMap<QString, QString> m_settings;

    // --- currentTime: chosen by the test.
    QTime currentTime() const override { return m_time; }
    QTime m_time = QTime(14, 5, 33);

    // --- setHourglass: recorded.
    void setHourglass(bool on) override;
    bool m_hourglass = false;
    int m_hourglassChanges = 0;
};
