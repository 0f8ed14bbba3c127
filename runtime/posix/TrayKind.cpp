#include "runtime/TrayKind.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QString>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace TrayKind {

bool readsMarkup()
{
    // The very question of Qt's platform theme (QDBusMenuConnection), through an interface
    // built from the watcher's introspection as Qt's is, so that both read the answer alike.
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    const QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected())
        return false;
    QDBusInterface host(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, session);
    return host.property("IsStatusNotifierHostRegistered").toBool();
}

bool iconsPlaced()
{
    // The tray maps the icon's window once it has taken it in: exposed means in place.
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    return std::all_of(windows.cbegin(), windows.cend(), [](const QWidget *w) {
        return !w->inherits("QSystemTrayIconSys") || (w->windowHandle() && w->windowHandle()->isExposed());
    });
}

} // namespace TrayKind
