#include "mainwindow/frmPrincipal.h"
#include "runtime/posix/PosixRuntime.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velrisa"));
    QApplication::setQuitOnLastWindowClosed(false);
    PosixRuntime runtime;
    frmPrincipal window(runtime);
    if (!window.load())
        return 0;
    return app.exec();
}
