#include "sentlog/ModeloLista.h"

ModeloLista::ModeloLista(QStringList titulos, QObject *parent)
    : QAbstractTableModel(parent)
    , m_titulos(std::move(titulos))
{ }

int ModeloLista::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_titulos.size());
}

QVariant ModeloLista::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_titulos.size())
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    return m_titulos.at(section);
}
