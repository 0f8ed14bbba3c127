#pragma once

#include "sentlog/ListModel.h"

#include <QString>
#include <QVector>

// The rows of the sent-messages list, oldest first. Rows are only ever appended at the
// end and completed in place, both in constant time, so the list stays quick however
// long the program runs. Estado (2 sent, 3 not sent) is the row's data under Qt::UserRole;
// Answer, what `net` answered, is the tooltip of the Resultado cell.
class MessagesModel final : public ListModel
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
        QString Answer;
    };

    enum Column { ColTo, ColMessage, ColResult, ColTime, ColumnCount };

    explicit MessagesModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void addRow(const QString &to);
    // Does nothing while the list is empty: there is no row to complete.
    void completeLastRow(qint16 estado, const QString &message, const QString &result, const QString &time,
        const QString &answer = QString());
    // For tests and benchmarks: one row as recorded.
    const SentEntry &row(int row) const { return m_rows.at(row); }

private:
    static QString text(const SentEntry &e, int column);

    QVector<SentEntry> m_rows;
};
