#pragma once

#include <QTableView>

// The table of the sent-messages window. Rows are only ever appended at the end, and a
// new row lies at or below every row already shown: after an append the view repaints
// only from the first new row down instead of its whole viewport, so that the cost of
// a new row does not include redrawing the rows that have not changed.
class MessagesView final : public QTableView
{
    Q_OBJECT

public:
    explicit MessagesView(QWidget *parent = nullptr);

    void doItemsLayout() override;
    // Lays out now what changes have left for later, so that a paint right after shows them.
    void bringUpToDate() { executeDelayedItemsLayout(); }
    void reset() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    bool onlyTheRowChanges(const QFocusEvent *event) const;
    void redrawFocus();
    // Whether the rows look the same in an active and an inactive window.
    bool coloursUnchanged() const;
    static bool isActivation(const QEvent *event);

    // First row appended since the last layout; -1 when none was, or when something other
    // than an append happened and the whole view has to be laid out and drawn again.
    int m_firstAdded = -1;
    bool m_complete = true;
    // A repaint of only the new rows is asked for and not done yet.
    bool m_partialPending = false;
};
