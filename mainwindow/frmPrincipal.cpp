#include "mainwindow/frmPrincipal.h"

#include "about/Form3.h"
#include "about/HelpButton.h"
#include "addressbook/Module.h"
#include "dispatch/Dispatch.h"
#include "dispatch/SendWait.h"
#include "dispatch/frmWait.h"
#include "mainwindow/ImageButton.h"
#include "mainwindow/MessageEntry.h"
#include "mainwindow/RecentList.h"
#include "mainwindow/RecipientEntry.h"
#include "mainwindow/RecipientsCombo.h"
#include "receive/Receiving.h"
#include "runtime/IconoBarra.h"
#include "runtime/Runtime.h"
#include "runtime/Text.h"
#include "sentlog/frmMensajes.h"
#include "widgets/Twips.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>

#include <utility>

namespace {

const QString kBackground = QStringLiteral(":/pictures/fondo.png");
const QString kAlternativeBackground = QStringLiteral(":/pictures/fondo_alternativo.png");

} // namespace

frmPrincipal::frmPrincipal(Runtime &runtime, Module &module, IconoBarra &taskIco, QWidget *parent)
    : QMainWindow(parent)
    , m_rt(runtime)
    , m_module(module)
    , m_taskIco(taskIco)
    , m_dispatch(std::make_unique<Dispatch>(runtime, *this))
    , m_help(std::make_unique<HelpButton>(runtime))
{
    setObjectName(QStringLiteral("frmPrincipal"));
    // "elrisa", without the V, is deliberate and not a typo: the main window has always been titled so.
    setWindowTitle(QStringLiteral("elrisa"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/velrisa16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/velrisa32.png"), QSize(32, 32));
    setWindowIcon(icon);

    createControls();
    m_recipientBox = std::make_unique<RecipientsCombo>(m_txtDestino);
    m_recipientEntry = new RecipientEntry(m_rt, m_module, m_txtDestino, m_optGrupo[0], m_optGrupo[1], m_cmbDestino,
        m_command1, m_txtMensaje, m_cmdEnviar, this);
    m_messageEntry = new MessageEntry(
        m_txtMensaje, m_txtDestino, m_cmdEnviar, [this] { setAlternativeBackground(); }, this);
    createMenu();
    createKeys();
    tabOrder();

    setFixedSize(Twips::px(8760), Twips::px(4545));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));

    connect(&m_taskIco, &IconoBarra::restoreRequested, this, &frmPrincipal::taskIco_Restore);
    connect(&m_taskIco, &IconoBarra::menuRequested, this, &frmPrincipal::taskIco_Menu);
    // Started minimised where no tray was yet: now the program lives in the tray as asked.
    connect(&m_taskIco, &IconoBarra::trayArrived, this, [this] {
        if (isVisible() && isMinimized() && !m_ending)
            hide();
    });
}

frmPrincipal::~frmPrincipal() = default;

void frmPrincipal::createControls()
{
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("areaCliente"));
    setCentralWidget(central);

    m_background = new QLabel(central);
    m_background->setObjectName(QStringLiteral("Picture"));
    m_background->setGeometry(0, 0, 84, 303);
    m_background->setPixmap(QPixmap(kBackground));

    createRecipients(central);
    createMessage(central);
    createButtons(central);
}

