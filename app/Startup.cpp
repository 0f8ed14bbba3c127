#include "app/Startup.h"

#include "addressbook/Module.h"
#include "mainwindow/frmPrincipal.h"
#include "receive/Buzon.h"
#include "receive/Recepcion.h"
#include "runtime/IconoBarra.h"
#include "runtime/Runtime.h"
#include "runtime/Texto.h"

#include <QObject>

namespace {

// The setting "Cerrar" as the hidden box takes it. Only 0, 1 and 2 are ever stored; anything
// else (a hand edit, a broken store) is taken as the default 1 rather than guessed at.
int estadoCerrar(const QString &guardado)
{
    bool numero = false;
    const int cerrar = guardado.toInt(&numero);
    return numero && cerrar >= 0 && cerrar <= 2 ? cerrar : 1;
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
    if (m_recepcion)
        m_principal->setRecepcion(nullptr);
    m_recepcion.reset();
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
            m_principal->traerAlFrente();
    });

    // "-MIN" in any case, and nothing else, starts in the tray.
    const bool minimizado = m_rt.command().toUpper() == QLatin1String("-MIN");

    // The data files' folder: the executable's where the user may write there.
    m_module->setRutaPrograma(Texto::withTrailingSeparator(m_rt.dataPath()));

    const int cerrar = estadoCerrar(m_rt.getSetting(
        QStringLiteral("EnviarMensaje"), QStringLiteral("Opciones"), QStringLiteral("Cerrar"), QStringLiteral("1")));
    m_principal->load(minimizado, cerrar);

    // Messages that arrive for this computer, and those that came while it was not running.
    m_recepcion
        = std::make_unique<Recepcion>(m_rt, m_principal->taskIco(), Buzon::rutaPredeterminada(), m_rt.userDataPath());
    frmPrincipal *principal = m_principal.get();
    QObject::connect(m_recepcion.get(), &Recepcion::responder, principal, &frmPrincipal::responder);
    QObject::connect(m_recepcion.get(), &Recepcion::buzonCambiado, principal, &frmPrincipal::actualizarMenuRecibidos);
    principal->setRecepcion(m_recepcion.get());

    principal->mostrarAlArrancar();

    // Receiving starts once the window is up, so that a message that arrived while the
    // program was not running pops up above it, not under it.
    m_recepcion->iniciar();
    principal->actualizarMenuRecibidos();
}

void Startup::terminar()
{
    m_principal->terminar();
}

bool Startup::terminando() const
{
    return m_principal->terminando();
}

QString Startup::rutaPrograma() const
{
    return m_module->rutaPrograma();
}
