#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"

#include "about/Form3.h"
#include "addressbook/Module.h"
#include "addressbook/frmBuscar.h"
#include "addressbook/frmEquipos.h"
#include "app/Startup.h"
#include "dispatch/frmWait.h"
#include "mainwindow/frmPrincipal.h"
#include "receive/ModeloRecibidos.h"
#include "receive/frmMasRecibidos.h"
#include "receive/frmRecibido.h"
#include "receive/frmRecibidos.h"
#include "sentlog/frmMensajes.h"
#include "widgets/Apariencia.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace TestSupport;

namespace {

QString sinAmpersand(QString texto)
{
    return texto.remove(QLatin1Char('&'));
}

// The widgets of a window that a user sees: the window itself and every child shown in it.
QList<QWidget *> vistos(QWidget *ventana)
{
    QList<QWidget *> result { ventana };
    for (QWidget *w : ventana->findChildren<QWidget *>()) {
        if (w->isVisibleTo(ventana) && w->window() == ventana)
            result << w;
    }
    return result;
}

QString nombre(QWidget *w)
{
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName());
}

// Captions wider or taller than the room their control gives them, at the font they are drawn in.
QStringList recortes(QWidget *ventana)
{
    QStringList result;
    const auto medir = [&](QWidget *w, const QString &texto, const QRect &lugar) {
        const QFontMetrics fm = w->fontMetrics();
        const int ancho = fm.horizontalAdvance(sinAmpersand(texto));
        if (ancho > lugar.width() || fm.height() > lugar.height())
            result << QStringLiteral("%1 \"%2\": %3x%4 in %5x%6")
                          .arg(nombre(w), texto)
                          .arg(ancho)
                          .arg(fm.height())
                          .arg(lugar.width())
                          .arg(lugar.height());
    };
    for (QWidget *w : vistos(ventana)) {
        if (auto *label = qobject_cast<QLabel *>(w)) {
            if (!label->text().isEmpty() && !label->wordWrap() && label->textFormat() != Qt::RichText)
                medir(w, label->text(), label->contentsRect());
        } else if (auto *boton = qobject_cast<QAbstractButton *>(w)) {
            if (boton->text().isEmpty())
                continue;
            QStyleOptionButton opcion;
            opcion.initFrom(boton);
            opcion.text = boton->text();
            QStyle::SubElement contenido = QStyle::SE_PushButtonContents;
            if (qobject_cast<QRadioButton *>(boton))
                contenido = QStyle::SE_RadioButtonContents;
            else if (qobject_cast<QCheckBox *>(boton))
                contenido = QStyle::SE_CheckBoxContents;
            medir(w, boton->text(), boton->style()->subElementRect(contenido, &opcion, boton));
        } else if (auto *edicion = qobject_cast<QLineEdit *>(w)) {
            medir(w, QStringLiteral("Ág"), edicion->contentsRect());
        } else if (auto *cabecera = qobject_cast<QHeaderView *>(w)) {
            const int margen = 2 * cabecera->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, cabecera);
            for (int i = 0; i < cabecera->count(); ++i) {
                const QString texto = cabecera->model()->headerData(i, cabecera->orientation()).toString();
                medir(w, texto, QRect(0, 0, cabecera->sectionSize(i) - margen, cabecera->height()));
            }
            // A list's columns take all its width: none is cut while room is left over.
            if (cabecera->orientation() == Qt::Horizontal && cabecera->length() != cabecera->width())
                result << QStringLiteral("%1: columns %2 wide in a list %3 wide")
                              .arg(nombre(w))
                              .arg(cabecera->length())
                              .arg(cabecera->width());
        }
    }
    return result;
}

// Framed lists, tables and text areas with an edge missing from the window as drawn, at the
// screen's scale: each edge must show a line of the frame's colour along most of its length.
QStringList bordesPerdidos(QWidget *ventana)
{
    QStringList result;
    const QImage imagen = ventana->grab().toImage();
    const qreal escala = imagen.devicePixelRatio();
    for (QWidget *w : vistos(ventana)) {
        auto *area = qobject_cast<QAbstractScrollArea *>(w);
        if (!area || area->frameWidth() == 0)
            continue;
        const QRgb marco = area->palette().color(QPalette::Mid).rgb();
        const QRect r(area->mapTo(ventana, QPoint(0, 0)), area->size());
        // Device pixels from a to b (exclusive) across, at position p along: enough of the frame's colour?
        const auto linea = [&](bool horizontal, int p, int a, int b) {
            int iguales = 0;
            for (int k = a; k < b; ++k)
                iguales += imagen.pixel(horizontal ? k : p, horizontal ? p : k) == marco;
            return iguales * 10 >= (b - a) * 9;
        };
        const auto borde = [&](bool horizontal, qreal logico, qreal desde, qreal hasta) {
            const int centro = int(logico * escala);
            for (int p = centro - 2; p <= centro + 2; ++p) {
                if (p >= 0 && p < (horizontal ? imagen.height() : imagen.width())
                    && linea(horizontal, p, int((desde + 4) * escala), int((hasta - 4) * escala)))
                    return true;
            }
            return false;
        };
        const QList<std::pair<const char *, bool>> bordes {
            { "top", borde(true, r.top(), r.left(), r.right()) },
            { "bottom", borde(true, r.bottom(), r.left(), r.right()) },
            { "left", borde(false, r.left(), r.top(), r.bottom()) },
            { "right", borde(false, r.right(), r.top(), r.bottom()) },
        };
        for (const auto &[lado, visto] : bordes) {
            if (!visto)
                result
                    << QStringLiteral("%1: no %2 border at scale %3").arg(nombre(w), QLatin1String(lado)).arg(escala);
        }
    }
    return result;
}