// The recipients: the box, the kind options, the address-book list and its editor's button.
void frmPrincipal::createRecipients(QWidget *central)
{
    m_lbl1 = new QLabel(QStringLiteral("Destinatarios (separar con espacios):"), central);
    m_lbl1->setObjectName(QStringLiteral("lbl1"));
    m_lbl1->setGeometry(Twips::rect(1440, 120, 2775, 255));

    // Drawn transparent: it shows nothing and takes no clicks.
    m_label1 = new QLabel(central);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(Twips::rect(6705, -195, 1875, 555));
    m_label1->setAutoFillBackground(false);
    m_label1->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette blank = m_label1->palette();
    blank.setColor(QPalette::Window, Qt::white);
    m_label1->setPalette(blank);

    m_txtDestino = new QComboBox(central);
    m_txtDestino->setObjectName(QStringLiteral("txtDestino"));
    m_txtDestino->setGeometry(Twips::rect(1440, 420, 7155, 315));
    m_txtDestino->setEditable(true);
    // The drop-down holds only the recent lines; Enter sends instead of adding an item.
    m_txtDestino->setInsertPolicy(QComboBox::NoInsert);
    m_txtDestino->setDuplicatesEnabled(true);
    // Screen readers name a field after its label; the box's own line edit is what has the focus.
    m_lbl1->setBuddy(m_txtDestino);
    m_txtDestino->lineEdit()->setAccessibleName(m_lbl1->text());
    m_txtDestino->view()->setAccessibleName(m_lbl1->text());

    static const char *const groupTexts[2] = { "Equipo", "Grupo de trabajo/dominio" };
    static const QRect groupPlaces[2] = { Twips::rect(1440, 825, 1215, 255), Twips::rect(2880, 825, 2535, 255) };
    for (int i = 0; i < 2; ++i) {
        m_optGrupo[i] = new QRadioButton(QString::fromUtf8(groupTexts[i]), central);
        m_optGrupo[i]->setObjectName(QStringLiteral("optGrupo(%1)").arg(i));
        m_optGrupo[i]->setGeometry(groupPlaces[i]);
    }

    m_cmbDestino = new QListWidget(central);
    m_cmbDestino->setObjectName(QStringLiteral("cmbDestino"));
    m_cmbDestino->setGeometry(Twips::rect(1440, 1125, 7140, 1230));
    m_cmbDestino->setSortingEnabled(true);
    m_cmbDestino->setSelectionMode(QAbstractItemView::MultiSelection);
    m_cmbDestino->setAccessibleName(QStringLiteral("Libreta de direcciones"));

    m_command1 = new QPushButton(QStringLiteral("&Añadir / Eliminar elementos"), central);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setGeometry(Twips::rect(6030, 2475, 2535, 315));
}

// The message box and the etched line under it.
void frmPrincipal::createMessage(QWidget *central)
{
    m_label2 = new QLabel(QStringLiteral("Mensaje:"), central);
    m_label2->setObjectName(QStringLiteral("Label2"));
    m_label2->setGeometry(Twips::rect(1440, 2880, 1455, 255));

    // Its initial text and length limit come with its behaviour (MessageEntry).
    m_txtMensaje = new QLineEdit(central);
    m_txtMensaje->setObjectName(QStringLiteral("txtMensaje"));
    m_txtMensaje->setGeometry(Twips::rect(1440, 3180, 7095, 315));
    m_label2->setBuddy(m_txtMensaje);

    // The etched separator: a shadow line with a highlight line just below it.
    m_line1 = new QFrame(central);
    m_line1->setObjectName(QStringLiteral("Line1"));
    m_line1->setGeometry(Twips::px(1350), Twips::px(3720), Twips::px(8640 - 1350), 1);
    m_line2 = new QFrame(central);
    m_line2->setObjectName(QStringLiteral("Line2"));
    m_line2->setGeometry(Twips::px(1350), Twips::px(3735), Twips::px(8640 - 1350), 1);
    for (auto [line, role] : { std::pair { m_line1, QPalette::Dark }, std::pair { m_line2, QPalette::Light } }) {
        QPalette colours = line->palette();
        colours.setColor(QPalette::Window, colours.color(role));
        line->setPalette(colours);
        line->setAutoFillBackground(true);
    }
}

