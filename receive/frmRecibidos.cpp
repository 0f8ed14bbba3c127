#include "receive/frmRecibidos.h"

#include "receive/ModeloRecibidos.h"

#include <QTableView>

frmRecibidos::frmRecibidos(ModeloRecibidos &modelo)
    : VentanaLista(
        QStringLiteral("frmRecibidos"), QStringLiteral("Mensajes recibidos"), &modelo, ModeloRecibidos::ColMensaje)
{
    // The date and time whole: wider than the other columns, within the list's width.
    lista()->setColumnWidth(ModeloRecibidos::ColFecha,
        lista()->fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000 00:00:00")) + 16);
    // A message that arrives while the list is open shows at once, at the end.
    connect(&modelo, &QAbstractItemModel::rowsInserted, lista(), &QTableView::scrollToBottom);
}

void frmRecibidos::showEvent(QShowEvent *event)
{
    VentanaLista::showEvent(event);
    lista()->scrollToBottom();
}
