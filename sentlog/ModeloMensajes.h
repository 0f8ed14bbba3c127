#pragma once

#include "sentlog/ModeloLista.h"

#include <QString>
#include <QVector>

// The rows of the sent-messages list, oldest first. Rows are only ever appended at the
// end and completed in place, both in constant time, so the list stays quick however
// long the program runs. Estado (2 sent, 3 not sent) is the row's data under Qt::UserRole;
// Respuesta, what `net` answered, is the tooltip of the Resultado cell.
class ModeloMensajes final : public ModeloLista
{
    Q_OBJECT

public:
    struct SentEntry
    {
        QString Para;
        QString Mensaje;
        QString Resultado;
        QString Hora;
        qint16 Estado = 0;
        QString Respuesta;
    };

    enum Columna { ColPara, ColMensaje, ColResultado, ColHora, NumColumnas };

    explicit ModeloMensajes(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void agregarFila(const QString &para);
    // Does nothing while the list is empty: there is no row to complete.
    void completarUltimaFila(qint16 estado, const QString &mensaje, const QString &resultado, const QString &hora,
        const QString &respuesta = QString());
    // For tests and benchmarks: one row as recorded.
    const SentEntry &fila(int row) const { return m_filas.at(row); }

private:
    static QString texto(const SentEntry &e, int columna);

    QVector<SentEntry> m_filas;
};