// The row of buttons at the foot, and the hidden check box among them.
void frmPrincipal::createButtons(QWidget *central)
{
    const auto button = [this, central](const char *image, const QString &text, const char *name, const QRect &place,
                            void (frmPrincipal::*action)()) {
        auto *b = new ImageButton(QIcon(QStringLiteral(":/icons/%1.png").arg(QLatin1String(image))), text, central);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(place);
        connect(b, &QPushButton::clicked, this, action);
        return b;
    };
    m_cmdAcercaDe = button("boton_acerca", QStringLiteral("&Acerca de"), "cmdAcercaDe",
        Twips::rect(1380, 3840, 975, 615), &frmPrincipal::cmdAcercaDe_Click);
    m_cmdAyuda = button("boton_ayuda", QStringLiteral("&Ayuda"), "cmdAyuda", Twips::rect(2400, 3840, 975, 615),
        &frmPrincipal::cmdAyuda_Click);
    m_cmdAyuda->setVisible(false);

    m_chkCerrar = new QCheckBox(QStringLiteral("Esconder después de enviar"), central);
    m_chkCerrar->setObjectName(QStringLiteral("chkCerrar"));
    m_chkCerrar->setGeometry(Twips::rect(2580, 4020, 2775, 315));
    m_chkCerrar->setTristate(true);
    m_chkCerrar->setCheckState(Qt::Checked);
    m_chkCerrar->setVisible(false);
    // Connected after the layout state is set: that one is no change.
    connect(m_chkCerrar, &QCheckBox::stateChanged, this, &frmPrincipal::chkCerrar_Click);

    m_cmdCancelar = button("boton_cancelar", QStringLiteral("&Cancelar"), "cmdCancelar",
        Twips::rect(6120, 3840, 1215, 615), &frmPrincipal::cmdCancelar_Click);
    m_cmdEnviar = button("boton_enviar", QStringLiteral("&Enviar"), "cmdEnviar", Twips::rect(7440, 3840, 1215, 615),
        &frmPrincipal::cmdEnviar_Click);
    m_cmdEnviar->setEnabled(false);
}

void frmPrincipal::createMenu()
{
    m_mnuApp = new QMenu(this);
    m_mnuApp->setObjectName(QStringLiteral("mnuApp"));
    const auto item = [this](const char *name, const QString &caption, void (frmPrincipal::*slot)()) {
        QAction *action = m_mnuApp->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, slot);
    };
    const auto separator
        = [this](const char *name) { m_mnuApp->addSeparator()->setObjectName(QString::fromLatin1(name)); };
    item("mnuEnviar", QStringLiteral("&Mostrar Enviar mensaje"), &frmPrincipal::mnuEnviar_Click);
    item("mnuEnviados", QStringLiteral("&Mostrar mensajes enviados"), &frmPrincipal::mnuEnviados_Click);
    separator("munS1");
    m_munS1 = m_mnuApp->actions().constLast();
    // Goes in right after mnuEnviados on a computer that receives; elsewhere the menu
    // stays exactly as it is.
    m_mnuReceived = new QAction(QStringLiteral("Mostrar mensajes &recibidos"), this);
    m_mnuReceived->setObjectName(QStringLiteral("mnuReceived"));
    connect(m_mnuReceived, &QAction::triggered, this, &frmPrincipal::mnuReceived_Click);
    connect(m_mnuApp, &QMenu::aboutToShow, this, &frmPrincipal::updateReceivedMenu);
    item("mnuAcerca", QStringLiteral("&Acerca de..."), &frmPrincipal::mnuAcerca_Click);
    separator("mnuSP2");
    item("mnuSalir", QStringLiteral("&Salir"), &frmPrincipal::mnuSalir_Click);
}

