#include "sentlog/VistaMensajes.h"

#include <QEvent>
#include <QHeaderView>

VistaMensajes::VistaMensajes(QWidget *parent)
    : QTableView(parent)
{ }

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
    return QTableView::viewportEvent(event);
}
