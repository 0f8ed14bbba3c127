#include "addressbook/frmBuscar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

frmBuscar::frmBuscar(int tipo, const QStringList &nombres, QWidget *parent)
    : QDialog(parent,
        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmBuscar"));
    setWindowTitle(kTitulo);
    setModal(true);

    m_lblEncontrados = new QLabel(tipo == 0
            ? QStringLiteral("Equipos encontrados en la red que no están en la lista. Marque los que quiera añadir:")
            : QStringLiteral("Grupos de trabajo y dominios encontrados en la red que no están en la lista. "
                             "Marque los que quiera añadir:"),
        this);
    m_lblEncontrados->setObjectName(QStringLiteral("lblEncontrados"));
    m_lblEncontrados->setWordWrap(true);
    m_lblEncontrados->setAccessibleName(m_lblEncontrados->text());

    m_lstEncontrados = new QListWidget(this);
    m_lstEncontrados->setObjectName(QStringLiteral("lstEncontrados"));
    m_lstEncontrados->setAccessibleName(
        tipo == 0 ? QStringLiteral("Equipos encontrados") : QStringLiteral("Grupos de trabajo y dominios encontrados"));
    m_lstEncontrados->setAccessibleDescription(m_lblEncontrados->text());
    m_lblEncontrados->setBuddy(m_lstEncontrados);
    for (const QString &nombre : nombres) {
        auto *fila = new QListWidgetItem(nombre, m_lstEncontrados);
        fila->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        fila->setCheckState(Qt::Unchecked);
    }
    m_lstEncontrados->setCurrentRow(0);

    m_cmdTodos = new QPushButton(QStringLiteral("Marcar &todos"), this);
    m_cmdTodos->setObjectName(QStringLiteral("cmdTodos"));
    m_cmdAnadir = new QPushButton(QStringLiteral("&Añadir"), this);
    m_cmdAnadir->setObjectName(QStringLiteral("cmdAnadir"));
    m_cmdAnadir->setDefault(true);
    m_cmdCancelar = new QPushButton(QStringLiteral("&Cancelar"), this);
    m_cmdCancelar->setObjectName(QStringLiteral("cmdCancelar"));

    // "Marcar todos" acts on the list, on its own at the left; the answers at the right.
    auto *botones = new QHBoxLayout;
    botones->addWidget(m_cmdTodos);
    botones->addStretch();
    botones->addWidget(m_cmdAnadir);
    botones->addWidget(m_cmdCancelar);
    auto *capa = new QVBoxLayout(this);
    capa->addWidget(m_lblEncontrados);
    capa->addWidget(m_lstEncontrados);
    capa->addLayout(botones);

    connect(m_cmdAnadir, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cmdCancelar, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_cmdTodos, &QPushButton::clicked, this, [this] {
        for (int i = 0; i < m_lstEncontrados->count(); ++i)
            m_lstEncontrados->item(i)->setCheckState(Qt::Checked);
    });
    connect(m_lstEncontrados, &QListWidget::itemChanged, this, &frmBuscar::actualizar);
    actualizar();

    // As wide as a long name and the buttons need, about ten rows high; no larger.
    m_lstEncontrados->setMinimumHeight(m_lstEncontrados->fontMetrics().height() * 10);
    setFixedSize(qMax(sizeHint().width(), fontMetrics().averageCharWidth() * 48), sizeHint().height());
    m_lstEncontrados->setFocus();
}

QStringList frmBuscar::marcados() const
{
    QStringList nombres;
    for (int i = 0; i < m_lstEncontrados->count(); ++i) {
        if (m_lstEncontrados->item(i)->checkState() == Qt::Checked)
            nombres << m_lstEncontrados->item(i)->text();
    }
    return nombres;
}

void frmBuscar::actualizar()
{
    m_cmdAnadir->setEnabled(!marcados().isEmpty());
}
