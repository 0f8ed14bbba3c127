#pragma once

#include "receive/Buzon.h"
#include "sentlog/ModeloLista.h"

#include <QSet>

// The rows of the received-messages list, in order of arrival (newest at the end).
class ModeloRecibidos final : public ModeloLista
{
    Q_OBJECT

public:
    enum Columna { ColDe, ColEquipo, ColPara, ColMensaje, ColFecha, NumColumnas };

    explicit ModeloRecibidos(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Puts the message in its place by arrival; false when it is there already.
    bool insertar(const Buzon::Mensaje &mensaje);
    void quitarPrimeras(int cuantas);
    void reemplazar(QList<Buzon::Mensaje> mensajes);
    const QList<Buzon::Mensaje> &filas() const { return m_filas; }

    // "DD/MM/AAAA" and "HH:MM:SS" of an arrival, in local time.
    static QString fecha(const QDateTime &llegada);
    static QString hora(const QDateTime &llegada);
    // Messages as a person reads them: for each, its date, sender and called name on lines
    // of their own, then its whole text; a blank line between two messages.
    static QString comoTexto(const QList<Buzon::Mensaje> &mensajes);

private:
    QList<Buzon::Mensaje> m_filas;
    QSet<QString> m_ids;
};