// Text drawn in another face, or at another size, than the program's; only bold headings
// may be larger.
QStringList otrasLetras(QWidget *ventana)
{
    const QString familia = QFontInfo(Apariencia::letra()).family();
    QStringList result;
    for (QWidget *w : vistos(ventana)) {
        const QFontInfo letra(w->font());
        if (letra.family() != familia || (letra.pixelSize() != Apariencia::kPixeles && !letra.bold()))
            result << QStringLiteral("%1: %2 %3 px").arg(nombre(w), letra.family()).arg(letra.pixelSize());
    }
    return result;
}

// Controls, and menu items, that a screen reader could not name.
QStringList sinNombre(QWidget *ventana)
{
    QStringList result;
    for (QWidget *w : vistos(ventana)) {
        QAccessibleInterface *ia = QAccessible::queryAccessibleInterface(w);
        if (auto *menu = qobject_cast<QMenu *>(w)) {
            for (int i = 0; ia && i < ia->childCount(); ++i) {
                QAccessibleInterface *item = ia->child(i);
                if (item->role() != QAccessible::Separator && item->text(QAccessible::Name).isEmpty())
                    result << QStringLiteral("%1, item %2").arg(nombre(menu)).arg(i);
            }
            continue;
        }
        if (w->focusPolicy() == Qt::NoFocus)
            continue;
        if (!ia || ia->text(QAccessible::Name).isEmpty())
            result << nombre(w);
        else if (auto *boton = qobject_cast<QAbstractButton *>(w); boton && !boton->text().isEmpty())
            if (ia->text(QAccessible::Name) != sinAmpersand(boton->text()))
                result << QStringLiteral("%1 named \"%2\"").arg(nombre(w), ia->text(QAccessible::Name));
    }
    return result;
}

// Runs `revisar` on the next modal window once it is up, then closes it; `abrir` opens it
// and returns when it has been closed. False when no modal window came up.
bool conModal(const std::function<void()> &abrir, const std::function<void(QWidget *)> &revisar)
{
    const auto driver = onModal([&](QWidget *modal) {
        revisar(modal);
        modal->close();
    });
    abrir();
    return driver.handled();
}

} // namespace

// Every window of the program as the user meets it: one typeface, no caption cut, no frame
// edge lost, a name for every control, Qt's own buttons in Spanish. The windows that are modal
// are checked while up.
class tst_Ventanas : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cadaVentana_data();
    void cadaVentana();
    void botonesDeQtEnEspanol();

private:
    QTemporaryDir m_base;
    std::unique_ptr<QTemporaryDir> m_programa;
    std::unique_ptr<FakeRuntime> m_rt;
    std::unique_ptr<Startup> m_arranque;
    frmPrincipal *m_principal = nullptr;
};

void tst_Ventanas::initTestCase()
{
    QVERIFY(m_base.isValid());
    QVERIFY(prepareEnvironment(m_base.path()));
}

void tst_Ventanas::init()
{
    m_programa = std::make_unique<QTemporaryDir>(m_base.filePath(QStringLiteral("prog-XXXXXX")));
    m_rt = std::make_unique<FakeRuntime>();
    m_rt->m_appPath = m_programa->path();
    QVERIFY(writeFile(m_programa->filePath(QStringLiteral("enviara.ini")),
        "[Equipos]\r\n1=SERVIDOR1\r\n2=portatil ana\r\nTotal=2\r\n[Redes]\r\n1=OFICINA\r\nTotal=1\r\n"));
    m_arranque = std::make_unique<Startup>(*m_rt);
    m_arranque->start();
    m_principal = &m_arranque->mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(m_principal));
}

void tst_Ventanas::cleanup()
{
    m_principal = nullptr;
    m_arranque.reset();
    m_rt.reset();
    m_programa.reset();
}

void tst_Ventanas::cadaVentana_data()
{
    QTest::addColumn<QString>("ventana");
    for (const char *v : { "frmPrincipal", "mnuApp", "frmMensajes", "frmWait", "frmEquipos", "frmBuscar", "Form3",
             "caja de mensaje", "caja de entrada", "frmRecibido", "frmRecibidos", "frmMasRecibidos", "desplegable" })
        QTest::newRow(v) << QString::fromLatin1(v);
}

