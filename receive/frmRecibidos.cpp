#include "receive/frmRecibidos.h"

#include "receive/ModeloRecibidos.h"
#include "receive/frmRecibido.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTableView>

#include <algorithm>

namespace {
const char *const kId = "idMensaje";
} // namespace

frmRecibidos::frmRecibidos(ModeloRecibidos &modelo)
    : VentanaLista(
        QStringLiteral("frmRecibidos"), QStringLiteral("Mensajes recibidos"), &modelo, ModeloRecibidos::ColMensaje)
    , m_modelo(modelo)
{
    // The date and time whole: wider than the other columns, within the list's width.
    lista()->setColumnWidth(ModeloRecibidos::ColFecha,
        lista()->fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000 00:00:00")) + 16);
    // Several messages can be chosen to copy them together.
    lista()->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // A message that arrives while the list is open shows at once, at the end.
    connect(&modelo, &QAbstractItemModel::rowsInserted, lista(), &QTableView::scrollToBottom);
    connect(
        lista(), &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &indice) { abrir(indice.row()); });
    lista()->installEventFilter(this);

    // The same, for the mouse alone.
    auto *abrirActual = new QAction(QStringLiteral("&Abrir"), lista());
    abrirActual->setObjectName(QStringLiteral("mnuAbrir"));
    connect(abrirActual, &QAction::triggered, this, [this] { abrir(lista()->currentIndex().row()); });
    auto *copiarSeleccion = new QAction(QStringLiteral("&Copiar"), lista());
    copiarSeleccion->setObjectName(QStringLiteral("mnuCopiar"));
    connect(copiarSeleccion, &QAction::triggered, this, &frmRecibidos::copiar);
    lista()->addActions({ abrirActual, copiarSeleccion });
    lista()->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void frmRecibidos::abrir(int fila)
{
    if (fila < 0 || fila >= m_modelo.rowCount())
        return;
    const Buzon::Mensaje &mensaje = m_modelo.filas().at(fila);
    // Its windows are its children, and go with it.
    frmRecibido *ventana = nullptr;
    for (frmRecibido *abierta : findChildren<frmRecibido *>(Qt::FindDirectChildrenOnly)) {
        if (abierta->isVisible() && abierta->property(kId).toString() == mensaje.id)
            ventana = abierta;
    }
    if (!ventana) {
        ventana = new frmRecibido(mensaje, this);
        ventana->setProperty(kId, mensaje.id);
        // Asked for by the user: it takes the keyboard, unlike a message that just arrived.
        ventana->setAttribute(Qt::WA_ShowWithoutActivating, false);
        connect(ventana, &frmRecibido::responder, this, &frmRecibidos::responder);
    }
    ventana->show();
    ventana->raise();
    ventana->activateWindow();
}

void frmRecibidos::copiar()
{
    QList<int> filas;
    for (const QModelIndex &indice : lista()->selectionModel()->selectedRows())
        filas << indice.row();
    // Nothing chosen (the keyboard moved with Ctrl): the row the keyboard is on.
    if (filas.isEmpty() && lista()->currentIndex().isValid())
        filas << lista()->currentIndex().row();
    if (filas.isEmpty())
        return;
    std::sort(filas.begin(), filas.end());
    QList<Buzon::Mensaje> mensajes;
    for (const int fila : std::as_const(filas))
        mensajes << m_modelo.filas().at(fila);
    QGuiApplication::clipboard()->setText(ModeloRecibidos::comoTexto(mensajes));
}

void frmRecibidos::showEvent(QShowEvent *event)
{
    VentanaLista::showEvent(event);
    lista()->scrollToBottom();
}

bool frmRecibidos::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != lista() || (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress))
        return VentanaLista::eventFilter(watched, event);
    const auto *tecla = static_cast<QKeyEvent *>(event);
    const bool intro = (tecla->key() == Qt::Key_Return || tecla->key() == Qt::Key_Enter)
        && (tecla->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    // Enter on a row opens it rather than pressing the window's "&Cerrar"; on an empty list
    // it is still "&Cerrar".
    if (intro && lista()->currentIndex().isValid()) {
        event->accept();
        if (event->type() == QEvent::KeyPress)
            abrir(lista()->currentIndex().row());
        return true;
    }
    // The list's own copy takes only the text of the current cell.
    if (tecla->matches(QKeySequence::Copy)) {
        event->accept();
        if (event->type() == QEvent::KeyPress)
            copiar();
        return true;
    }
    return VentanaLista::eventFilter(watched, event);
}
