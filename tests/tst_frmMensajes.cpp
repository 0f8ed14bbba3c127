#include "fakes/TestSupport.h"
#include "sentlog/ModeloMensajes.h"
#include "sentlog/frmMensajes.h"

#include <QHeaderView>
#include <QPaintEvent>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

// The sent-messages window: its controls, its rows, and how it hides instead of closing.
class tst_frmMensajes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void disposicion();
    void filasSoloSeAgreganAlFinal();
    void cierreSoloEsconde();
    void cerrarEscondeTambienLaPrincipal_data();
    void cerrarEscondeTambienLaPrincipal();
    void introPulsaCerrar_data();
    void introPulsaCerrar();
    void activacionRedibujaLasFilasSiCambianDeAspecto_data();
    void activacionRedibujaLasFilasSiCambianDeAspecto();
};

namespace {
// Everything a widget is asked to paint.
class RegionPintada : public QObject
{
public:
    QRegion m_region;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            m_region += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};
} // namespace

void tst_frmMensajes::initTestCase()
{
    QVERIFY(TestSupport::prepareEnvironment());
}

void tst_frmMensajes::disposicion()
{
    QWidget principal;
    frmMensajes ventana(&principal, [] { return false; });
    QCOMPARE(ventana.windowTitle(), QStringLiteral("Mensajes enviados"));
    QCOMPARE(ventana.minimumSize(), ventana.maximumSize());
    QVERIFY(!(ventana.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(ventana.windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(ventana.windowIcon().availableSizes().value(0), QSize(16, 16));

    auto *lista = ventana.findChild<QTableView *>(QStringLiteral("ListView1"));
    QVERIFY(lista);
    const QStringList titulos { "Para", "Mensaje", "Resultado", "Hora" };
    QCOMPARE(lista->model()->columnCount(), 4);
    for (int c = 0; c < 4; ++c) {
        QCOMPARE(lista->model()->headerData(c, Qt::Horizontal).toString(), titulos.at(c));
        QVERIFY(lista->model()->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>()
            & Qt::AlignLeft);
    }
    // The message takes all the room the header has, with and without a scroll bar.
    ventana.show();
    for (int filas : { 1, 40 }) {
        while (ventana.filas() < filas)
            ventana.agregarFila(QStringLiteral("ANA"));
        QTRY_COMPARE(lista->verticalScrollBar()->isVisible(), filas > 1);
        QTRY_COMPARE(lista->horizontalHeader()->length(), lista->viewport()->width());
    }
    QVERIFY(!lista->isSortingEnabled());
    QCOMPARE(lista->editTriggers(), QAbstractItemView::NoEditTriggers);

    auto *cerrar = ventana.findChild<QPushButton *>(QStringLiteral("Command1"));
    QVERIFY(cerrar);
    QCOMPARE(cerrar->text(), QStringLiteral("&Cerrar"));
    QWidget *siguiente = lista->nextInFocusChain();
    while (siguiente != lista && !(siguiente->focusPolicy() & Qt::TabFocus))
        siguiente = siguiente->nextInFocusChain();
    QCOMPARE(siguiente, cerrar);
}

void tst_frmMensajes::filasSoloSeAgreganAlFinal()
{
    QWidget principal;
    frmMensajes ventana(&principal, [] { return false; });
    // Completing with no row is harmless.
    ventana.completarUltimaFila(2, QStringLiteral("m"), QStringLiteral("Enviado"), QStringLiteral("1"));
    QCOMPARE(ventana.filas(), 0);

    ventana.agregarFila(QStringLiteral("ANA"));
    ventana.completarUltimaFila(2, QStringLiteral("hola"), QStringLiteral("Enviado"), QStringLiteral("10:00:00"));
    ventana.agregarFila(QStringLiteral("BEA"));
    const ModeloMensajes &m = ventana.modelo();
    QCOMPARE(m.rowCount(), 2);
    // Until it is completed, a new row shows only its recipient.
    for (int c = 1; c < 4; ++c)
        QVERIFY(m.data(m.index(1, c)).toString().isEmpty());
    // Views repaint what the model reports as changed: that must be every completed cell.
    QSignalSpy cambios(&m, &QAbstractItemModel::dataChanged);
    ventana.completarUltimaFila(3, QStringLiteral("adios"), QStringLiteral("Error"), QStringLiteral("10:00:05"));
    QSet<int> cubiertas;
    for (const QList<QVariant> &cambio : std::as_const(cambios)) {
        const QModelIndex desde = cambio.at(0).toModelIndex();
        const QModelIndex hasta = cambio.at(1).toModelIndex();
        const QList<int> roles = cambio.at(2).value<QList<int>>();
        if (desde.row() <= 1 && hasta.row() >= 1 && (roles.isEmpty() || roles.contains(Qt::DisplayRole))) {
            for (int c = desde.column(); c <= hasta.column(); ++c)
                cubiertas << c;
        }
    }
    QCOMPARE(cubiertas.contains(1) + cubiertas.contains(2) + cubiertas.contains(3), 3);

    const QList<QStringList> esperado { { "ANA", "hola", "Enviado", "10:00:00" },
        { "BEA", "adios", "Error", "10:00:05" } };
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 4; ++c)
            QCOMPARE(m.data(m.index(r, c)).toString(), esperado.at(r).at(c));
        QVERIFY(!m.data(m.index(r, 0), Qt::DecorationRole).isValid());
    }
    QCOMPARE(m.data(m.index(0, 0), Qt::UserRole).toInt(), 2);
    QCOMPARE(m.data(m.index(1, 0), Qt::UserRole).toInt(), 3);
}

void tst_frmMensajes::cierreSoloEsconde()
{
    QWidget principal;
    principal.show();
    auto *ventana = new frmMensajes(&principal, [] { return true; });
    QPointer<frmMensajes> vigia(ventana);
    ventana->setAttribute(Qt::WA_DeleteOnClose); // even so, a close request must not unload it
    ventana->agregarFila(QStringLiteral("ANA"));
    ventana->mostrar();
    QVERIFY(QTest::qWaitForWindowExposed(ventana));

    QVERIFY(!ventana->close());
    QCoreApplication::processEvents();
    QVERIFY(vigia);
    QVERIFY(!ventana->isVisible());
    // A close request is not "&Cerrar": the main window stays.
    QVERIFY(principal.isVisible());

    ventana->mostrar();
    QVERIFY(ventana->isVisible());
    QCOMPARE(ventana->filas(), 1);
    delete ventana;
}

void tst_frmMensajes::cerrarEscondeTambienLaPrincipal_data()
{
    QTest::addColumn<bool>("esconder");
    QTest::newRow("sin esconder") << false;
    QTest::newRow("esconder tras enviar") << true;
}

void tst_frmMensajes::cerrarEscondeTambienLaPrincipal()
{
    QFETCH(bool, esconder);
    QWidget principal;
    principal.show();
    bool bandera = !esconder;
    frmMensajes ventana(&principal, [&bandera] { return bandera; });
    ventana.mostrar();
    // The flag is read when the button is pressed, not when the window was built.
    bandera = esconder;
    ventana.findChild<QPushButton *>(QStringLiteral("Command1"))->click();
    QVERIFY(!ventana.isVisible());
    QCOMPARE(principal.isVisible(), !esconder);
}

void tst_frmMensajes::introPulsaCerrar_data()
{
    QTest::addColumn<int>("tecla");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
}

void tst_frmMensajes::introPulsaCerrar()
{
    QFETCH(int, tecla);
    QWidget principal;
    principal.show();
    frmMensajes ventana(&principal, [] { return false; });
    ventana.agregarFila(QStringLiteral("ANA"));
    ventana.mostrar();
    QVERIFY(QTest::qWaitForWindowActive(&ventana));
    auto *lista = ventana.findChild<QTableView *>(QStringLiteral("ListView1"));
    lista->setFocus();
    lista->setCurrentIndex(lista->model()->index(0, 0));
    QTest::keyClick(lista, Qt::Key(tecla));
    QVERIFY(!ventana.isVisible());
    QVERIFY(principal.isVisible());
}

void tst_frmMensajes::activacionRedibujaLasFilasSiCambianDeAspecto_data()
{
    QTest::addColumn<bool>("seleccion");
    QTest::addColumn<bool>("coloresInactivos");
    QTest::addColumn<bool>("redibujadas");
    QTest::newRow("mismo aspecto") << false << false << false;
    QTest::newRow("fila elegida") << true << false << true;
    QTest::newRow("colores propios de ventana inactiva") << false << true << true;
}

// The wait window takes the focus from the list at every recipient: rows are drawn again
// only when an inactive window shows them differently.
void tst_frmMensajes::activacionRedibujaLasFilasSiCambianDeAspecto()
{
    QFETCH(bool, seleccion);
    QFETCH(bool, coloresInactivos);
    QFETCH(bool, redibujadas);
    QWidget principal;
    frmMensajes ventana(&principal, [] { return false; });
    for (const char *para : { "ANA", "BEA", "CIRO" })
        ventana.agregarFila(QString::fromLatin1(para));
    auto *lista = ventana.findChild<QTableView *>(QStringLiteral("ListView1"));
    QVERIFY(lista);
    if (coloresInactivos) {
        QPalette colores = lista->palette();
        colores.setColor(QPalette::Inactive, QPalette::Text, Qt::darkGray);
        lista->setPalette(colores);
    }
    ventana.mostrar();
    QVERIFY(QTest::qWaitForWindowActive(&ventana));
    lista->setFocus();
    if (seleccion)
        lista->selectRow(0);
    QCoreApplication::processEvents();

    RegionPintada pintada;
    lista->viewport()->installEventFilter(&pintada);
    QWidget otra;
    otra.show();
    QVERIFY(QTest::qWaitForWindowActive(&otra));
    QCoreApplication::processEvents();
    const QRect ultima = lista->visualRect(lista->model()->index(2, 0));
    QVERIFY(!ultima.isEmpty());
    QCOMPARE(pintada.m_region.intersects(ultima), redibujadas);
}

QTEST_MAIN(tst_frmMensajes)
#include "tst_frmMensajes.moc"
