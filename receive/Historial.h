#pragma once

#include "receive/Buzon.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>

class ModeloRecibidos;

// What one user has received, kept in the user's data folder across runs: the last
// kMaxMensajes messages (the history list) and which records have popped up already, so
// that each message pops up once per user.
//
// On disk it is recibidos.json, written whole or not at all, and beside it the journal
// recibidos.diario, to which each change is appended as one line; the journal is folded
// into the file (which is rewritten, and the journal removed) once it has grown as large.
// So a new message costs about its own size on the disk, not the whole history's.
class Historial final
{
public:
    static constexpr int kMaxMensajes = 1000;

    explicit Historial(const QString &carpeta);
    ~Historial();
    Historial(const Historial &) = delete;
    Historial &operator=(const Historial &) = delete;


    // Reads the file and its journal; none yet is an empty history. A file that cannot be
    // read, or holds anything but what this class writes, is set aside under a name of its own
    // (never over another file), keeping whatever of it was valid: false then, and error()
    // says what happened.
    bool cargar();
    // Whether the last cargar() found no history at all: this user's first start.
    bool nuevo() const { return m_nuevo; }
    // Writes what changed since the last write (appended to the journal, or the whole file),
    // creating the folder (mode 0700) when missing; false with error(). What was not written
    // stays pending for the next call. Before any cargar(), the first write is the whole file.
    bool guardar();
    bool pendiente() const { return m_todo || !m_lineas.isEmpty(); }

    // Adds the message in its place by arrival, dropping the oldest past kMaxMensajes;
    // false when it is there already.
    bool agregar(const Buzon::Mensaje &mensaje);
    bool mostrado(const QString &id) const { return m_mostrados.contains(id); }
    void marcarMostrado(const QString &id);
    // Forgets the pop-ups of records that left the mailbox (in memory: the next whole write
    // leaves them out); true when some were forgotten.
    bool olvidarMostradosSalvo(const QSet<QString> &presentes);

    ModeloRecibidos &modelo() { return *m_modelo; }
    QString ruta() const;
    QString rutaDiario() const;
    const QString &error() const { return m_error; }

private:
    bool guardarTodo();
    bool anadirAlDiario();
    // Renames the file to "<name>.ilegible-<time>[-n]", never over another; its new path, or
    // empty with *porque.
    QString apartar(const QString &archivo, QString *porque);

    QString m_carpeta;
    std::unique_ptr<ModeloRecibidos> m_modelo;
    QSet<QString> m_mostrados;
    QList<QByteArray> m_lineas; // journal lines not written yet
    bool m_todo = false; // the whole file must be written: the journal cannot say what changed
    qint64 m_bytesArchivo = 0; // of recibidos.json as last read or written
    qint64 m_bytesDiario = 0; // of the journal
    QString m_error;
    bool m_nuevo = false;
    QString m_noEscribir; // why nothing may be written: a file that could not be set aside
};
