#include "mainwindow/EntradaDestino.h"

#include "addressbook/FilaLibreta.h"
#include "addressbook/Module.h"
#include "addressbook/frmEquipos.h"
#include "runtime/Texto.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <utility>

EntradaDestino::EntradaDestino(Runtime &rt, Module &module, QComboBox *txtDestino, QRadioButton *optGrupo0,
    QRadioButton *optGrupo1, QListWidget *cmbDestino, QPushButton *command1, QLineEdit *txtMensaje,
    QPushButton *cmdEnviar, QObject *parent)
    : QObject(parent)
    , m_rt(rt)
    , m_module(module)
    , m_txtDestino(txtDestino)
    , m_optGrupo0(optGrupo0)
    , m_optGrupo1(optGrupo1)
    , m_cmbDestino(cmbDestino)
    , m_command1(command1)
    , m_txtMensaje(txtMensaje)
    , m_cmdEnviar(cmdEnviar)
{
    // The line changes only by typing, by choosing a drop-down item or by the list's marks:
    // an inline completion would add recipients that were never typed.
    m_txtDestino->setCompleter(nullptr);
    connect(m_txtDestino, &QComboBox::editTextChanged, this, qOverload<>(&EntradaDestino::ActualizarEnviar));
    connect(m_txtDestino, &QComboBox::activated, this, qOverload<>(&EntradaDestino::ActualizarEnviar));
    // An editable combo box hands its focus events straight to its line edit, past any
    // filter there: watch both.
    m_txtDestino->installEventFilter(this);
    if (m_txtDestino->lineEdit())
        m_txtDestino->lineEdit()->installEventFilter(this);

    // A choice counts when the option becomes chosen, by mouse or by arrow keys; the
    // program itself never chooses one, so the list stays empty until the user does.
    connect(m_optGrupo0, &QRadioButton::toggled, this, [this](bool elegido) {
        if (elegido)
            LlenarLista(0);
    });
    connect(m_optGrupo1, &QRadioButton::toggled, this, [this](bool elegido) {
        if (elegido)
            LlenarLista(1);
    });

    // Every change of the marks, by mouse or by the space bar, rewrites the line. Letters
    // only move the focus (see buscarPorTeclado).
    m_cmbDestino->installEventFilter(this);
    connect(m_cmbDestino, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_llenando)
            ReconstruirDestinatarios();
    });
    connect(m_command1, &QPushButton::clicked, this, &EntradaDestino::Command1_Click);

    ActualizarEnviar();
}

void EntradaDestino::ActualizarEnviar(const QComboBox *txtDestino, const QLineEdit *txtMensaje, QPushButton *cmdEnviar)
{
    cmdEnviar->setEnabled(!txtMensaje->text().isEmpty() && !txtDestino->currentText().isEmpty());
}

void EntradaDestino::ActualizarEnviar()
{
    ActualizarEnviar(m_txtDestino, m_txtMensaje, m_cmdEnviar);
}

void EntradaDestino::LlenarLista(int tipo)
{
    if (!m_module.ExisteArchivo(m_module.rutaLibreta()))
        return;

    const QStringList &lista = tipo == 0 ? m_module.ListaEquipos : m_module.ListaRedes;
    const qsizetype total = qMin<qsizetype>(tipo == 0 ? m_module.TotalEquipos : m_module.TotalRedes, lista.size());

    // Emptying the list drops its marks; that is no click and leaves the line alone.
    m_llenando = true;
    m_cmbDestino->setUpdatesEnabled(false);
    m_cmbDestino->clear();
    // Added unsorted and sorted once: placing each row in turn is quadratic in a full book.
    const bool ordenada = m_cmbDestino->isSortingEnabled();
    m_cmbDestino->setSortingEnabled(false);
    for (qsizetype p = 1; p <= total; ++p)
        m_cmbDestino->addItem(new FilaLibreta(Texto::properCase(lista.at(p - 1)), int(p)));
    m_cmbDestino->setSortingEnabled(ordenada);
    if (ordenada)
        m_cmbDestino->sortItems();
    m_cmbDestino->setUpdatesEnabled(true);
    m_llenando = false;
}

