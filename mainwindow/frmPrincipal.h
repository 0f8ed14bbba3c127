#pragma once

#include "dispatch/SendWindow.h"
#include "sentlog/frmMensajes.h"

#include <QMainWindow>

#include <memory>

class HelpButton;
class ImageButton;
class RecipientsCombo;
class Dispatch;
class RecipientEntry;
class MessageEntry;
class IconoBarra;
class Module;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QKeyEvent;
class QMenu;
class QPushButton;
class QRadioButton;
class Receiving;
class Runtime;

// The composition window. It lives for the whole run and is only hidden and shown again;
// the program lives on in the tray meanwhile. Startup makes it, hands it the address book,
// the tray icon and the start-up values, tells it when the program ends, and connects it to
// receiving and to the program's end.
class frmPrincipal final : public QMainWindow, public SendWindow
{
    Q_OBJECT

public:
    frmPrincipal(Runtime &runtime, Module &module, IconoBarra &taskIco, QWidget *parent = nullptr);
    ~frmPrincipal() override;

    // The window's load: minimised when asked to start in the tray, the address book and the
    // recent list loaded, the hidden box set to closeState (0, 1 or 2).
    void load(bool minimized, int closeState);

    // The first showing, after the load: a window minimised at start-up stays in the tray
    // where there is one.
    void showAtStartup();

    // Receiving, owned by the start-up: its received-messages item joins the tray menu.
    void setReceiving(Receiving *receiving) { m_receiving = receiving; }
    // The received-messages item is in the menu exactly while the mailbox exists.
    void updateReceivedMenu();

    // The program is ending: close requests are granted from now on, and a minimised
    // window no longer goes to the tray.
    void programEnding() { m_ending = true; }

    // Back from the tray or the task bar, in its normal state and in front.
    void bringToFront();

    // Swaps the left picture for the alternative one, for the rest of the run.
    void setAlternativeBackground();

    // Answering a received message: the recipients line becomes the sender, "Equipo" is
    // chosen as a click chooses it, and the window comes forward with the message box
    // focused: emptied where it held only the initial text, kept where the user wrote in it.
    void reply(const QString &sender);

    // Esc in a pop-up of this window (the recipients drop-down, a context menu) closes that
    // pop-up only; true when it did. Startup's application-wide filter asks, as the pop-ups
    // are windows of their own.
    bool escapeInPopup(QKeyEvent *event);

    // Whether closing the sent-messages window also hides this one; kept from chkCerrar.
    bool esconderTrasEnviar() const { return m_esconderTrasEnviar; }
    // True only while the tray menu brings the window back, so minimising does not hide it.
    bool restaurando() const { return m_restaurando; }
    void setRestaurando(bool restaurando) { m_restaurando = restaurando; }

    // For tests: the parts the window owns or uses.
    bool alternativeBackground() const { return m_alternativeBackground; }
    Module &module() { return m_module; }
    IconoBarra &taskIco() { return m_taskIco; }
    QMenu &mnuApp() { return *m_mnuApp; }
    // Receiving, from start-up on; null before.
    Receiving *receiving() { return m_receiving; }

    // SendWindow
    std::unique_ptr<SendWait> showWait() override;
    QString rutaPrograma() const override;
    bool chosenGroup() const override;
    int closeState() const override;
    QString recipientText() const override;
    QString messageText() const override;
    frmMensajes &messages() override;
    void GuardarMRU() override;
    void CargarMRU() override;

Q_SIGNALS:
    // "&Salir": the program is to end.
    void quitRequested();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void createControls();
    void createRecipients(QWidget *central);
    void createMessage(QWidget *central);
    void createButtons(QWidget *central);
    void createMenu();
    void createKeys();
    void tabOrder();

    void chkCerrar_Click();
    void cmdCancelar_Click();
    void cmdAcercaDe_Click();
    void cmdAyuda_Click();
    void cmdEnviar_Click();
    void taskIco_Restore();
    void taskIco_Menu();
    void mnuEnviar_Click();
    void mnuEnviados_Click();
    void mnuReceived_Click();
    void mnuAcerca_Click();
    void mnuSalir_Click();

    Runtime &m_rt;
    Module &m_module;
    IconoBarra &m_taskIco;
    bool m_ending = false;
    std::unique_ptr<Dispatch> m_dispatch;
    std::unique_ptr<HelpButton> m_help;
    std::unique_ptr<RecipientsCombo> m_recipientBox;
    RecipientEntry *m_recipientEntry = nullptr;
    MessageEntry *m_messageEntry = nullptr;

    QLabel *m_background = nullptr;
    QLabel *m_lbl1 = nullptr;
    QLabel *m_label1 = nullptr;
    QComboBox *m_txtDestino = nullptr;
    QRadioButton *m_optGrupo[2] = { nullptr, nullptr };
    QListWidget *m_cmbDestino = nullptr;
    QPushButton *m_command1 = nullptr;
    QLabel *m_label2 = nullptr;
    QLineEdit *m_txtMensaje = nullptr;
    QFrame *m_line1 = nullptr;
    QFrame *m_line2 = nullptr;
    ImageButton *m_cmdAcercaDe = nullptr;
    ImageButton *m_cmdAyuda = nullptr;
    QCheckBox *m_chkCerrar = nullptr;
    ImageButton *m_cmdCancelar = nullptr;
    ImageButton *m_cmdEnviar = nullptr;
    QMenu *m_mnuApp = nullptr;
    QAction *m_mnuReceived = nullptr; // in the menu only where the mailbox exists
    QAction *m_munS1 = nullptr;

    std::unique_ptr<frmMensajes> m_messages;
    Receiving *m_receiving = nullptr;
    bool m_esconderTrasEnviar = false;
    bool m_restaurando = false;
    bool m_alternativeBackground = false;
    bool m_toldStillRunning = false; // that closing without a tray only minimises
};
