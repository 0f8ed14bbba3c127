#pragma once

#include <QString>

#include <memory>

class EsperaEnvio;
class RegistroEnvios;

// What a send run needs of the main window; frmPrincipal implements it. Every text
// is read afresh at each call, since the user may edit the window between two sends.
class VentanaEnvio
{
public:
    virtual ~VentanaEnvio() = default;

    // The main window locked and the wait window shown centred on it, while one recipient is
    // served; both undone when the result is destroyed.
    virtual std::unique_ptr<EsperaEnvio> mostrarEspera() = 0;

    // The data files' folder with exactly one trailing "/", as the start-up set it.
    virtual QString rutaPrograma() const = 0;

    // Whether "Grupo de trabajo/dominio" (optGrupo(1)) is chosen.
    virtual bool grupoElegido() const = 0;

    // State of the hidden check box chkCerrar: 0 unmarked, 1 marked, 2 grey.
    virtual int estadoCerrar() const = 0;

    // Current texts of txtDestino and txtMensaje.
    virtual QString textoDestino() const = 0;
    virtual QString textoMensaje() const = 0;

    // The sent-messages window, created on first use.
    virtual RegistroEnvios &mensajes() = 0;

    // The recent-recipients list: record the current line, then refill the drop-down.
    virtual void GuardarMRU() = 0;
    virtual void CargarMRU() = 0;
};
