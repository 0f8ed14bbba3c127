#include "widgets/VistaMensajes.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QItemSelectionModel>

VistaMensajes::VistaMensajes(QWidget *parent)
    : QTableView(parent)
{
    horizontalHeader()->viewport()->installEventFilter(this);
}

bool VistaMensajes::eventFilter(QObject *watched, QEvent *event)
{
    // The column headings are an item view of their own, which redraws every heading on the
    // same occasions; with no heading highlighted and one set of colours they look the same.
    const QHeaderView *cabecera = horizontalHeader();
    if (watched == cabecera->viewport() && esActivacion(event) && !cabecera->highlightSections()
        && cabecera->palette().isEqual(QPalette::Active, QPalette::Inactive))
        return true;
    return QTableView::eventFilter(watched, event);
}

bool VistaMensajes::esActivacion(const QEvent *event)
{
    return event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate;
}

void VistaMensajes::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QTableView::rowsInserted(parent, start, end);
    if (parent.isValid() || !model() || end != model()->rowCount() - 1) {
        m_completa = true;
        return;
    }
    m_primeraAgregada = m_primeraAgregada < 0 ? start : qMin(m_primeraAgregada, start);
}

void VistaMensajes::reset()
{
    m_completa = true;
    QTableView::reset();
}

void VistaMensajes::doItemsLayout()
{
    const int primera = m_primeraAgregada;
    const bool completa = m_completa || primera < 0 || !verticalHeader()->updatesEnabled();
    m_primeraAgregada = -1;
    m_completa = false;
    if (completa) {
        QTableView::doItemsLayout();
        return;
    }
    // Scroll bars and headers follow the new row count; of the viewport, only what lies
    // from the first new row down can have changed.
    updateGeometries();
    const int y = rowViewportPosition(primera);
    if (y < 0)
        viewport()->update();
    else if (y < viewport()->height())
        viewport()->update(0, y, viewport()->width(), viewport()->height() - y);
    m_parcialPendiente = true;
}

void VistaMensajes::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    // A scroll moves what is on the screen, and with it the stale rows above the part still
    // waiting for its repaint, which that part no longer covers: all of it is drawn again.
    if (m_parcialPendiente && (dx != 0 || dy != 0))
        viewport()->update();
}

bool VistaMensajes::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Paint)
        m_parcialPendiente = false;
    // The item view redraws its whole viewport whenever the window gains or loses the focus,
    // for the colours of the selection, which the same test as for the focus finds unchanged.
    if (esActivacion(event) && coloresSinCambio())
        return QAbstractScrollArea::viewportEvent(event);
    return QTableView::viewportEvent(event);
}

bool VistaMensajes::soloCambiaLaFila(const QFocusEvent *event) const
{
    // The whole viewport changes with the focus only through the colours of a selection; with
    // nothing selected and one set of colours whether the window is active or not, the focus
    // frame of the current row is all that is drawn differently.
    return event->reason() == Qt::ActiveWindowFocusReason && currentIndex().isValid() && coloresSinCambio();
}

bool VistaMensajes::coloresSinCambio() const
{
    return palette().isEqual(QPalette::Active, QPalette::Inactive)
        && (!selectionModel() || !selectionModel()->hasSelection());
}

// The wait window takes the focus at every recipient and gives it back: the item view would
// redraw every visible row both times.
void VistaMensajes::focusInEvent(QFocusEvent *event)
{
    if (!soloCambiaLaFila(event)) {
        QTableView::focusInEvent(event);
        return;
    }
    setAttribute(Qt::WA_InputMethodEnabled, false);
    redibujarFoco();
}

void VistaMensajes::focusOutEvent(QFocusEvent *event)
{
    if (!soloCambiaLaFila(event)) {
        QTableView::focusOutEvent(event);
        return;
    }
    redibujarFoco();
}

void VistaMensajes::redibujarFoco()
{
    // The frame around the rows, which the style may draw with a focus colour, and the row
    // that carries the focus frame.
    update(QRegion(rect()).subtracted(contentsRect()));
    update(currentIndex());
}
