#pragma once

#include "dispatch/VentanaEnvio.h"
#include "sentlog/frmMensajes.h"

#include <QMainWindow>

#include <memory>

class Ayuda;
class BotonImagen;
class ComboDestinatarios;
class Despacho;
class EntradaDestino;
class EntradaMensaje;
class IconoBarra;
class Module;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class Recepcion;
class Runtime;

// The composition window. It lives for the whole run and is only hidden and shown again;
// the program lives on in the tray meanwhile. Startup makes it, hands it the address book
// and the start-up values, and connects it to receiving.
class frmPrincipal final : public QMainWindow, public VentanaEnvio
{
    Q_OBJECT

public:
    frmPrincipal(Runtime &runtime, Module &module, QWidget *parent = nullptr);
    ~frmPrincipal() override;

    // The window's load: minimised when asked to start in the tray, the address book and the
    // recent list loaded, the hidden box set to estadoCerrar (0, 1 or 2), the tray icon up.
    void load(bool minimizado, int estadoCerrar);

    // The first showing, after the load: a window minimised at start-up stays in the tray
    // where there is one.
    void mostrarAlArrancar();

    // Receiving, owned by the start-up: its received-messages item joins the tray menu.
    void setRecepcion(Recepcion *recepcion) { m_recepcion = recepcion; }
    // The received-messages item is in the menu exactly while the mailbox exists.
    void actualizarMenuRecibidos();

    // Back from the tray or the task bar, in its normal state and in front.
    void traerAlFrente();

    // Swaps the left picture for the alternative one, for the rest of the run.
    void setFondoAlternativo();

    // Answering a received message: the recipients line becomes the sender, "Equipo" is
    // chosen as a click chooses it, and the window comes forward with the message box
    // focused: emptied where it held only the initial text, kept where the user wrote in it.
    void responder(const QString &remitente);

    // The program is ending (session end, termination signal): close requests are no
    // longer refused, the tray icon goes, and the event loop is left.
    void terminar();
    bool terminando() const { return m_terminando; }

    // Whether closing the sent-messages window also hides this one; kept from chkCerrar.
    bool esconderTrasEnviar() const { return m_esconderTrasEnviar; }
    // True only while the tray menu brings the window back, so minimising does not hide it.
    bool restaurando() const { return m_restaurando; }
    void setRestaurando(bool restaurando) { m_restaurando = restaurando; }

    // For tests: the parts the window owns or uses.
    bool fondoAlternativo() const { return m_fondoAlternativo; }
    Module &module() { return m_module; }
    IconoBarra &taskIco() { return *m_taskIco; }
    QMenu &mnuApp() { return *m_mnuApp; }
    // Receiving, from start-up on; null before.
    Recepcion *recepcion() { return m_recepcion; }

    // VentanaEnvio
    std::unique_ptr<EsperaEnvio> mostrarEspera() override;
    QString rutaPrograma() const override;
    bool grupoElegido() const override;
    int estadoCerrar() const override;
    QString textoDestino() const override;
    QString textoMensaje() const override;
    frmMensajes &mensajes() override;
    void GuardarMRU() override;
    void CargarMRU() override;

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void crearControles();
    void crearDestinatarios(QWidget *central);
    void crearMensaje(QWidget *central);
    void crearBotones(QWidget *central);
    void crearMenu();
    void crearTeclas();
    void ordenTabulacion();

    void chkCerrar_Click();
    void cmdCancelar_Click();
    void cmdAcercaDe_Click();
    void cmdAyuda_Click();
    void cmdEnviar_Click();
    void taskIco_Restaurar();
    void taskIco_Menu();
    void mnuEnviar_Click();
    void mnuEnviados_Click();
    void mnuRecibidos_Click();
    void mnuAcerca_Click();
    void mnuSalir_Click();

    Runtime &m_rt;
    Module &m_module;
    std::unique_ptr<Despacho> m_despacho;
    std::unique_ptr<Ayuda> m_ayuda;
    std::unique_ptr<ComboDestinatarios> m_cajaDestino;
    EntradaDestino *m_entradaDestino = nullptr;
    EntradaMensaje *m_entradaMensaje = nullptr;

    QLabel *m_fondo = nullptr;
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
    BotonImagen *m_cmdAcercaDe = nullptr;
    BotonImagen *m_cmdAyuda = nullptr;
    QCheckBox *m_chkCerrar = nullptr;
    BotonImagen *m_cmdCancelar = nullptr;
    BotonImagen *m_cmdEnviar = nullptr;
    IconoBarra *m_taskIco = nullptr;
    QMenu *m_mnuApp = nullptr;
    QAction *m_mnuRecibidos = nullptr; // in the menu only where the mailbox exists
    QAction *m_munS1 = nullptr;

    std::unique_ptr<frmMensajes> m_mensajes;
    Recepcion *m_recepcion = nullptr;
    bool m_esconderTrasEnviar = false;
    bool m_restaurando = false;
    bool m_fondoAlternativo = false;
    bool m_terminando = false;
};
