#pragma once

#include "receive/Buzon.h"
#include "receive/Historial.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class IconoBarra;
class Runtime;
class frmMasRecibidos;
class frmRecibido;
class frmRecibidos;

// Receiving, on the desktop: every new record of the mailbox shared by the computer's users
// and of this user's own folder in it pops up once for this user in its own "Mensaje
// recibido" window (and as a tray notification) and joins the user's history, "Mensajes
// recibidos". Messages that arrived while the program was not running pop up at the start,
// except, at a user's very first start, those of the shared mailbox: they were not this
// user's. A flood leaves a bounded number of windows: past kMaxAbiertas open and
// kMaxEsperando waiting, the rest are counted in one "Más mensajes recibidos" window.
class Recepcion final : public QObject
{
    Q_OBJECT

public:
    // At most this many pop-ups are open at once; the others wait for one to close.
    static constexpr int kMaxAbiertas = 10;
    // Past this many waiting, the messages that arrive are only counted, in one window of
    // their own ("Más mensajes recibidos"), until it is closed.
    static constexpr int kMaxEsperando = 50;
    // Changes to the history are written together, this long after the first one.
    static constexpr int kDemoraGuardadoMs = 200;

    Recepcion(Runtime &runtime, IconoBarra &icono, const QString &buzon, const QString &carpetaDatos,
        QObject *parent = nullptr);
    ~Recepcion() override;

    // Reads the history, starts watching the mailbox and pops up what is waiting.
    void iniciar();

    bool buzonExiste() const { return m_buzon.existe(); }
    // The history window, created at its first use.
    void mostrarRecibidos();

    // "Cerrar &todos": closes every pop-up; those still waiting join the count of the others.
    void cerrarTodos();

    // For tests: the history, the pop-ups open and waiting, and the other windows.
    Historial &historial() { return m_historial; }
    const QList<frmRecibido *> &abiertas() const { return m_abiertas; }
    qsizetype esperando() const { return m_esperando.size(); }
    // The window counting the messages not popped up one by one; null when none is open.
    frmMasRecibidos *masRecibidos() const;
    frmRecibidos *ventanaRecibidos() const { return m_recibidos.get(); }

Q_SIGNALS:
    // "&Responder" in a pop-up, or in a message opened from the history.
    void responder(const QString &remitente);
    void buzonCambiado(bool existe);

private:
    void recibir(const QList<Buzon::Mensaje> &mensajes, bool propios);
    bool abrirEsperando();
    void abrir(const Buzon::Mensaje &mensaje);
    void reunir(int mensajes);
    void actualizarCerrarTodos();
    void programarGuardado();
    void guardar();

    Runtime &m_rt;
    IconoBarra &m_icono;
    Buzon m_buzon;
    Buzon m_propio;
    bool m_primeraVez = false; // this user's first start, until the shared mailbox is read
    Historial m_historial;
    QList<Buzon::Mensaje> m_esperando; // not popped up yet, oldest first
    QList<frmRecibido *> m_abiertas;
    QPointer<frmMasRecibidos> m_mas;
    std::unique_ptr<frmRecibidos> m_recibidos;
    QTimer m_guardado;
    bool m_errorDicho = false;
};