void frmPrincipal::createKeys()
{
    // A main window has no default or cancel button of its own: Enter and Esc are wired
    // here for the whole window. A shortcut comes before the focused control's key
    // handling, so Enter in the recipients box never adds a drop-down item.
    for (const int key : { int(Qt::Key_Return), int(Qt::Key_Enter) }) {
        auto *enter = new QShortcut(QKeySequence(key), this);
        enter->setContext(Qt::WindowShortcut);
        connect(enter, &QShortcut::activated, this, [this] {
            // As with a dialog's default button, a push button that has the focus takes
            // Enter itself.
            auto *focused = qobject_cast<QPushButton *>(QApplication::focusWidget());
            if (focused && focused != m_cmdEnviar && focused->window() == this)
                focused->click();
            else if (m_cmdEnviar->isEnabled())
                m_cmdEnviar->click();
        });
    }
    auto *esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WindowShortcut);
    connect(esc, &QShortcut::activated, m_cmdCancelar, &QPushButton::click);
}

void frmPrincipal::tabOrder()
{
    // The labels (Label2 first, lbl1, Label1) take no focus; this is the rest in order.
    const QList<QWidget *> order = { m_optGrupo[0], m_optGrupo[1], m_txtMensaje, m_chkCerrar, m_cmdEnviar,
        m_cmdCancelar, m_cmdAcercaDe, m_cmdAyuda, m_command1, m_cmbDestino, m_txtDestino };
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
}

void frmPrincipal::load(bool minimized, int closeState)
{
    // Minimised before the first showing: the minimise rule then leaves only the tray icon.
    if (minimized)
        setWindowState(Qt::WindowMinimized);

    // The address book is loaded, but its list stays empty until a kind is chosen.
    m_module.CargarListas();
    m_cmbDestino->clear();
    CargarMRU();

    // The only change of the hidden box while the program runs.
    static const Qt::CheckState states[3] = { Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked };
    m_chkCerrar->setCheckState(states[closeState]);
}

void frmPrincipal::showAtStartup()
{
    if (!isMinimized())
        show();
    else if (!m_rt.trayAvailable())
        show(); // minimised in the task bar
    // else the minimise rule would hide it at once: the program starts in the tray only
}

void frmPrincipal::setAlternativeBackground()
{
    m_background->setPixmap(QPixmap(kAlternativeBackground));
    m_alternativeBackground = true;
}

void frmPrincipal::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // The minimise rule. Without a tray a hidden window could not be reached from the
    // tray, so there it stays minimised in the task bar.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !m_restaurando && !m_ending
        && m_rt.trayAvailable())
        hide();
}

void frmPrincipal::closeEvent(QCloseEvent *event)
{
    if (m_ending) {
        event->accept();
        return;
    }
    // The close rule: the window never closes, it hides; the program goes on in the tray.
    // Without a tray a hidden window would leave nothing on the screen to come back by:
    // there it goes to the task bar instead.
    event->ignore();
    if (m_rt.trayAvailable()) {
        hide();
        return;
    }
    showMinimized();
    // Minimised where the desktop may show no task bar: once a run, the person is told that
    // the program still receives and how to come back to it.
    if (!std::exchange(m_toldStillRunning, true))
        IconoBarra::notifyWithoutTray(QStringLiteral("Velrisa sigue en marcha"),
            QStringLiteral("Seguirá recibiendo mensajes. Para volver a esta ventana, abra Velrisa de nuevo."));
}

void frmPrincipal::contextMenuEvent(QContextMenuEvent *event)
{
    // Without a tray its menu, and "&Salir" with it, would be out of reach: the window
    // offers that very menu on a right click instead.
    if (m_rt.trayAvailable()) {
        QMainWindow::contextMenuEvent(event);
        return;
    }
    m_mnuApp->popup(event->globalPos());
    event->accept();
}

bool frmPrincipal::escapeInPopup(QKeyEvent *event)
{
    // The drop-down would close itself while the key is still being matched against
    // shortcuts without claiming it, and the window's Esc would then hide the whole window too.
    if (!event->matches(QKeySequence::Cancel))
        return false;
    QWidget *popup = QApplication::activePopupWidget();
    if (!popup || !popup->parentWidget() || popup->parentWidget()->window() != this)
        return false;
    if (auto *combo = qobject_cast<QComboBox *>(popup->parentWidget()))
        combo->hidePopup();
    else
        popup->close();
    event->accept();
    return true;
}

