#pragma once

#include <QString>
#include <QTime>
#include <QUrl>

#include <functional>

class QWidget;

// The platform services the program relies on. Every window and module reaches the
// platform through one Runtime passed in at construction; the production
// implementation lives in runtime/posix/, the test doubles in tests/fakes/.
class Runtime
{
public:
    enum class Icon { None, Critical, Information };

    // Window style of a started program.
    enum class WindowStyle { MinimizedNoFocus = 6, Maximized = 3 };

    virtual ~Runtime() = default;

    // Modal box with an OK button; returns when dismissed. An empty title shows
    // the application title, "Velrisa".
    virtual void msgBox(const QString &text, Icon icon = Icon::None, const QString &title = QString()) = 0;

    // Modal input box with OK and Cancel and no preset text; the typed text, empty on Cancel.
    virtual QString inputBox(const QString &prompt, const QString &title) = 0;

    // Starts a command line as a new process. Unquoted words are taken the way the
    // Windows loader takes them: the shortest run of leading words that names a
    // program file is the program, the rest are its arguments. A bare program name
    // is looked up in the program directory first, then on the search path. A
    // ".bat" file runs through /bin/sh in its own directory, with the program directory
    // first on the search path. Returns the process id, 0 when nothing started.
    virtual qint64 shell(const QString &commandLine, WindowStyle style) = 0;

    // Blocks until the process has ended, with no time-out. Returns false at once,
    // without waiting, when no such process can be found.
    virtual bool waitForProcess(qint64 pid) = 0;

    // Brings the main window of the process to the front; false when it has none.
    virtual bool appActivate(qint64 pid) = 0;

    // Brings one of this program's windows, just shown, to the front and gives it the
    // keyboard, as the desktop allows a request made on the user's behalf (a second start).
    virtual void bringForward(QWidget &window) = 0;

    // Opens a web address in the user's browser; false when nothing could open it.
    virtual bool openUrl(const QUrl &url) = 0;

    // Runs the waiting window events once.
    virtual void doEvents() = 0;

    // Ends the program at once, with no close events; never leaves a tray icon behind.
    [[noreturn]] virtual void end() = 0;

    // Directory of the executable, without a trailing separator unless it is the root.
    virtual QString appPath() const = 0;

    // Directory of the program's data files: appPath() where this user may write there,
    // else a folder of the user's own. Chosen once, at the first call (start-up).
    virtual QString dataPath() const = 0;

    // The user's own data folder, whatever dataPath() is: what only this user may read (the
    // messages received) is kept there. Not created until something is written.
    virtual QString userDataPath() const = 0;

    // The arguments after the program name, joined by single blanks.
    virtual QString command() const = 0;

    // Whether another instance runs in this user session. The first instance to ask
    // holds the session's lock from then on.
    virtual bool prevInstance() = 0;

    // Asks the instance that holds the lock to bring its window forward.
    virtual void activatePrevInstance() = 0;

    // Called in the running instance when a later start asks it to come forward.
    virtual void setActivationHandler(std::function<void()> handler) = 0;

    // Whether the desktop offers a system tray for the tray icon.
    virtual bool trayAvailable() const = 0;

    // Per-user text values that persist across runs.
    virtual QString getSetting(
        const QString &app, const QString &section, const QString &key, const QString &defaultValue)
        = 0;
    virtual void saveSetting(const QString &app, const QString &section, const QString &key, const QString &value) = 0;

    // Current local time of day.
    virtual QTime currentTime() const = 0;

    // Application-wide hourglass pointer on or off.
    virtual void setHourglass(bool on) = 0;
};
