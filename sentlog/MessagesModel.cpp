#include "sentlog/MessagesModel.h"

#include "runtime/Text.h"

MessagesModel::MessagesModel(QObject *parent)
    : ListModel(
        { QStringLiteral("Para"), QStringLiteral("Mensaje"), QStringLiteral("Resultado"), QStringLiteral("Hora") },
        parent)
{ }

int MessagesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant MessagesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const SentEntry &e = m_rows.at(index.row());
    if (role == Qt::UserRole)
        return e.Estado;
    if (role == Qt::ToolTipRole) {
        // Shown as written: a tooltip would take text that looks like markup for markup.
        const QString help = index.column() == ColResult ? e.Answer : text(e, index.column());
        if (help.isEmpty())
            return {};
        return Text::literal(help);
    }
    if (role != Qt::DisplayRole)
        return {};
    return text(e, index.column());
}

QString MessagesModel::text(const SentEntry &e, int column)
{
    switch (column) {
    case ColTo:
        return e.Para;
    case ColMessage:
        return e.Mensaje;
    case ColResult:
        return e.Resultado;
    case ColTime:
        return e.Hora;
    default:
        return {};
    }
}

void MessagesModel::addRow(const QString &to)
{
    const int row = int(m_rows.size());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(SentEntry { to, {}, {}, {}, 0, {} });
    endInsertRows();
}

void MessagesModel::completeLastRow(
    qint16 estado, const QString &message, const QString &result, const QString &time, const QString &answer)
{
    if (m_rows.isEmpty())
        return;
    const int row = int(m_rows.size()) - 1;
    SentEntry &e = m_rows[row];
    e.Estado = estado;
    e.Mensaje = message;
    e.Resultado = result;
    e.Answer = answer;
    e.Hora = time;
    for (int c = ColMessage; c <= ColTime; ++c)
        Q_EMIT dataChanged(index(row, c), index(row, c));
}
