#include "app/Startup.h"

#include "addressbook/Module.h"
#include "mainwindow/frmPrincipal.h"
#include "receive/Mailbox.h"
#include "receive/Receiving.h"
#include "runtime/IconoBarra.h"
#include "runtime/Runtime.h"
#include "runtime/Text.h"

#include <QObject>

namespace {

// The setting "Cerrar" as the hidden box takes it. Only 0, 1 and 2 are ever stored; anything
// else (a hand edit, a broken store) is taken as the default 1 rather than guessed at.
int closeState(const QString &saved)
{
    bool number = false;
    const int value = saved.toInt(&number);
    return number && value >= 0 && value <= 2 ? value : 1;
}

} // namespace

Startup::Startup(Runtime &rt)
    : m_rt(rt)
    , m_module(std::make_unique<Module>(rt, QString()))
    , m_principal(std::make_unique<frmPrincipal>(rt, *m_module))
{ }

Startup::~Startup()
{
    // Receiving goes first, while the tray icon it shows through is still there.
    if (m_receiving)
        m_principal->setReceiving(nullptr);
    m_receiving.reset();
}

void Startup::start()
{
    if (m_rt.prevInstance()) {
        // Without a tray the running window may be hidden, and starting the program
        // again is then the only way to reach it: ask it to come forward.
        if (!m_rt.trayAvailable())
            m_rt.activatePrevInstance();
        m_rt.end();
    }
    m_rt.setActivationHandler([this] {
        if (!m_rt.trayAvailable())
            m_principal->bringToFront();
    });

    // "-MIN" in any case, and nothing else, starts in the tray.
    const bool minimized = m_rt.command().toUpper() == QLatin1String("-MIN");

    // The data files' folder: the executable's where the user may write there.
    m_module->setRutaPrograma(Text::withTrailingSeparator(m_rt.dataPath()));

    const int closeSetting = closeState(m_rt.getSetting(
        QStringLiteral("EnviarMensaje"), QStringLiteral("Opciones"), QStringLiteral("Cerrar"), QStringLiteral("1")));
    m_principal->load(minimized, closeSetting);

    // Messages that arrive for this computer, and those that came while it was not running.
    m_receiving
        = std::make_unique<Receiving>(m_rt, m_principal->taskIco(), Mailbox::defaultPath(), m_rt.userDataPath());
    frmPrincipal *principal = m_principal.get();
    QObject::connect(m_receiving.get(), &Receiving::reply, principal, &frmPrincipal::reply);
    QObject::connect(m_receiving.get(), &Receiving::mailboxChanged, principal, &frmPrincipal::updateReceivedMenu);
    principal->setReceiving(m_receiving.get());

    principal->showAtStartup();

    // Receiving starts once the window is up, so that a message that arrived while the
    // program was not running pops up above it, not under it.
    m_receiving->start();
    principal->updateReceivedMenu();
}

void Startup::end()
{
    m_principal->end();
}

bool Startup::ending() const
{
    return m_principal->ending();
}

QString Startup::rutaPrograma() const
{
    return m_module->rutaPrograma();
}
