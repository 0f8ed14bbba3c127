#pragma once

#include <QTableView>

// The table of the sent-messages window. Rows are only ever appended at the end, and a
// new row lies at or below every row already shown: after an append the view repaints
// only from the first new row down instead of its whole viewport, so that the cost of
// a new row does not include redrawing the rows that have not changed.
class VistaMensajes final : public QTableView
{
    Q_OBJECT

public:
    explicit VistaMensajes(QWidget *parent = nullptr);

    void doItemsLayout() override;
    // Lays out now what changes have left for later, so that a paint right after shows them.
    void ponerAlDia() { executeDelayedItemsLayout(); }
    void reset() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    bool soloCambiaLaFila(const QFocusEvent *event) const;
    void redibujarFoco();
    // Whether the rows look the same in an active and an inactive window.
    bool coloresSinCambio() const;
    static bool esActivacion(const QEvent *event);

    // First row appended since the last layout; -1 when none was, or when something other
    // than an append happened and the whole view has to be laid out and drawn again.
    int m_primeraAgregada = -1;
    bool m_completa = true;
    // A repaint of only the new rows is asked for and not done yet.
    bool m_parcialPendiente = false;
};
