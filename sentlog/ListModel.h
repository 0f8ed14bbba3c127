#pragma once

#include <QAbstractTableModel>
#include <QStringList>

// The rows of a log list (sent or received messages): a flat table whose column headers
// are fixed texts, left-aligned like the rows below them.
class ListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    ListModel(QStringList titles, QObject *parent);

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const QStringList m_titles;
};
