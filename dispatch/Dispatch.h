#pragma once

#include <QString>

class Runtime;
class SendWindow;

// Sending: one `net send` per recipient through ejecuta.bat in the program directory,
// its output captured in mensaje.txt beside it, and the send run over a whole
// recipients line. Everything runs on the user-interface thread and blocks while the
// child process runs.
class Dispatch final
{
public:
    Dispatch(Runtime &rt, SendWindow &principal);

    // Sends message to one recipient and opens its row in the sent-messages list; 1 sent,
    // 0 not sent. When ejecuta.bat may not be written the program ends after saying so.
    qint16 EnviarADestino(const QString &recipient, const QString &message);

    // What "&Enviar" does: every recipient of the recipients line in turn, each attempt
    // completed as a row of the list, then the line goes to the recent list.
    void EnviarMensajes();

private:
    // The state of chkCerrar into the setting "Cerrar".
    void saveClose();

    Runtime &m_rt;
    SendWindow &m_principal;
    // What the last recipient's send was answered (the first line of mensaje.txt, or why
    // there was none), kept with its row of the log.
    QString m_answer;
};
