#include "receive/ReceivedModel.h"

#include "runtime/Text.h"

#include <algorithm>

ReceivedModel::ReceivedModel(QObject *parent)
    : ListModel({ QStringLiteral("De"), QStringLiteral("Equipo"), QStringLiteral("Para"), QStringLiteral("Mensaje"),
                      QStringLiteral("Fecha") },
        parent)
{ }

int ReceivedModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QString ReceivedModel::date(const QDateTime &arrival)
{
    return arrival.toLocalTime().toString(QStringLiteral("dd/MM/yyyy"));
}

QString ReceivedModel::time(const QDateTime &arrival)
{
    return arrival.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

QString ReceivedModel::asText(const QList<Mailbox::Message> &messages)
{
    QStringList parts;
    for (const Mailbox::Message &m : messages) {
        parts << QStringLiteral("Fecha: %1 %2\nDe: %3\nPara: %4\n%5\n")
                      .arg(date(m.arrival), time(m.arrival), m.sender(), m.to, m.text);
    }
    return parts.join(QLatin1Char('\n'));
}

QVariant ReceivedModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const Mailbox::Message &m = m_rows.at(index.row());
    QString text;
    switch (index.column()) {
    case ColFrom:
        text = m.from;
        break;
    case ColComputer:
        // Where the message came from; its address in the tooltip.
        text = role == Qt::ToolTipRole && !m.address.isEmpty() ? m.address : m.computer;
        break;
    case ColTo:
        text = m.to;
        break;
    case ColMessage:
        // One line in the list; the whole text, line ends and all, in the tooltip.
        text = role == Qt::ToolTipRole ? m.text : QString(m.text).replace(QLatin1Char('\n'), QLatin1Char(' '));
        break;
    case ColDate:
        text = date(m.arrival) + QLatin1Char(' ') + time(m.arrival);
        break;
    default:
        return {};
    }
    // Every column but the date comes from the network, and a tooltip takes text that looks
    // like markup for markup.
    return role == Qt::ToolTipRole ? Text::literal(text) : text;
}

bool ReceivedModel::insert(const Mailbox::Message &message)
{
    if (m_ids.contains(message.id))
        return false;
    // Deliveries run in parallel, so a record can turn up after a later one.
    const auto place = std::upper_bound(m_rows.cbegin(), m_rows.cend(), message,
        [](const Mailbox::Message &a, const Mailbox::Message &b) { return a.id < b.id; });
    const int row = int(place - m_rows.cbegin());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(row, message);
    m_ids.insert(message.id);
    endInsertRows();
    return true;
}

void ReceivedModel::dropFirst(int howMany)
{
    howMany = std::min(howMany, int(m_rows.size()));
    if (howMany <= 0)
        return;
    beginRemoveRows(QModelIndex(), 0, howMany - 1);
    for (int i = 0; i < howMany; ++i)
        m_ids.remove(m_rows.at(i).id);
    m_rows.remove(0, howMany);
    endRemoveRows();
}

void ReceivedModel::replace(QList<Mailbox::Message> messages)
{
    beginResetModel();
    std::sort(
        messages.begin(), messages.end(), [](const Mailbox::Message &a, const Mailbox::Message &b) { return a.id < b.id; });
    m_rows.clear();
    m_ids.clear();
    for (Mailbox::Message &m : messages) {
        if (!m_ids.contains(m.id)) {
            m_ids.insert(m.id);
            m_rows.append(std::move(m));
        }
    }
    endResetModel();
}
