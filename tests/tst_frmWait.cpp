#include "dispatch/frmWait.h"
#include "fakes/TestSupport.h"

#include <QLabel>
#include <QTest>
#include <QTimer>

// The wait window: its layout and its place over the main window.
class tst_frmWait : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void disposicion();
    void posicionCentrada_data();
    void posicionCentrada();
    void centradaSobreLaVentanaReal_data();
    void centradaSobreLaVentanaReal();
};

void tst_frmWait::initTestCase()
{
    QVERIFY(TestSupport::prepareEnvironment());
}

void tst_frmWait::disposicion()
{
    QWidget principal;
    principal.show();
    frmWait espera(&principal);
    QCOMPARE(espera.windowTitle(), QStringLiteral("Espere un momento..."));
    QCOMPARE(espera.minimumSize(), espera.maximumSize());
    const Qt::WindowFlags flags = espera.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(!(flags
        & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
            | Qt::WindowSystemMenuHint)));
    QVERIFY(flags & Qt::CustomizeWindowHint);

    auto *imagen = espera.findChild<QLabel *>(QStringLiteral("Image1"));
    QVERIFY(imagen);
    QCOMPARE(imagen->pixmap().size(), QSize(13, 22));
    auto *texto = espera.findChild<QLabel *>(QStringLiteral("Label1"));
    QVERIFY(texto);
    QCOMPARE(texto->text(), QStringLiteral("Por favor, espere mientras se envia el/los mensaje/s..."));
    QVERIFY(texto->alignment() & Qt::AlignHCenter);
    auto *timer = espera.findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 100);
    QVERIFY(timer->isActive());
    // Not a child of the main window: a disabled main window must not grey it out.
    QCOMPARE(espera.parentWidget(), nullptr);
}

void tst_frmWait::posicionCentrada_data()
{
    QTest::addColumn<QRect>("principal");
    QTest::addColumn<QSize>("propio");
    QTest::addColumn<QPoint>("posicion");

    QTest::newRow("mas grande, diferencias pares") << QRect(100, 50, 600, 400) << QSize(300, 60) << QPoint(250, 220);
    QTest::newRow("media pixel hacia abajo") << QRect(0, 0, 600, 401) << QSize(313, 65) << QPoint(143, 168);
    QTest::newRow("mas estrecha: sobresale") << QRect(50, 60, 200, 30) << QSize(313, 65) << QPoint(-7, 42);
    QTest::newRow("misma medida") << QRect(10, 20, 313, 65) << QSize(313, 65) << QPoint(10, 20);
}

void tst_frmWait::posicionCentrada()
{
    QFETCH(QRect, principal);
    QFETCH(QSize, propio);
    QFETCH(QPoint, posicion);
    QCOMPARE(frmWait::posicionCentrada(principal, propio), posicion);
}

void tst_frmWait::centradaSobreLaVentanaReal_data()
{
    QTest::addColumn<QRect>("geometria");
    QTest::newRow("normal") << QRect(120, 140, 584, 303);
    QTest::newRow("mas pequena que la espera") << QRect(400, 300, 120, 40);
}

void tst_frmWait::centradaSobreLaVentanaReal()
{
    QFETCH(QRect, geometria);
    QWidget principal;
    principal.setGeometry(geometria);
    principal.show();
    QVERIFY(QTest::qWaitForWindowExposed(&principal));
    frmWait espera(&principal);
    espera.show();
    QVERIFY(QTest::qWaitForWindowExposed(&espera));
    const QRect marco = espera.frameGeometry();
    const QPoint centro = principal.frameGeometry().center();
    QVERIFY2(qAbs(marco.center().x() - centro.x()) <= 1,
        qPrintable(QStringLiteral("%1 vs %2").arg(marco.center().x()).arg(centro.x())));
    QVERIFY(qAbs(marco.center().y() - centro.y()) <= 1);
}

QTEST_MAIN(tst_frmWait)
#include "tst_frmWait.moc"