void EntradaDestino::Command1_Click()
{
    {
        frmEquipos editor(m_rt, m_module, m_txtDestino->window());
        editor.exec();
    }
    m_module.CargarListas();
    // Without a chosen option the list shows the workgroups and domains.
    LlenarLista(m_optGrupo0->isChecked() ? 0 : 1);
}

void EntradaDestino::ReconstruirDestinatarios()
{
    // The line is the marked entries in list order, each followed by one blank; whatever
    // was typed goes. It is assigned once, emptied first: assigning it entry by entry
    // would end in the same text and the same button state, only in quadratic time.
    m_txtDestino->setEditText(QString());
    ActualizarEnviar();
    QString linea;
    for (int i = 0; i < m_cmbDestino->count(); ++i) {
        const QListWidgetItem *fila = m_cmbDestino->item(i);
        if (fila->isSelected())
            linea += fila->text() + QLatin1Char(' ');
    }
    if (!linea.isEmpty()) {
        m_txtDestino->setEditText(linea);
        ActualizarEnviar();
    }
}

void EntradaDestino::recortarDestino()
{
    const QString recortado = Texto::trimBlanks(m_txtDestino->currentText());
    if (recortado != m_txtDestino->currentText())
        m_txtDestino->setEditText(recortado);
    ActualizarEnviar();
}

bool EntradaDestino::dejaElCampo(const QFocusEvent *event, const QWidget *campo)
{
    // While a drop-down or a context menu is open the field keeps its place: opening the
    // drop-down even hands the focus on to its list, with no popup reason given.
    if (QApplication::activePopupWidget())
        return false;
    switch (event->reason()) {
    case Qt::PopupFocusReason:
    case Qt::ActiveWindowFocusReason:
        return false;
    default:
        // A disabled window (a send in progress) or a hidden one keeps its focus control.
        return campo->window()->isEnabled() && campo->window()->isVisible();
    }
}

bool EntradaDestino::buscarPorTeclado(const QKeyEvent *event)
{
    const QString texto = event->text();
    if (texto.isEmpty() || !texto.at(0).isPrint() || texto.at(0).isSpace()
        || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        // Any other key (the space bar marking, an arrow) ends the spelling.
        m_ultimaTecla.invalidate();
        return false;
    }
    if (m_ultimaTecla.isValid() && m_ultimaTecla.elapsed() < QApplication::keyboardInputInterval())
        m_busqueda += texto;
    else
        m_busqueda = texto;
    m_ultimaTecla.start();

    // Letters typed quickly spell the start of an entry; one letter again and again steps
    // through the entries that start with it; a spelling that leads nowhere starts afresh.
    const int actual = m_cmbDestino->currentRow();
    const auto buscar = [this](const QString &inicio, int desde) -> QListWidgetItem * {
        const int n = m_cmbDestino->count();
        for (int k = 0; k < n; ++k) {
            QListWidgetItem *fila = m_cmbDestino->item((qMax(desde, 0) + k) % n);
            if (fila->text().startsWith(inicio, Qt::CaseInsensitive))
                return fila;
        }
        return nullptr;
    };
    const bool repetida = m_busqueda.count(m_busqueda.at(0)) == m_busqueda.size();
    QListWidgetItem *fila = repetida ? buscar(texto, actual + 1) : buscar(m_busqueda, actual);
    if (!fila) {
        m_busqueda = texto;
        fila = buscar(texto, actual + 1);
    }
    if (fila) {
        m_cmbDestino->setCurrentItem(fila, QItemSelectionModel::NoUpdate);
        m_cmbDestino->scrollToItem(fila);
    }
    return true;
}

bool EntradaDestino::eventFilter(QObject *watched, QEvent *event)
{
    // In a list of marks a letter moves the focus and the space bar marks: the list's own
    // search would mark what it finds and so rewrite the line.
    if (watched == m_cmbDestino && event->type() == QEvent::KeyPress)
        return buscarPorTeclado(static_cast<QKeyEvent *>(event));
    if (watched != m_cmbDestino && event->type() == QEvent::FocusOut
        && dejaElCampo(static_cast<QFocusEvent *>(event), m_txtDestino))
        recortarDestino();
    return QObject::eventFilter(watched, event);
}
