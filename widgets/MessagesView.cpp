#include "widgets/MessagesView.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QItemSelectionModel>

MessagesView::MessagesView(QWidget *parent)
    : QTableView(parent)
{
    horizontalHeader()->viewport()->installEventFilter(this);
}

bool MessagesView::eventFilter(QObject *watched, QEvent *event)
{
    // The column headings are an item view of their own, which redraws every heading on the
    // same occasions; with no heading highlighted and one set of colours they look the same.
    const QHeaderView *header = horizontalHeader();
    if (watched == header->viewport() && isActivation(event) && !header->highlightSections()
        && header->palette().isEqual(QPalette::Active, QPalette::Inactive))
        return true;
    return QTableView::eventFilter(watched, event);
}

bool MessagesView::isActivation(const QEvent *event)
{
    return event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate;
}

void MessagesView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QTableView::rowsInserted(parent, start, end);
    if (parent.isValid() || !model() || end != model()->rowCount() - 1) {
        m_complete = true;
        return;
    }
    m_firstAdded = m_firstAdded < 0 ? start : qMin(m_firstAdded, start);
}

void MessagesView::reset()
{
    m_complete = true;
    QTableView::reset();
}

void MessagesView::doItemsLayout()
{
    const int first = m_firstAdded;
    const bool complete = m_complete || first < 0 || !verticalHeader()->updatesEnabled();
    m_firstAdded = -1;
    m_complete = false;
    if (complete) {
        QTableView::doItemsLayout();
        return;
    }
    // Scroll bars and headers follow the new row count; of the viewport, only what lies
    // from the first new row down can have changed.
    updateGeometries();
    const int y = rowViewportPosition(first);
    if (y < 0)
        viewport()->update();
    else if (y < viewport()->height())
        viewport()->update(0, y, viewport()->width(), viewport()->height() - y);
    m_partialPending = true;
}

void MessagesView::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    // A scroll moves what is on the screen, and with it the stale rows above the part still
    // waiting for its repaint, which that part no longer covers: all of it is drawn again.
    if (m_partialPending && (dx != 0 || dy != 0))
        viewport()->update();
}

bool MessagesView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Paint)
        m_partialPending = false;
    // The item view redraws its whole viewport whenever the window gains or loses the focus,
    // for the colours of the selection, which the same test as for the focus finds unchanged.
    if (isActivation(event) && coloursUnchanged())
        return QAbstractScrollArea::viewportEvent(event);
    return QTableView::viewportEvent(event);
}

bool MessagesView::onlyTheRowChanges(const QFocusEvent *event) const
{
    // The whole viewport changes with the focus only through the colours of a selection; with
    // nothing selected and one set of colours whether the window is active or not, the focus
    // frame of the current row is all that is drawn differently.
    return event->reason() == Qt::ActiveWindowFocusReason && currentIndex().isValid() && coloursUnchanged();
}

bool MessagesView::coloursUnchanged() const
{
    return palette().isEqual(QPalette::Active, QPalette::Inactive)
        && (!selectionModel() || !selectionModel()->hasSelection());
}

// The wait window takes the focus at every recipient and gives it back: the item view would
// redraw every visible row both times.
void MessagesView::focusInEvent(QFocusEvent *event)
{
    if (!onlyTheRowChanges(event)) {
        QTableView::focusInEvent(event);
        return;
    }
    setAttribute(Qt::WA_InputMethodEnabled, false);
    redrawFocus();
}

void MessagesView::focusOutEvent(QFocusEvent *event)
{
    if (!onlyTheRowChanges(event)) {
        QTableView::focusOutEvent(event);
        return;
    }
    redrawFocus();
}

void MessagesView::redrawFocus()
{
    // The frame around the rows, which the style may draw with a focus colour, and the row
    // that carries the focus frame.
    update(QRegion(rect()).subtracted(contentsRect()));
    update(currentIndex());
}
