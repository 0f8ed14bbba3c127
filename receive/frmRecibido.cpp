#include "receive/frmRecibido.h"

#include "receive/ModeloRecibidos.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

frmRecibido::frmRecibido(const Buzon::Mensaje &mensaje, QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_remitente(destinoRespuesta(mensaje))
    , m_encabezado(new QLabel(this))
    , m_texto(new QPlainTextEdit(this))
    , m_responder(new QPushButton(QStringLiteral("&Responder"), this))
    , m_cerrarTodos(new QPushButton(QStringLiteral("Cerrar &todos"), this))
    , m_aceptar(new QPushButton(QStringLiteral("&Aceptar"), this))
{
    setObjectName(QStringLiteral("frmRecibido"));
    setWindowTitle(QStringLiteral("Mensaje recibido"));
    setWindowIcon(QIcon(QStringLiteral(":/pictures/mensajes16.png")));
    setAttribute(Qt::WA_DeleteOnClose);
    // In front, but the keyboard stays where the user is typing.
    setAttribute(Qt::WA_ShowWithoutActivating);

    // Names and text come from the network: never read as markup.
    m_encabezado->setObjectName(QStringLiteral("lblEncabezado"));
    m_encabezado->setTextFormat(Qt::PlainText);
    m_encabezado->setWordWrap(true);
    m_encabezado->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QString linea = encabezado(mensaje);
    if (mensaje.cortado)
        linea += QStringLiteral("\n(El mensaje llegó cortado: solo se guardan sus primeros 1600 caracteres.)");
    m_encabezado->setText(linea);
    m_encabezado->setAccessibleName(linea);

    m_texto->setObjectName(QStringLiteral("txtMensaje"));
    m_texto->setAccessibleName(QStringLiteral("Mensaje"));
    m_texto->setReadOnly(true);
    m_texto->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_texto->setPlainText(mensaje.texto);
    // Where the keyboard goes once the user turns to the window.
    m_texto->setFocus(Qt::OtherFocusReason);

    m_responder->setObjectName(QStringLiteral("cmdResponder"));
    m_responder->setAccessibleName(QStringLiteral("Responder"));
    m_responder->setAutoDefault(false);
    m_cerrarTodos->setObjectName(QStringLiteral("cmdCerrarTodos"));
    m_cerrarTodos->setAccessibleName(QStringLiteral("Cerrar todos"));
    m_cerrarTodos->setAutoDefault(false);
    m_cerrarTodos->hide();
    m_aceptar->setObjectName(QStringLiteral("cmdAceptar"));
    m_aceptar->setAccessibleName(QStringLiteral("Aceptar"));
    m_aceptar->setDefault(true);

    auto *botones = new QHBoxLayout;
    botones->addStretch(1);
    botones->addWidget(m_cerrarTodos);
    botones->addWidget(m_responder);
    botones->addWidget(m_aceptar);
    connect(m_aceptar, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cerrarTodos, &QPushButton::clicked, this, &frmRecibido::cerrarTodos);
    connect(m_responder, &QPushButton::clicked, this, [this] {
        accept();
        Q_EMIT responder(m_remitente);
    });

    auto *capas = new QVBoxLayout(this);
    capas->addWidget(m_encabezado);
    capas->addWidget(m_texto, 1);
    capas->addLayout(botones);
    setTabOrder(m_texto, m_cerrarTodos);
    setTabOrder(m_cerrarTodos, m_responder);
    setTabOrder(m_responder, m_aceptar);
    resize(420, 240);
}

QString frmRecibido::encabezado(const Buzon::Mensaje &mensaje)
{
    return QStringLiteral("Mensaje de %1 a %2 el %3 a las %4")
        .arg(mensaje.remitente(), mensaje.para, ModeloRecibidos::fecha(mensaje.llegada), ModeloRecibidos::hora(mensaje.llegada));
}

QString frmRecibido::destinoRespuesta(const Buzon::Mensaje &mensaje)
{
    static const QRegularExpression netbios(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]{0,14}$"));
    if (mensaje.equipo.isEmpty() || netbios.match(mensaje.de).hasMatch())
        return mensaje.de;
    return mensaje.equipo;
}

void frmRecibido::setCerrarTodos(bool visible)
{
    m_cerrarTodos->setVisible(visible);
}
