#include "app/Startup.h"

#include "addressbook/Module.h"
#include "mainwindow/frmPrincipal.h"
#include "receive/Mailbox.h"
#include "receive/Receiving.h"
#include "runtime/IconoBarra.h"
#include "runtime/Runtime.h"
#include "runtime/Text.h"

#include <QApplication>
#include <QKeyEvent>
#include <QObject>
#include <QThread>

#include <functional>

namespace {

// The application-wide filter: every event of the process passes here first.
class AppFilter final : public QObject
{
public:
    explicit AppFilter(std::function<bool(QObject *, QEvent *)> filter)
        : m_filter(std::move(filter))
    { }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override { return m_filter(watched, event); }

private:
    std::function<bool(QObject *, QEvent *)> m_filter;
};

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
    , m_taskIco(std::make_unique<IconoBarra>())
    , m_principal(std::make_unique<frmPrincipal>(rt, *m_module, *m_taskIco))
{
    m_taskIco->setObjectName(QStringLiteral("taskIco"));
    QObject::connect(m_principal.get(), &frmPrincipal::quitRequested, m_principal.get(), [this] { end(); });

    m_appFilter = std::make_unique<AppFilter>([this](QObject *watched, QEvent *event) {
        // The session manager's "die", and any other quit, arrive as the application's quit
        // event, which would first ask every window to close: the close rule would refuse
        // and hold the session up. End here instead. The session's earlier request to save
        // (commitDataRequest) needs no answer: what waits to be saved is written on the way.
        if (event->type() == QEvent::Quit && watched == qApp) {
            end();
            return true;
        }
        // Esc in a pop-up of the main window closes only that pop-up, as in any dialog.
        if (event->type() == QEvent::ShortcutOverride)
            return m_principal->escapeInPopup(static_cast<QKeyEvent *>(event));
        return false;
    });
    qApp->installEventFilter(m_appFilter.get());
    // A quit that came some other way (QCoreApplication::exit from a test or a library).
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, m_appFilter.get(), [this] {
        m_ending = true;
        m_principal->programEnding();
        m_taskIco->stop();
    });
}

Startup::~Startup()
{
    // Receiving goes first, while the tray icon it shows through is still there.
    if (m_receiving)
        m_principal->setReceiving(nullptr);
    m_receiving.reset();
    m_appFilter.reset();
}

void Startup::start()
{
    if (m_rt.prevInstance()) {
        // Starting the program again is how people look for its window, tray or not (a tray
        // icon may be out of sight, or the tray gone): the running one comes forward.
        m_rt.activatePrevInstance();
        m_rt.end();
    }
    m_rt.setActivationHandler([this] { m_principal->bringToFront(); });

    // "-MIN" in any case, and nothing else, starts in the tray.
    const bool minimized = m_rt.command().toUpper() == QLatin1String("-MIN");

    // The data files' folder: the executable's where the user may write there.
    m_module->setRutaPrograma(Text::withTrailingSeparator(m_rt.dataPath()));

    const int closeSetting = closeState(m_rt.getSetting(
        QStringLiteral("EnviarMensaje"), QStringLiteral("Opciones"), QStringLiteral("Cerrar"), QStringLiteral("1")));
    m_principal->load(minimized, closeSetting);

    // The tray icon exists from the end of the load until the program ends; its menu is the
    // main window's, given to the tray the way each desktop opens it.
    m_taskIco->setMenu(&m_principal->mnuApp());
    m_taskIco->start();

    // Messages that arrive for this computer, and those that came while it was not running.
    m_receiving = std::make_unique<Receiving>(m_rt, *m_taskIco, Mailbox::defaultPath(), m_rt.userDataPath());
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
    if (m_ending)
        return;
    m_ending = true;
    m_principal->programEnding();
    // What the user sees of the end comes first, at once: every window and the icon go.
    for (QWidget *window : QApplication::topLevelWidgets())
        window->hide();
    m_taskIco->stop();
    // Nothing is waited for: the delayed saves are written now.
    if (m_receiving)
        m_receiving->saveNow();
    // exit() rather than quit(): every event loop ends, a modal window's included, and
    // no window is asked whether it agrees. Outside any loop (the end came during start-up)
    // there is none to leave, and main() sees ending() instead; exit() would leave the next
    // loop to be started ending at once.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

QString Startup::rutaPrograma() const
{
    return m_module->rutaPrograma();
}
