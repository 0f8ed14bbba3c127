#pragma once

#include <QFileDevice>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTest>

class Module;
class QListWidget;
class QWidget;

// Helpers shared by the unit tests: the private environment every test runs in, whole-file
// reads and writes, a program directory with the fake `net`, and reaching widgets by name.
namespace TestSupport {

inline constexpr QFileDevice::Permissions kExecutable
    = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Points XDG_RUNTIME_DIR, XDG_CONFIG_HOME, XDG_DATA_HOME and the mailbox (VELRISA_BUZON, not
// created) into `base` (a private folder of the process when empty), creates the runtime one
// and pins the C locale for text and time formats.
// In a test with windows it also gives them the program's look (Apariencia::aplicar).
bool prepareEnvironment(const QString &base = QString());

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

// Shows the window, makes it the active one and waits until it is.
bool activate(QWidget *window);

// Stores these lists as the address book of `module`'s program folder; true once the file is there.
bool writeBook(Module &module, const QStringList &equipos, const QStringList &redes);

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

} // namespace TestSupport
