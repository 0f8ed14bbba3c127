#include "sentlog/ModeloMensajes.h"

ModeloMensajes::ModeloMensajes(QObject *parent)
    : QAbstractTableModel(parent)
{ }

int ModeloMensajes::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_filas.size());
}

int ModeloMensajes::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : NumColumnas;
}

QVariant ModeloMensajes::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_filas.size())
        return {};
    const SentEntry &e = m_filas.at(index.row());
    if (role == Qt::UserRole)
        return e.Estado;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
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

QVariant ModeloMensajes::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColPara:
        return QStringLiteral("Para");
    case ColMensaje:
        return QStringLiteral("Mensaje");
    case ColResultado:
        return QStringLiteral("Resultado");
    case ColHora:
        return QStringLiteral("Hora");
    default:
        return {};
    }
}

void ModeloMensajes::agregarFila(const QString &para)
{
    const int row = int(m_filas.size());
    beginInsertRows(QModelIndex(), row, row);
    m_filas.append(SentEntry { para, {}, {}, {}, 0 });
    endInsertRows();
}

void ModeloMensajes::completarUltimaFila(
    qint16 estado, const QString &mensaje, const QString &resultado, const QString &hora)
{
    if (m_filas.isEmpty())
        return;
    const int row = int(m_filas.size()) - 1;
    SentEntry &e = m_filas[row];
    e.Estado = estado;
    e.Mensaje = mensaje;
    e.Resultado = resultado;
    e.Hora = hora;
    for (int c = ColMensaje; c <= ColHora; ++c)
        Q_EMIT dataChanged(index(row, c), index(row, c));
}
