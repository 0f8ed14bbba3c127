#include "runtime/Bandeja.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QString>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace Bandeja {

bool leeMarcas()
{
    // The very question of Qt's platform theme (QDBusMenuConnection), through an interface
    // built from the watcher's introspection as Qt's is, so that both read the answer alike.
    const QString vigilante = QStringLiteral("org.kde.StatusNotifierWatcher");
    const QDBusConnection sesion = QDBusConnection::sessionBus();
    if (!sesion.isConnected())
        return false;
    QDBusInterface anfitrion(vigilante, QStringLiteral("/StatusNotifierWatcher"), vigilante, sesion);
    return anfitrion.property("IsStatusNotifierHostRegistered").toBool();
}

bool iconosColocados()
{
    // The tray maps the icon's window once it has taken it in: exposed means in place.
    const QList<QWidget *> ventanas = QApplication::topLevelWidgets();
    return std::all_of(ventanas.cbegin(), ventanas.cend(), [](const QWidget *w) {
        return !w->inherits("QSystemTrayIconSys") || (w->windowHandle() && w->windowHandle()->isExposed());
    });
}

} // namespace Bandeja
