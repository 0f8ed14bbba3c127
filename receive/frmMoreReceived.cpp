#include "receive/frmMoreReceived.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

frmMoreReceived::frmMoreReceived(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_text(new QLabel(this))
    , m_show(new QPushButton(QStringLiteral("&Ver mensajes recibidos"), this))
    , m_ok(new QPushButton(QStringLiteral("&Aceptar"), this))
{
    setObjectName(QStringLiteral("frmMoreReceived"));
    setWindowTitle(QStringLiteral("Más mensajes recibidos"));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/mensajes16.png")));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);

    m_text->setObjectName(QStringLiteral("lblCount"));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_show->setObjectName(QStringLiteral("cmdShowReceived"));
    m_show->setAccessibleName(QStringLiteral("Ver mensajes recibidos"));
    m_show->setAutoDefault(false);
    m_ok->setObjectName(QStringLiteral("cmdOk"));
    m_ok->setAccessibleName(QStringLiteral("Aceptar"));
    m_ok->setDefault(true);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_show, &QPushButton::clicked, this, [this] {
        accept();
        Q_EMIT showReceived();
    });

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_show);
    buttons->addWidget(m_ok);
    auto *layers = new QVBoxLayout(this);
    layers->addWidget(m_text, 1);
    layers->addLayout(buttons);
    setTabOrder(m_show, m_ok);
    add(0);
    resize(420, 140);
}

void frmMoreReceived::add(int messages)
{
    m_count += messages;
    const QString number = QLocale(QLocale::Spanish).toString(m_count);
    const QString text = m_count == 1
        ? QStringLiteral("Ha llegado 1 mensaje más mientras otros esperaban a mostrarse. No se abre en su ventana: "
                         "está en «Mensajes recibidos».")
        : QStringLiteral("Han llegado %1 mensajes más mientras otros esperaban a mostrarse. No se abren uno a uno: "
                         "están todos en «Mensajes recibidos».")
              .arg(number);
    m_text->setText(text);
    m_text->setAccessibleName(text);
}
