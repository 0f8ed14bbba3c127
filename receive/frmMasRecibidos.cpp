#include "receive/frmMasRecibidos.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

frmMasRecibidos::frmMasRecibidos(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_texto(new QLabel(this))
    , m_ver(new QPushButton(QStringLiteral("&Ver mensajes recibidos"), this))
    , m_aceptar(new QPushButton(QStringLiteral("&Aceptar"), this))
{
    setObjectName(QStringLiteral("frmMasRecibidos"));
    setWindowTitle(QStringLiteral("Más mensajes recibidos"));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/mensajes16.png")));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);

    m_texto->setObjectName(QStringLiteral("lblCuenta"));
    m_texto->setTextFormat(Qt::PlainText);
    m_texto->setWordWrap(true);
    m_ver->setObjectName(QStringLiteral("cmdVerRecibidos"));
    m_ver->setAccessibleName(QStringLiteral("Ver mensajes recibidos"));
    m_ver->setAutoDefault(false);
    m_aceptar->setObjectName(QStringLiteral("cmdAceptar"));
    m_aceptar->setAccessibleName(QStringLiteral("Aceptar"));
    m_aceptar->setDefault(true);
    connect(m_aceptar, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ver, &QPushButton::clicked, this, [this] {
        accept();
        Q_EMIT verRecibidos();
    });

    auto *botones = new QHBoxLayout;
    botones->addStretch(1);
    botones->addWidget(m_ver);
    botones->addWidget(m_aceptar);
    auto *capas = new QVBoxLayout(this);
    capas->addWidget(m_texto, 1);
    capas->addLayout(botones);
    setTabOrder(m_ver, m_aceptar);
    anadir(0);
    resize(420, 140);
}

void frmMasRecibidos::anadir(int mensajes)
{
    m_cuenta += mensajes;
    const QString numero = QLocale(QLocale::Spanish).toString(m_cuenta);
    const QString texto = m_cuenta == 1
        ? QStringLiteral("Ha llegado 1 mensaje más mientras otros esperaban a mostrarse. No se abre en su ventana: "
                         "está en «Mensajes recibidos».")
        : QStringLiteral("Han llegado %1 mensajes más mientras otros esperaban a mostrarse. No se abren uno a uno: "
                         "están todos en «Mensajes recibidos».")
              .arg(numero);
    m_texto->setText(texto);
    m_texto->setAccessibleName(texto);
}
