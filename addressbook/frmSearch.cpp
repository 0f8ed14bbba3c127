#include "addressbook/frmSearch.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

frmSearch::frmSearch(int kind, const QStringList &names, QWidget *parent)
    : QDialog(parent,
        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmSearch"));
    setWindowTitle(kTitle);
    setModal(true);

    m_lblFound = new QLabel(kind == 0
            ? QStringLiteral("Equipos encontrados en la red que no están en la lista. Marque los que quiera añadir:")
            : QStringLiteral("Grupos de trabajo y dominios encontrados en la red que no están en la lista. "
                             "Marque los que quiera añadir:"),
        this);
    m_lblFound->setObjectName(QStringLiteral("lblFound"));
    m_lblFound->setWordWrap(true);
    m_lblFound->setAccessibleName(m_lblFound->text());

    m_lstFound = new QListWidget(this);
    m_lstFound->setObjectName(QStringLiteral("lstFound"));
    m_lstFound->setAccessibleName(
        kind == 0 ? QStringLiteral("Equipos encontrados") : QStringLiteral("Grupos de trabajo y dominios encontrados"));
    m_lstFound->setAccessibleDescription(m_lblFound->text());
    m_lblFound->setBuddy(m_lstFound);
    for (const QString &name : names) {
        auto *row = new QListWidgetItem(name, m_lstFound);
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        row->setCheckState(Qt::Unchecked);
    }
    m_lstFound->setCurrentRow(0);

    m_cmdAll = new QPushButton(QStringLiteral("Marcar &todos"), this);
    m_cmdAll->setObjectName(QStringLiteral("cmdAll"));
    m_cmdAdd = new QPushButton(QStringLiteral("&Añadir"), this);
    m_cmdAdd->setObjectName(QStringLiteral("cmdAdd"));
    m_cmdAdd->setDefault(true);
    m_cmdCancelar = new QPushButton(QStringLiteral("&Cancelar"), this);
    m_cmdCancelar->setObjectName(QStringLiteral("cmdCancelar"));

    // "Marcar todos" acts on the list, on its own at the left; the answers at the right.
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdAll);
    buttons->addStretch();
    buttons->addWidget(m_cmdAdd);
    buttons->addWidget(m_cmdCancelar);
    auto *layer = new QVBoxLayout(this);
    layer->addWidget(m_lblFound);
    layer->addWidget(m_lstFound);
    layer->addLayout(buttons);

    connect(m_cmdAdd, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cmdCancelar, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_cmdAll, &QPushButton::clicked, this, [this] {
        for (int i = 0; i < m_lstFound->count(); ++i)
            m_lstFound->item(i)->setCheckState(Qt::Checked);
    });
    connect(m_lstFound, &QListWidget::itemChanged, this, &frmSearch::refresh);
    refresh();

    // As wide as a long name and the buttons need, about ten rows high; no larger.
    m_lstFound->setMinimumHeight(m_lstFound->fontMetrics().height() * 10);
    setFixedSize(qMax(sizeHint().width(), fontMetrics().averageCharWidth() * 48), sizeHint().height());
    m_lstFound->setFocus();
}

QStringList frmSearch::marked() const
{
    QStringList names;
    for (int i = 0; i < m_lstFound->count(); ++i) {
        if (m_lstFound->item(i)->checkState() == Qt::Checked)
            names << m_lstFound->item(i)->text();
    }
    return names;
}

void frmSearch::refresh()
{
    m_cmdAdd->setEnabled(!marked().isEmpty());
}