void frmPrincipal::chkCerrar_Click()
{
    m_esconderTrasEnviar = m_chkCerrar->checkState() != Qt::Unchecked;
}

void frmPrincipal::cmdCancelar_Click()
{
    hide();
}

void frmPrincipal::cmdAcercaDe_Click()
{
    Form3::open(m_rt);
}

void frmPrincipal::cmdAyuda_Click()
{
    // The help file comes with the program, never among the user's data files.
    m_help->cmdAyuda_Click(Text::withTrailingSeparator(m_rt.appPath()));
}

void frmPrincipal::cmdEnviar_Click()
{
    m_dispatch->EnviarMensajes();
}

void frmPrincipal::taskIco_Restore()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void frmPrincipal::taskIco_Menu()
{
    m_mnuApp->popup(QCursor::pos());
}

void frmPrincipal::mnuEnviar_Click()
{
    // Normal before shown, not after: a window first shown while minimised is created
    // minimised on X11, and where no window manager maps it normal the window system keeps
    // reporting it minimised after this returns, past the guard, so the minimise rule would
    // hide it again.
    m_restaurando = true;
    taskIco_Restore();
    m_restaurando = false;
}

void frmPrincipal::mnuEnviados_Click()
{
    messages().showWindow();
}

void frmPrincipal::mnuReceived_Click()
{
    if (m_receiving)
        m_receiving->showReceived();
}

void frmPrincipal::updateReceivedMenu()
{
    const bool receives = m_receiving && m_receiving->mailboxExists();
    if (receives && !m_mnuApp->actions().contains(m_mnuReceived))
        m_mnuApp->insertAction(m_munS1, m_mnuReceived);
    else if (!receives)
        m_mnuApp->removeAction(m_mnuReceived);
}

void frmPrincipal::reply(const QString &sender)
{
    m_optGrupo[0]->click();
    m_txtDestino->setEditText(sender);
    // Only the initial text makes way: a message the user wrote stays, to be sent to the new
    // recipient or changed by the user.
    if (m_txtMensaje->text() == MessageEntry::kInitialText || Text::trimBlanks(m_txtMensaje->text()).isEmpty())
        m_txtMensaje->clear();
    else
        m_txtMensaje->end(false);
    mnuEnviar_Click();
    m_txtMensaje->setFocus(Qt::OtherFocusReason);
}

void frmPrincipal::mnuAcerca_Click()
{
    // A request while the About window is already up is dropped by Form3 itself.
    Form3::open(m_rt);
}

void frmPrincipal::mnuSalir_Click()
{
    Q_EMIT quitRequested();
}

void frmPrincipal::bringToFront()
{
    mnuEnviar_Click();
    m_rt.bringForward(*this);
}

QString frmPrincipal::rutaPrograma() const
{
    return m_module.rutaPrograma();
}

bool frmPrincipal::chosenGroup() const
{
    return m_optGrupo[1]->isChecked();
}

int frmPrincipal::closeState() const
{
    switch (m_chkCerrar->checkState()) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return 1;
}

QString frmPrincipal::recipientText() const
{
    return m_txtDestino->currentText();
}

QString frmPrincipal::messageText() const
{
    return m_txtMensaje->text();
}

std::unique_ptr<SendWait> frmPrincipal::showWait()
{
    return frmWait::waitOver(this);
}

frmMensajes &frmPrincipal::messages()
{
    if (!m_messages)
        m_messages = std::make_unique<frmMensajes>(this, [this] { return m_esconderTrasEnviar; });
    return *m_messages;
}

void frmPrincipal::GuardarMRU()
{
    RecentList::GuardarMRU(m_module, *m_recipientBox);
}

void frmPrincipal::CargarMRU()
{
    RecentList::CargarMRU(m_module, *m_recipientBox);
}