void tst_Ventanas::cadaVentana()
{
    QFETCH(QString, ventana);
    QStringList problemas;
    const auto revisar
        = [&](QWidget *w) { problemas << recortes(w) << bordesPerdidos(w) << otrasLetras(w) << sinNombre(w); };
    PosixRuntime real;

    if (ventana == QLatin1String("frmPrincipal")) {
        revisar(m_principal);
    } else if (ventana == QLatin1String("mnuApp")) {
        m_principal->mnuApp().popup(m_principal->geometry().center());
        QVERIFY(QTest::qWaitForWindowExposed(&m_principal->mnuApp()));
        revisar(&m_principal->mnuApp());
        m_principal->mnuApp().hide();
    } else if (ventana == QLatin1String("frmMensajes")) {
        frmMensajes &log = m_principal->mensajes();
        log.agregarFila(QStringLiteral("SERVIDOR1"));
        log.completarUltimaFila(2, QStringLiteral("hola"), QStringLiteral("Enviado"), QStringLiteral("14:05:33"));
        log.mostrar();
        QVERIFY(QTest::qWaitForWindowExposed(&log));
        revisar(&log);
    } else if (ventana == QLatin1String("frmWait")) {
        frmWait espera(m_principal);
        espera.show();
        QVERIFY(QTest::qWaitForWindowExposed(&espera));
        revisar(&espera);
    } else if (ventana == QLatin1String("desplegable")) {
        auto *destino = child<QComboBox>(m_principal, QStringLiteral("txtDestino"));
        destino->addItems({ QStringLiteral("Servidor1 Portatil Ana"), QStringLiteral("Oficina") });
        destino->showPopup();
        QWidget *lista = destino->view()->window();
        QVERIFY(QTest::qWaitForWindowExposed(lista));
        revisar(lista);
        destino->hidePopup();
    } else if (ventana == QLatin1String("frmRecibido") || ventana == QLatin1String("frmRecibidos")) {
        const Buzon::Mensaje mensaje { QStringLiteral("m1767225600.000000000.1"), QStringLiteral("ana"),
            QStringLiteral("oficina1"), QDateTime::fromSecsSinceEpoch(1767225600, Qt::UTC), false,
            QStringLiteral("Hola, ¿qué tal?\nAño 2026") };
        ModeloRecibidos modelo;
        modelo.insertar(mensaje);
        std::unique_ptr<QWidget> w;
        if (ventana == QLatin1String("frmRecibido")) {
            auto popup = std::make_unique<frmRecibido>(mensaje);
            popup->setCerrarTodos(true); // all three buttons, as where several are open
            w = std::move(popup);
        } else
            w = std::make_unique<frmRecibidos>(modelo);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        revisar(w.get());
    } else if (ventana == QLatin1String("frmMasRecibidos")) {
        frmMasRecibidos mas;
        mas.anadir(1940);
        mas.show();
        QVERIFY(QTest::qWaitForWindowExposed(&mas));
        revisar(&mas);
    } else if (ventana == QLatin1String("frmEquipos")) {
        QVERIFY(conModal(
            [&] {
                frmEquipos editor(*m_rt, m_principal->module(), m_principal);
                editor.exec();
            },
            [&](QWidget *editor) {
                revisar(editor);
                // The other kind's list, too.
                child<QRadioButton>(editor, QStringLiteral("optElemento(1)"))->click();
                revisar(editor);
            }));
    } else if (ventana == QLatin1String("frmBuscar")) {
        QVERIFY(conModal(
            [&] {
                frmBuscar eleccion(1, { QStringLiteral("OFICINA"), QStringLiteral("DISEÑO") }, m_principal);
                eleccion.exec();
            },
            revisar));
    } else if (ventana == QLatin1String("Form3")) {
        QVERIFY(conModal([&] { Form3::abrir(*m_rt); }, revisar));
    } else if (ventana == QLatin1String("caja de mensaje")) {
        QVERIFY(conModal(
            [&] {
                real.msgBox(QStringLiteral("No se pudo escribir en el directorio del programa."),
                    Runtime::Icon::Critical, QStringLiteral("Error de escritura"));
            },
            revisar));
    } else {
        QVERIFY(conModal([&] { real.inputBox(frmEquipos::textoPregunta(0), frmEquipos::kTituloPregunta); }, revisar));
    }
    QVERIFY2(problemas.isEmpty(), qPrintable(problemas.join(QStringLiteral("\n"))));
}

void tst_Ventanas::botonesDeQtEnEspanol()
{
    PosixRuntime real;
    QStringList botones;
    const auto leer = [&](QWidget *caja) {
        for (const QAbstractButton *b : caja->findChildren<QDialogButtonBox *>().value(0)->buttons())
            botones << sinAmpersand(b->text());
    };
    QVERIFY(conModal([&] { real.msgBox(QStringLiteral("Hola"), Runtime::Icon::None, QString()); }, leer));
    QVERIFY(conModal([&] { real.inputBox(QStringLiteral("Nombre:"), QStringLiteral("Insertar elemento")); }, leer));
    botones.sort();
    QCOMPARE(
        botones, (QStringList { QStringLiteral("Aceptar"), QStringLiteral("Aceptar"), QStringLiteral("Cancelar") }));
}

QTEST_MAIN(tst_Ventanas)
#include "tst_Ventanas.moc"
