#include "receive/Recepcion.h"

#include "receive/frmRecibido.h"
#include "receive/frmRecibidos.h"
#include "runtime/IconoBarra.h"
#include "runtime/Runtime.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {
// How far each pop-up stands from the one before, so that none hides another completely.
constexpr int kEscalon = 28;
const char *const kHueco = "hueco";
} // namespace

Recepcion::Recepcion(
    Runtime &runtime, IconoBarra &icono, const QString &buzon, const QString &carpetaDatos, QObject *parent)
    : QObject(parent)
    , m_rt(runtime)
    , m_icono(icono)
    , m_buzon(buzon)
    , m_propio(Buzon::rutaPropia(buzon))
    , m_historial(carpetaDatos)
{
    m_buzon.setOmitir([this](const QString &id) { return m_historial.mostrado(id); });
    m_propio.setOmitir([this](const QString &id) { return m_historial.mostrado(id); });
    // The user owns that folder; the records in it are the receiver's, as in the mailbox.
    m_propio.setDuenoDe(m_buzon.ruta());
    connect(&m_buzon, &Buzon::nuevos, this, [this](const QList<Buzon::Mensaje> &m) { recibir(m, false); });
    connect(&m_propio, &Buzon::nuevos, this, [this](const QList<Buzon::Mensaje> &m) { recibir(m, true); });
    connect(&m_buzon, &Buzon::existenciaCambiada, this, &Recepcion::buzonCambiado);
}

Recepcion::~Recepcion()
{
    for (frmRecibido *w : std::as_const(m_abiertas)) {
        disconnect(w, nullptr, this, nullptr);
        delete w;
    }
}

void Recepcion::iniciar()
{
    if (!m_historial.cargar())
        m_rt.msgBox(QStringLiteral("No se puede leer la lista de mensajes recibidos: %1").arg(m_historial.error()),
            Runtime::Icon::Critical);
    m_primeraVez = m_historial.nuevo();
    m_propio.vigilar();
    m_buzon.vigilar();
    if (m_primeraVez) {
        // Also when the mailbox was empty: what comes from now on is for this user too.
        m_primeraVez = false;
        guardar();
    }
}

void Recepcion::mostrarRecibidos()
{
    if (!m_recibidos) {
        m_recibidos = std::make_unique<frmRecibidos>(m_historial.modelo());
        connect(m_recibidos.get(), &frmRecibidos::responder, this, &Recepcion::responder);
    }
    m_recibidos->mostrar();
}

void Recepcion::recibir(const QList<Buzon::Mensaje> &mensajes, bool propios)
{
    bool cambio = false;
    for (const Buzon::Mensaje &m : mensajes) {
        if (m_historial.mostrado(m.id))
            continue;
        if (m_primeraVez && !propios) {
            // Sent to the computer before this user first came: someone else's.
            m_historial.marcarMostrado(m.id);
            cambio = true;
            continue;
        }
        cambio |= m_historial.agregar(m);
        m_esperando << m;
    }
    // A record is forgotten only when neither folder has it (a user without a folder of
    // their own has nothing there to lose).
    if (m_buzon.lecturaCompleta() && (m_propio.lecturaCompleta() || !m_propio.existe()))
        cambio |= m_historial.olvidarMostradosSalvo(
            m_buzon.presentes() + (m_propio.existe() ? m_propio.presentes() : QSet<QString>()));
    cambio |= abrirEsperando();
    if (cambio)
        guardar();
}

bool Recepcion::abrirEsperando()
{
    bool abierta = false;
    while (m_abiertas.size() < kMaxAbiertas && !m_esperando.isEmpty()) {
        abrir(m_esperando.takeFirst());
        abierta = true;
    }
    return abierta;
}

void Recepcion::abrir(const Buzon::Mensaje &mensaje)
{
    auto *ventana = new frmRecibido(mensaje);
    // The first free place of the cascade.
    int hueco = 0;
    while (std::any_of(m_abiertas.cbegin(), m_abiertas.cend(),
        [hueco](const frmRecibido *w) { return w->property(kHueco).toInt() == hueco; }))
        ++hueco;
    ventana->setProperty(kHueco, hueco);
    if (const QScreen *pantalla = QGuiApplication::primaryScreen()) {
        // The whole cascade centred on the screen and within it; where the screen is too
        // small for all of it, the next round starts half a step to the right.
        const QRect zona = pantalla->availableGeometry();
        const QSize tamano = ventana->size();
        const int caben = std::max(1,
            std::min({ kMaxAbiertas, (zona.width() - tamano.width()) / kEscalon + 1,
                (zona.height() - tamano.height()) / kEscalon + 1 }));
        QRect marco(QPoint(), tamano);
        marco.moveCenter(zona.center() - QPoint(1, 1) * (kEscalon * (caben - 1) / 2));
        marco.translate(QPoint(1, 1) * (kEscalon * (hueco % caben)) + QPoint(kEscalon / 2 * (hueco / caben), 0));
        marco.moveRight(std::min(marco.right(), zona.right()));
        marco.moveBottom(std::min(marco.bottom(), zona.bottom()));
        marco.moveLeft(std::max(marco.left(), zona.left()));
        marco.moveTop(std::max(marco.top(), zona.top()));
        ventana->move(marco.topLeft());
    }
    connect(ventana, &frmRecibido::responder, this, &Recepcion::responder);
    connect(ventana, &QObject::destroyed, this, [this, ventana] {
        m_abiertas.removeOne(ventana);
        if (abrirEsperando())
            guardar();
    });
    m_abiertas << ventana;
    m_historial.marcarMostrado(mensaje.id);
    ventana->show();
    ventana->raise();
    m_icono.notificar(QStringLiteral("Mensaje de %1").arg(mensaje.de), mensaje.texto.left(200));
}

void Recepcion::guardar()
{
    if (m_historial.guardar() || m_errorDicho)
        return;
    // Once a run: every new message would fail the same way.
    m_errorDicho = true;
    m_rt.msgBox(QStringLiteral("No se puede guardar la lista de mensajes recibidos en %1").arg(m_historial.error()),
        Runtime::Icon::Critical);
}
