#include "runtime/Bandeja.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QString>

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

} // namespace Bandeja
