#include "widgets/VentanaLista.h"

#include "widgets/Twips.h"
#include "widgets/VistaMensajes.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

VentanaLista::VentanaLista(const QString &nombre, const QString &titulo, QAbstractItemModel *modelo, int columnaMensaje)
    : QWidget(nullptr,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
    , m_lista(new VistaMensajes(this))
    , m_cerrar(new QPushButton(QStringLiteral("&Cerrar"), this))
{
    setObjectName(nombre);
    setWindowTitle(titulo);
    setWindowIcon(QIcon(QStringLiteral(":/pictures/mensajes16.png")));
    setFixedSize(Twips::px(7290), Twips::px(3195));

    m_lista->setObjectName(QStringLiteral("ListView1"));
    m_lista->setAccessibleName(titulo);
    m_lista->setGeometry(Twips::px(60), Twips::px(60), Twips::px(7155), Twips::px(2535));
    m_lista->setModel(modelo);
    // A report list, not a grid: whole rows, no row numbers, no in-place editing, no sorting.
    m_lista->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lista->setSelectionMode(QAbstractItemView::SingleSelection);
    m_lista->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lista->setShowGrid(false);
    m_lista->setSortingEnabled(false);
    m_lista->setWordWrap(false);
    m_lista->verticalHeader()->hide();
    m_lista->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_lista->verticalHeader()->setDefaultSectionSize(m_lista->fontMetrics().height() + 4);
    m_lista->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_lista->horizontalHeader()->setHighlightSections(false);
    m_lista->horizontalHeader()->setStretchLastSection(false);
    for (int c = 0; c < modelo->columnCount(); ++c)
        m_lista->setColumnWidth(c, Twips::px(1440));
    m_lista->horizontalHeader()->setSectionResizeMode(columnaMensaje, QHeaderView::Stretch);

    m_cerrar->setObjectName(QStringLiteral("Command1"));
    m_cerrar->setAccessibleName(QStringLiteral("Cerrar"));
    m_cerrar->setGeometry(Twips::px(5760), Twips::px(2700), Twips::px(1455), Twips::px(435));
    m_cerrar->setDefault(true);
    connect(m_cerrar, &QPushButton::clicked, this, &VentanaLista::cerrar);
    setTabOrder(m_lista, m_cerrar);

    // A plain window has no default button: Enter is wired to "&Cerrar" by hand.
    for (const int key : { Qt::Key_Return, Qt::Key_Enter }) {
        auto *atajo = new QShortcut(QKeySequence(key), this);
        connect(atajo, &QShortcut::activated, m_cerrar, &QPushButton::click);
    }
}

void VentanaLista::mostrar()
{
    if (!m_yaMostrada) {
        m_yaMostrada = true;
        if (const QScreen *pantalla = QGuiApplication::primaryScreen()) {
            QRect marco = frameGeometry();
            marco.moveCenter(pantalla->availableGeometry().center());
            move(marco.topLeft());
        }
    }
    show();
    raise();
    activateWindow();
}

void VentanaLista::closeEvent(QCloseEvent *event)
{
    event->ignore();
    hide();
}

void VentanaLista::cerrar()
{
    hide();
}
