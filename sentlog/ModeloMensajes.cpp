#include "sentlog/ModeloMensajes.h"

#include "runtime/Texto.h"

ModeloMensajes::ModeloMensajes(QObject *parent)
    : ModeloLista(
        { QStringLiteral("Para"), QStringLiteral("Mensaje"), QStringLiteral("Resultado"), QStringLiteral("Hora") },
        parent)
{ }

int ModeloMensajes::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_filas.size());
}

QVariant ModeloMensajes::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_filas.size())
        return {};
    const SentEntry &e = m_filas.at(index.row());
    if (role == Qt::UserRole)
        return e.Estado;
    if (role == Qt::ToolTipRole) {
        // Shown as written: a tooltip would take text that looks like markup for markup.
        const QString ayuda = index.column() == ColResultado ? e.Respuesta : texto(e, index.column());
        if (ayuda.isEmpty())
            return {};
        return Texto::literal(ayuda);
    }
    if (role != Qt::DisplayRole)
        return {};
    return texto(e, index.column());
}

QString ModeloMensajes::texto(const SentEntry &e, int columna)
{
    switch (columna) {
    case ColPara:
        return e.Para;
    case ColMensaje:
        return e.Mensaje;
    case ColResultado:
        return e.Resultado;
    case ColHora:
        return e.Hora;
    default:
        return {};
    }
}

void ModeloMensajes::agregarFila(const QString &para)
{
    const int row = int(m_filas.size());
    beginInsertRows(QModelIndex(), row, row);
    m_filas.append(SentEntry { para, {}, {}, {}, 0, {} });
    endInsertRows();
}

void ModeloMensajes::completarUltimaFila(
    qint16 estado, const QString &mensaje, const QString &resultado, const QString &hora, const QString &respuesta)
{
    if (m_filas.isEmpty())
        return;
    const int row = int(m_filas.size()) - 1;
    SentEntry &e = m_filas[row];
    e.Estado = estado;
    e.Mensaje = mensaje;
    e.Resultado = resultado;
    e.Respuesta = respuesta;
    e.Hora = hora;
    for (int c = ColMensaje; c <= ColHora; ++c)
        Q_EMIT dataChanged(index(row, c), index(row, c));
}
