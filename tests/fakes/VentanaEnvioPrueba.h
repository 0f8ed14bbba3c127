#pragma once

#include "dispatch/EsperaEnvio.h"
#include "dispatch/VentanaEnvio.h"
#include "dispatch/frmWait.h"
#include "fakes/FakeRuntime.h"
#include "sentlog/frmMensajes.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

// The part of the main window that a send run uses, over a plain widget, for the
// dispatch tests: texts and options are set by the test, the recent list is recorded.
class VentanaEnvioPrueba final : public VentanaEnvio
{
public:
    std::unique_ptr<EsperaEnvio> mostrarEspera() override { return frmWait::esperarSobre(&m_ventana); }
    QString rutaPrograma() const override { return m_ruta; }
    bool grupoElegido() const override { return m_grupo; }
    int estadoCerrar() const override { return m_cerrar; }
    QString textoDestino() const override { return m_destino; }
    QString textoMensaje() const override { return m_mensaje; }
    frmMensajes &mensajes() override
    {
        if (!m_mensajes)
            m_mensajes = std::make_unique<frmMensajes>(&m_ventana, [this] { return m_esconder; });
        return *m_mensajes;
    }
    void GuardarMRU() override { m_llamadasMRU << QStringLiteral("Guardar:") + m_destino; }
    void CargarMRU() override { m_llamadasMRU << QStringLiteral("Cargar"); }

    QWidget m_ventana;
    QString m_ruta;
    bool m_grupo = false;
    int m_cerrar = 1;
    QString m_destino;
    QString m_mensaje;
    bool m_esconder = false;
    std::unique_ptr<frmMensajes> m_mensajes;
    QStringList m_llamadasMRU;
};

// FakeRuntime that lets a test act at every yield (DoEvents) of a dispatch or a run.
class RuntimePrueba final : public FakeRuntime
{
public:
    void doEvents() override
    {
        ++m_cesiones;
        if (m_alCeder)
            m_alCeder(m_cesiones);
        FakeRuntime::doEvents();
    }

    int m_cesiones = 0;
    std::function<void(int)> m_alCeder;
};
