#include "widgets/ListWindow.h"

#include "widgets/Twips.h"
#include "widgets/MessagesView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

ListWindow::ListWindow(const QString &name, const QString &title, QAbstractItemModel *model, int messageColumn)
    : QWidget(nullptr,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
    , m_list(new MessagesView(this))
    , m_close(new QPushButton(QStringLiteral("&Cerrar"), this))
{
    setObjectName(name);
    setWindowTitle(title);
    setWindowIcon(QIcon(QStringLiteral(":/pictures/mensajes16.png")));
    setFixedSize(Twips::px(7290), Twips::px(3195));

    m_list->setObjectName(QStringLiteral("ListView1"));
    m_list->setAccessibleName(title);
    m_list->setGeometry(Twips::px(60), Twips::px(60), Twips::px(7155), Twips::px(2535));
    m_list->setModel(model);
    // A report list, not a grid: whole rows, no row numbers, no in-place editing, no sorting.
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setShowGrid(false);
    m_list->setSortingEnabled(false);
    m_list->setWordWrap(false);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 4);
    m_list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->horizontalHeader()->setStretchLastSection(false);
    for (int c = 0; c < model->columnCount(); ++c)
        m_list->setColumnWidth(c, Twips::px(1440));
    m_list->horizontalHeader()->setSectionResizeMode(messageColumn, QHeaderView::Stretch);

    m_close->setObjectName(QStringLiteral("Command1"));
    m_close->setAccessibleName(QStringLiteral("Cerrar"));
    m_close->setGeometry(Twips::px(5760), Twips::px(2700), Twips::px(1455), Twips::px(435));
    m_close->setDefault(true);
    connect(m_close, &QPushButton::clicked, this, &ListWindow::closeWindow);
    setTabOrder(m_list, m_close);

    // A plain window has no default button: Enter is wired to "&Cerrar" by hand.
    for (const int key : { Qt::Key_Return, Qt::Key_Enter }) {
        auto *shortcut = new QShortcut(QKeySequence(key), this);
        connect(shortcut, &QShortcut::activated, m_close, &QPushButton::click);
    }
}

void ListWindow::showWindow()
{
    if (!m_alreadyShown) {
        m_alreadyShown = true;
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    show();
    raise();
    activateWindow();
}

void ListWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    hide();
}

void ListWindow::closeWindow()
{
    hide();
}
