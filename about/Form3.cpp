#include "about/Form3.h"

#include "runtime/Runtime.h"
#include "version.h"
#include "widgets/Appearance.h"
#include "widgets/Twips.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

namespace {

const QString kAuthor = QStringLiteral("Equipo Velrisa");
const QString kWeb = QStringLiteral("https://velrisa.example.org/");
const QString kMail = QStringLiteral("soporte@velrisa.example.org");

const QColor kBlue(0, 0, 255);

const QString kLicence = QStringLiteral("Velrisa - Copyright (C) Equipo Velrisa. Todos los derechos reservados.\n"
                                         "\n"
                                         "Este programa se distribuye gratuitamente con estas condiciones:\n"
                                         "\n"
                                         "1. El programa es propiedad del Equipo Velrisa, que conserva todos\n"
                                         "    los derechos de autor sobre él y sobre su documentación.\n"
                                         "2. Puede usarlo sin pagar nada, en casa, en la escuela o en la\n"
                                         "    empresa, en tantos equipos como quiera.\n"
                                         "3. Puede copiarlo y repartirlo libremente, siempre que lo haga\n"
                                         "    completo, sin cambios y sin cobrar por ello.\n"
                                         "4. No está permitido modificarlo, desensamblarlo ni venderlo, ni\n"
                                         "    incluirlo en otro producto sin permiso por escrito.\n"
                                         "5. El programa se ofrece \"tal cual\", sin garantía de ningún tipo.\n"
                                         "    El Equipo Velrisa no responde de los daños ni de las pérdidas\n"
                                         "    de datos que pudiera causar su uso o la imposibilidad de usarlo.\n"
                                         "6. Usar el programa supone aceptar estas condiciones. Si no está\n"
                                         "    de acuerdo con ellas, no lo use y bórrelo de su equipo.");

// The sizes of the layout are given in points at 96 dots per inch, in the program's face.
QFont pointFont(qreal points, bool bold = false)
{
    return Appearance::font(qRound(points * 96.0 / 72.0), bold);
}

QLabel *label(QWidget *parent, const char *name, const QString &text, const QFont &font, const QColor &color)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
    label->adjustSize();
    return label;
}

// A label sized to its text whose right edge stays where the layout puts it.
void alignRight(QLabel *label, int left, int top, int width)
{
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->move(Twips::px(left + width) - label->width(), Twips::px(top));
}

} // namespace

Form3::Form3(Runtime &rt, QWidget *parent)
    : QDialog(parent)
    , m_rt(rt)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Acerca de..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/acerca16.png"));
    icon.addFile(QStringLiteral(":/icons/acerca32.png"));
    setWindowIcon(icon);
    setModal(true);
    setFixedSize(Twips::px(7275), Twips::px(3855));

    // Children are stacked in creation order: the banner first, so that what sits on it shows.
    auto *shape1 = new QWidget(this);
    shape1->setObjectName(QStringLiteral("Shape1"));
    shape1->setGeometry(Twips::px(0), Twips::px(0), Twips::px(7335), Twips::px(855));
    QPalette negro = shape1->palette();
    negro.setColor(QPalette::Window, Qt::black);
    shape1->setPalette(negro);
    shape1->setAutoFillBackground(true);

    auto *imgIcono = new QLabel(this);
    imgIcono->setObjectName(QStringLiteral("imgIcono"));
    imgIcono->setGeometry(Twips::px(180), Twips::px(180), Twips::px(480), Twips::px(480));
    imgIcono->setPixmap(QPixmap(QStringLiteral(":/icons/acerca32.png")));

    auto *lblTitulo = label(this, "lblTitulo", QStringLiteral("Velrisa"), pointFont(8.25, true), Qt::white);
    lblTitulo->move(Twips::px(900), Twips::px(240));
    auto *lblPor = label(this, "lblPor", QStringLiteral("Por ") + kAuthor, pointFont(8.25), Qt::white);
    lblPor->move(Twips::px(900), Twips::px(480));

    auto *command1 = new QPushButton(QStringLiteral("&Aceptar"), this);
    command1->setObjectName(QStringLiteral("Command1"));
    command1->setGeometry(Twips::px(5520), Twips::px(180), Twips::px(1635), Twips::px(495));
    command1->setFont(pointFont(9.75, true));
    command1->setDefault(true);
    connect(command1, &QPushButton::clicked, this, &QDialog::accept);

    auto *picture1 = new QFrame(this);
    picture1->setObjectName(QStringLiteral("Picture1"));
    picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picture1->setLineWidth(1);
    picture1->setGeometry(Twips::px(-60), Twips::px(840), Twips::px(7455), 4);

    auto *txtLegal = new QPlainTextEdit(this);
    txtLegal->setObjectName(QStringLiteral("txtLegal"));
    txtLegal->setGeometry(Twips::px(120), Twips::px(1020), Twips::px(7035), Twips::px(2115));
    txtLegal->setFont(pointFont(8.25));
    txtLegal->setPlainText(kLicence);
    txtLegal->setAccessibleName(QStringLiteral("Licencia"));
    txtLegal->setReadOnly(true);
    txtLegal->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    txtLegal->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtLegal->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The lines are short enough to fit; a wider substitute font must not hide their ends.
    txtLegal->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    QFont underlined = pointFont(8.25);
    underlined.setUnderline(true);
    m_lblURL = label(this, "lblURL", QUrl(kWeb).toString(QUrl::RemoveScheme).mid(2), underlined, kBlue);
    m_lblURL->setProperty("tag", kWeb);
    alignRight(m_lblURL, 5160, 3240, 1995);
    m_lblURL->installEventFilter(this);

    m_label1 = label(this, "Label1", QStringLiteral("¿Fallos? ¿Problemas? ¿Sugerencias?"), underlined, kBlue);
    alignRight(m_label1, 4605, 3540, 2550);
    m_label1->installEventFilter(this);

    auto *lblVersion
        = label(this, "lblVersion", versionLine(), pointFont(8.25), palette().color(QPalette::WindowText));
    lblVersion->move(Twips::px(120), Twips::px(3540));

    setTabOrder(txtLegal, command1);
    txtLegal->setFocus();
}

void Form3::open(Runtime &rt)
{
    // The tray menu can ask again while the window is up; that second request is ignored.
    static bool opened = false;
    if (opened)
        return;
    opened = true;
    struct Closing
    {
        ~Closing() { opened = false; }
    } closing;

    // No owner: centred on the screen by QDialog, and destroyed when this returns.
    Form3 window(rt);
    window.exec();
}

QString Form3::versionLine()
{
    return QStringLiteral("Versión: %1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionRevision);
}

void Form3::keyPressEvent(QKeyEvent *event)
{
    // There is no cancel button: Esc must not close the window as QDialog would.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool Form3::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease && (watched == m_label1 || watched == m_lblURL)) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        auto *label = static_cast<QLabel *>(watched);
        if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
            if (watched == m_label1)
                Label1_Click();
            else
                lblURL_Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Form3::Label1_Click()
{
    // The wording of this box is the program's own, as it has always read.
    m_rt.msgBox(
        QStringLiteral("Si ha encontrado algún fallo, tiene algún problema o sugerencia envié un e-mail a: ") + kMail,
        Runtime::Icon::Information, QStringLiteral("Errores, Problemas, Sugerencias..."));
}

void Form3::lblURL_Click()
{
    // A browser that cannot be started is not worth a message; the window stays as it is.
    (void)m_rt.openUrl(QUrl(m_lblURL->property("tag").toString()));
}
