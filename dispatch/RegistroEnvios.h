#pragma once

#include <QString>

// The sent-messages log as a send run drives it: a row per attempt, opened with the recipient
// and completed once the answer is known. The sent-messages window implements it.
class RegistroEnvios
{
public:
    virtual ~RegistroEnvios() = default;

    // Visible, in front and active.
    virtual void mostrar() = 0;
    // A new last row holding only the recipient.
    virtual void agregarFila(const QString &para) = 0;
    // respuesta, what the send was answered, is shown when the pointer rests on the result.
    virtual void completarUltimaFila(qint16 estado, const QString &mensaje, const QString &resultado,
        const QString &hora, const QString &respuesta = QString())
        = 0;
    // Draws at once what has changed, so a completed row shows while a run goes on.
    virtual void repintar() = 0;
};
