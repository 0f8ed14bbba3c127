#include "runtime/posix/DisplayChoice.h"

#include <QByteArray>

#include <cstring>
#include <utility>

DisplayChoice::DisplayChoice(int argc, char **argv)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return;
    }
    m_chosen = qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb;wayland"));
}

void DisplayChoice::restore()
{
    if (std::exchange(m_chosen, false))
        qunsetenv("QT_QPA_PLATFORM");
}
