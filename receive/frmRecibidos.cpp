#include "receive/frmRecibidos.h"

#include "receive/ModeloRecibidos.h"

#include <QTableView>

frmRecibidos::frmRecibidos(ModeloRecibidos &modelo)
    : VentanaLista(QStringLiteral("frmRecibidos"), QStringLiteral("Mensajes recibidos"), &modelo)
{
    // A message that arrives while the list is open shows at once, at the end.
    connect(&modelo, &QAbstractItemModel::rowsInserted, lista(), &QTableView::scrollToBottom);
}

void frmRecibidos::showEvent(QShowEvent *event)
{
    VentanaLista::showEvent(event);
    lista()->scrollToBottom();
}
