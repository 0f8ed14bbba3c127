#pragma once

#include <QFileDevice>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

class FakeRuntime;
class Module;
class Startup;
class QListWidget;
class QTemporaryDir;
class QWidget;

// Helpers shared by the unit tests: the private environment every test runs in, whole-file
// reads and writes, a program directory with the fake `net`, a program folder per test, a
// process end seen from outside; and, for the tests that link widgets (velrisa_fakes_widgets,
// WidgetSupport.cpp), the program's start-up in such a folder, reaching widgets by name and
// driving modal windows.
namespace TestSupport {

inline constexpr QFileDevice::Permissions kExecutable
    = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Points XDG_RUNTIME_DIR, XDG_CONFIG_HOME, XDG_DATA_HOME and the mailbox (VELRISA_BUZON, not
// created) into `base` (a private folder of the process when empty), creates the runtime one
// and pins the C locale for text and time formats.
// In a test with windows it also gives them the program's look (through windowLook).
bool prepareEnvironment(const QString &base = QString());

// The program's look for windows; set in every test that links widgets (WindowLook.cpp).
inline void (*windowLook)() = nullptr;

// A new, empty folder inside `base`, with its trailing separator, as program folders are given.
QString newFolder(const QString &base);

// Writes `bytes` as the whole of `path`, creating its folder, then gives it `permissions`
// when any are set.
bool writeFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions = {});

// The whole file, or "<missing>" when it cannot be read, so that a missing file never
// passes for an empty one.
QByteArray readFile(const QString &path);

// chmod, for the sad paths (read-only files and folders).
bool setMode(const QString &path, uint mode);

// Makes `dir` a program folder holding the fake `net` script of tests/data/ under the name `net`.
bool prepareProgram(const QString &dir, const QString &script = QStringLiteral("net_prueba.sh"));

// The calls recorded by the fake `net` in `dir`: each one the list of its arguments.
QList<QStringList> netCalls(const QString &dir);

// A program folder of its own for each test function, in a base folder prepared once, and a
// fresh fake runtime whose program runs from it.
class ProgramFixture
{
public:
    ProgramFixture();
    virtual ~ProgramFixture();
    // In initTestCase: the base folder and the private environment (prepareEnvironment).
    bool prepare();
    // In init: a new, empty program folder and a new runtime with its appPath there.
    bool renew();
    // In cleanup: both gone.
    virtual void reset();

    FakeRuntime &rt() const { return *m_rt; }
    // The program folder, with its trailing separator.
    QString programPath() const;
    QString base() const;

private:
    std::unique_ptr<QTemporaryDir> m_base;
    std::unique_ptr<QTemporaryDir> m_program;
    std::unique_ptr<FakeRuntime> m_rt;
};

// --- For tests that link widgets.

// A ProgramFixture with the program's start-up over its runtime (main window, address book,
// tray), made once the test has set the runtime up, and gone before the runtime.
class StartupFixture : public ProgramFixture
{
public:
    ~StartupFixture() override;
    void reset() override;
    // A new start-up over rt(): its main window built, hidden, nothing read yet.
    Startup &create();

private:
    std::unique_ptr<Startup> m_startup;
};

// Shows the window, makes it the active one and waits until it is.
bool activate(QWidget *window);

// Stores these lists as the address book of `module`'s program folder; true once the file is there.
bool writeBook(Module &module, const QStringList &computers, const QStringList &networks);

// The texts of a list's rows, top to bottom.
QStringList itemTexts(const QListWidget *list);

// Clicks the first row of `list` whose text is `text`; false when there is none.
bool clickItem(QListWidget *list, const QString &text);

// The child of `parent` with that object name; records a failure when there is none.
template <typename T = QWidget> T *child(const QObject *parent, const QString &name)
{
    T *found = parent->findChild<T *>(name);
    if (!found)
        QTest::qFail(qPrintable(QStringLiteral("no child named %1").arg(name)), __FILE__, __LINE__);
    return found;
}

// Drives the modal window that the next call opens; arm it before that call, which returns only
// once the window is closed. A timer polls QApplication::activeModalWidget() and hands the first
// visible one that `act` takes (returns true for) to it, once. Whatever modal window is still up
// some seconds after arming is closed, so that an action that failed cannot hang the test.
class ModalDriver
{
public:
    explicit ModalDriver(std::function<bool(QWidget *)> act);
    ModalDriver(const ModalDriver &) = delete;
    ModalDriver &operator=(const ModalDriver &) = delete;

    // Whether a modal window came up and was handed over.
    bool handled() const { return m_handled; }
    // The class name of that window.
    QString className() const { return m_className; }

private:
    QTimer m_poll;
    QTimer m_safetyNet;
    std::function<bool(QWidget *)> m_act;
    bool m_handled = false;
    QString m_className;
};

// A driver for the next modal window of class T (any modal window for QWidget): `action` gets it.
template <typename T = QWidget, typename F> ModalDriver onModal(F action)
{
    return ModalDriver([action = std::move(action)](QWidget *w) mutable {
        T *window = qobject_cast<T *>(w);
        if (!window)
            return false;
        action(window);
        return true;
    });
}

} // namespace TestSupport
