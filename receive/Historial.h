#pragma once

#include "receive/Buzon.h"

#include <QSet>
#include <QString>

#include <memory>

class ModeloRecibidos;

// What one user has received, kept in the user's data folder across runs: the last
// kMaxMensajes messages (the history list) and which records have popped up already, so
// that each message pops up once per user. The file is written whole or not at all.
class Historial final
{
public:
    static constexpr int kMaxMensajes = 1000;

    explicit Historial(const QString &carpeta);
    ~Historial();
    Historial(const Historial &) = delete;
    Historial &operator=(const Historial &) = delete;

    // $XDG_DATA_HOME/velrisa (by default ~/.local/share/velrisa).
    static QString carpetaPredeterminada();

    // Reads the file; none yet is an empty history. A file that cannot be read is set aside
    // under another name, never overwritten: false then, and error() says what happened.
    bool cargar();
    // Whether the last cargar() found no file: this user's first start.
    bool nuevo() const { return m_nuevo; }
    // Writes the file, creating the folder (mode 0700) when missing; false with error().
    bool guardar();

    // Adds the message in its place by arrival, dropping the oldest past kMaxMensajes;
    // false when it is there already.
    bool agregar(const Buzon::Mensaje &mensaje);
    bool mostrado(const QString &id) const { return m_mostrados.contains(id); }
    void marcarMostrado(const QString &id) { m_mostrados.insert(id); }
    // Forgets the pop-ups of records that left the mailbox; true when some were forgotten.
    bool olvidarMostradosSalvo(const QSet<QString> &presentes);

    ModeloRecibidos &modelo() { return *m_modelo; }
    QString ruta() const;
    const QString &error() const { return m_error; }

private:
    QString m_carpeta;
    std::unique_ptr<ModeloRecibidos> m_modelo;
    QSet<QString> m_mostrados;
    QString m_error;
    bool m_nuevo = false;
};
