#pragma once

#include "receive/Mailbox.h"
#include "sentlog/ListModel.h"

#include <QSet>

// The rows of the received-messages list, in order of arrival (newest at the end).
class ReceivedModel final : public ListModel
{
    Q_OBJECT

public:
    enum Column { ColFrom, ColComputer, ColTo, ColMessage, ColDate, ColumnCount };

    explicit ReceivedModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Puts the message in its place by arrival; false when it is there already.
    bool insert(const Mailbox::Message &message);
    void dropFirst(int howMany);
    void replace(QList<Mailbox::Message> messages);
    const QList<Mailbox::Message> &rows() const { return m_rows; }

    // "DD/MM/AAAA" and "HH:MM:SS" of an arrival, in local time.
    static QString date(const QDateTime &arrival);
    static QString time(const QDateTime &arrival);
    // Messages as a person reads them: for each, its date, sender and called name on lines
    // of their own, then its whole text; a blank line between two messages.
    static QString asText(const QList<Mailbox::Message> &messages);

private:
    QList<Mailbox::Message> m_rows;
    QSet<QString> m_ids;
};
