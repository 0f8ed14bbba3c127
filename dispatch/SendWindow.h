#pragma once

#include <QString>

#include <memory>

class SendWait;
class SendLog;

// What a send run needs of the main window; frmPrincipal implements it. Every text
// is read afresh at each call, since the user may edit the window between two sends.
class SendWindow
{
public:
    virtual ~SendWindow() = default;

    // The main window locked and the wait window shown centred on it, while one recipient is
    // served; both undone when the result is destroyed.
    virtual std::unique_ptr<SendWait> showWait() = 0;

    // The data files' folder with exactly one trailing "/", as the start-up set it.
    virtual QString rutaPrograma() const = 0;

    // Whether "Grupo de trabajo/dominio" (optGrupo(1)) is chosen.
    virtual bool chosenGroup() const = 0;

    // State of the hidden check box chkCerrar: 0 unmarked, 1 marked, 2 grey.
    virtual int closeState() const = 0;

    // Current texts of txtDestino and txtMensaje.
    virtual QString recipientText() const = 0;
    virtual QString messageText() const = 0;

    // The sent-messages window, created on first use.
    virtual SendLog &messages() = 0;

    // The recent-recipients list: record the current line, then refill the drop-down.
    virtual void GuardarMRU() = 0;
    virtual void CargarMRU() = 0;
};
