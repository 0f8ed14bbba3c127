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

// The composition window and the program's start-up window. It lives for the whole run
// and is only hidden and shown again; the program lives on in the tray meanwhile.
class frmPrincipal final : public QMainWindow, public VentanaEnvio
{
    Q_OBJECT

public:
    explicit frmPrincipal(Runtime &runtime, QWidget *parent = nullptr);
    ~frmPrincipal() override;

    // The start-up steps, then the first showing. Ends the program when another
    // instance already runs.
    void load();

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

    // The program directory with exactly one trailing separator; set at start-up.
    QString RutaPrograma;
    // Whether closing the sent-messages window also hides this one; kept from chkCerrar.
    bool EsconderTrasEnviar = false;
    // True only while the tray menu brings the window back, so minimising does not hide it.
    bool Restaurando = false;

    // For tests: the parts the window owns.
    bool fondoAlternativo() const { return m_fondoAlternativo; }
    Module &module() { return *m_module; }
    IconoBarra &taskIco() { return *m_taskIco; }
    QMenu &mnuApp() { return *m_mnuApp; }
    // Receiving, from start-up on; null before.
    Recepcion *recepcion() { return m_recepcion.get(); }

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
    void actualizarMenuRecibidos();
    void mnuAcerca_Click();
    void mnuSalir_Click();
    void traerAlFrente();

    Runtime &m_rt;
    std::unique_ptr<Module> m_module;
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
    std::unique_ptr<Recepcion> m_recepcion;
    bool m_fondoAlternativo = false;
    bool m_terminando = false;
};
