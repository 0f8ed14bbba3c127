#include "app/Startup.h"
#include "runtime/posix/DisplayChoice.h"
#include "runtime/posix/PosixRuntime.h"
#include "runtime/posix/TerminationSignals.h"
#include "widgets/Appearance.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    DisplayChoice display(argc, argv);
    QApplication app(argc, argv);
    display.restore();
    QApplication::setApplicationName(QStringLiteral("Velrisa"));
    // Lets the desktop match the windows with velrisa.desktop (its icon, its name).
    QGuiApplication::setDesktopFileName(QStringLiteral("velrisa"));
    Appearance::apply();
    // The window only ever hides; the program ends through the tray menu or the session.
    QApplication::setQuitOnLastWindowClosed(false);
    PosixRuntime runtime;
    Startup startup(runtime);
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, [&startup] { startup.end(); });
    startup.start();
    // A signal that came while a box of the start-up waited ended only that box's loop, and the
    // main loop, started afresh, would not know.
    if (startup.ending())
        return 0;
    return app.exec();
}
