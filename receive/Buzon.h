#pragma once

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

// The mailbox folder as a desktop sees it: watched through file-system notification (no
// polling), followed when it is deleted and made again by the same owner, and read as hostile
// input: only regular files with a record's name, owned by the mailbox's owner or root, bounded
// in size, opened without following links or blocking. A mailbox that other users could
// replace (through a folder above it that they may change) is not read at all.
class Buzon final : public QObject
{
    Q_OBJECT

public:
    struct Mensaje
    {
        QString id; // the record's file name: unique, sorts by arrival
        QString de;
        QString para;
        QDateTime llegada; // UTC
        bool cortado = false;
        QString texto;
        QString equipo; // the computer it came from; empty when the record does not say
        QString direccion; // that computer's address

        // The sender as people read it: the computer in brackets when it is another name.
        QString remitente() const;
    };

    explicit Buzon(const QString &ruta, QObject *parent = nullptr);

    // VELRISA_BUZON when set, else /var/spool/velrisa.
    static QString rutaPredeterminada();
    // This user's own folder in the mailbox, where the messages to this user's names go.
    static QString rutaPropia(const QString &buzon);

    // Records are accepted only from the owner of this folder (or root); by default the
    // mailbox's own owner. A user's own folder is the user's, its records the receiver's.
    void setDuenoDe(const QString &carpeta) { m_duenoDe = carpeta; }

    // Records whose name this says yes to are not read (already handled in earlier runs).
    void setOmitir(std::function<bool(const QString &)> omitir) { m_omitir = std::move(omitir); }

    // Starts watching and reads what is there now.
    void vigilar();
    // Reads the records not read yet; emits nuevos when there are some.
    void leer();

    const QString &ruta() const { return m_ruta; }
    // Looked at now, not remembered.
    bool existe() const;
    // The record names of the last reading and whether it saw the whole folder.
    const QSet<QString> &presentes() const { return m_presentes; }
    bool lecturaCompleta() const { return m_completa; }

Q_SIGNALS:
    // Oldest first.
    void nuevos(const QList<Buzon::Mensaje> &mensajes);
    void existenciaCambiada(bool existe);

private:
    void actualizarVigilancia();

    QString m_ruta;
    QString m_duenoDe;
    QFileSystemWatcher m_vigilante;
    QTimer m_pendiente; // gathers a burst of notifications into one reading
    std::function<bool(const QString &)> m_omitir;
    QSet<QString> m_vistos; // read or refused in this run
    QSet<QString> m_presentes;
    bool m_completa = false;
    bool m_existe = false;
    std::optional<uid_t> m_dueno; // of the mailbox first read: a mailbox made again must be theirs too
    std::string m_rechazo; // why the mailbox was last refused, said once
};
