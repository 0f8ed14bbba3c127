#include "receive/frmReceivedList.h"

#include "receive/ReceivedModel.h"
#include "receive/frmReceived.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTableView>

#include <algorithm>

namespace {
const char *const kId = "idMensaje";
} // namespace

frmReceivedList::frmReceivedList(ReceivedModel &model)
    : ListWindow(
        QStringLiteral("frmReceivedList"), QStringLiteral("Mensajes recibidos"), &model, ReceivedModel::ColMessage)
    , m_model(model)
{
    // The date and time whole: wider than the other columns, within the list's width.
    list()->setColumnWidth(ReceivedModel::ColDate,
        list()->fontMetrics().horizontalAdvance(QStringLiteral("00/00/0000 00:00:00")) + 16);
    // Several messages can be chosen to copy them together.
    list()->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // A message that arrives while the list is open shows at once, at the end.
    connect(&model, &QAbstractItemModel::rowsInserted, list(), &QTableView::scrollToBottom);
    connect(
        list(), &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) { open(index.row()); });
    list()->installEventFilter(this);

    // The same, for the mouse alone.
    auto *openCurrent = new QAction(QStringLiteral("&Abrir"), list());
    openCurrent->setObjectName(QStringLiteral("mnuOpen"));
    connect(openCurrent, &QAction::triggered, this, [this] { open(list()->currentIndex().row()); });
    auto *copySelection = new QAction(QStringLiteral("&Copiar"), list());
    copySelection->setObjectName(QStringLiteral("mnuCopy"));
    connect(copySelection, &QAction::triggered, this, &frmReceivedList::copy);
    list()->addActions({ openCurrent, copySelection });
    list()->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void frmReceivedList::open(int row)
{
    if (row < 0 || row >= m_model.rowCount())
        return;
    const Mailbox::Message &message = m_model.rows().at(row);
    // Its windows are its children, and go with it.
    frmReceived *window = nullptr;
    for (frmReceived *child : findChildren<frmReceived *>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible() && child->property(kId).toString() == message.id)
            window = child;
    }
    if (!window) {
        window = new frmReceived(message, this);
        window->setProperty(kId, message.id);
        // Asked for by the user: it takes the keyboard, unlike a message that just arrived.
        window->setAttribute(Qt::WA_ShowWithoutActivating, false);
        connect(window, &frmReceived::reply, this, &frmReceivedList::reply);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void frmReceivedList::copy()
{
    QList<int> rows;
    for (const QModelIndex &index : list()->selectionModel()->selectedRows())
        rows << index.row();
    // Nothing chosen (the keyboard moved with Ctrl): the row the keyboard is on.
    if (rows.isEmpty() && list()->currentIndex().isValid())
        rows << list()->currentIndex().row();
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    QList<Mailbox::Message> messages;
    for (const int row : std::as_const(rows))
        messages << m_model.rows().at(row);
    QGuiApplication::clipboard()->setText(ReceivedModel::asText(messages));
}

void frmReceivedList::showEvent(QShowEvent *event)
{
    ListWindow::showEvent(event);
    list()->scrollToBottom();
}

bool frmReceivedList::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != list() || (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress))
        return ListWindow::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool intro = (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    // Enter on a row opens it rather than pressing the window's "&Cerrar"; on an empty list
    // it is still "&Cerrar".
    if (intro && list()->currentIndex().isValid()) {
        event->accept();
        if (event->type() == QEvent::KeyPress)
            open(list()->currentIndex().row());
        return true;
    }
    // The list's own copy takes only the text of the current cell.
    if (key->matches(QKeySequence::Copy)) {
        event->accept();
        if (event->type() == QEvent::KeyPress)
            copy();
        return true;
    }
    return ListWindow::eventFilter(watched, event);
}
