#include "dispatch/SendWait.h"
#include "dispatch/frmWait.h"
#include "fakes/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

// The wait window: its layout and its place over the main window.
class tst_frmWait : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fixedToolWindowWithImageTextAndTimer();
    void centredPositionRoundsAndMayStickOut_data();
    void centredPositionRoundsAndMayStickOut();
    void centredOverTheRealWindow_data();
    void centredOverTheRealWindow();
    void eachWaitLocksTheMainWindowUnderAFreshWindow();
};

void tst_frmWait::initTestCase()
{
    QVERIFY(TestSupport::prepareEnvironment());
}

void tst_frmWait::fixedToolWindowWithImageTextAndTimer()
{
    QWidget mainWindow;
    mainWindow.show();
    frmWait waitWindow(&mainWindow);
    QCOMPARE(waitWindow.windowTitle(), QStringLiteral("Espere un momento..."));
    QCOMPARE(waitWindow.minimumSize(), waitWindow.maximumSize());
    const Qt::WindowFlags flags = waitWindow.windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(!(flags
        & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
            | Qt::WindowSystemMenuHint)));
    QVERIFY(flags & Qt::CustomizeWindowHint);

    auto *image = waitWindow.findChild<QLabel *>(QStringLiteral("Image1"));
    QVERIFY(image);
    QCOMPARE(image->pixmap().size(), QSize(13, 22));
    auto *textLabel = waitWindow.findChild<QLabel *>(QStringLiteral("Label1"));
    QVERIFY(textLabel);
    QCOMPARE(textLabel->text(), QStringLiteral("Por favor, espere mientras se envia el/los mensaje/s..."));
    QVERIFY(textLabel->alignment() & Qt::AlignHCenter);
    auto *timer = waitWindow.findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 100);
    QVERIFY(timer->isActive());
    // Not a child of the main window: a disabled main window must not grey it out.
    QCOMPARE(waitWindow.parentWidget(), nullptr);
}

void tst_frmWait::centredPositionRoundsAndMayStickOut_data()
{
    QTest::addColumn<QRect>("mainRect");
    QTest::addColumn<QSize>("ownSize");
    QTest::addColumn<QPoint>("position");

    QTest::newRow("larger, even differences") << QRect(100, 50, 600, 400) << QSize(300, 60) << QPoint(250, 220);
    QTest::newRow("half pixel rounds down") << QRect(0, 0, 600, 401) << QSize(313, 65) << QPoint(143, 168);
    QTest::newRow("narrower: sticks out") << QRect(50, 60, 200, 30) << QSize(313, 65) << QPoint(-7, 42);
    QTest::newRow("same size") << QRect(10, 20, 313, 65) << QSize(313, 65) << QPoint(10, 20);
}

void tst_frmWait::centredPositionRoundsAndMayStickOut()
{
    QFETCH(QRect, mainRect);
    QFETCH(QSize, ownSize);
    QFETCH(QPoint, position);
    QCOMPARE(frmWait::centredPosition(mainRect, ownSize), position);
}

void tst_frmWait::centredOverTheRealWindow_data()
{
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("normal") << QRect(120, 140, 584, 303);
    QTest::newRow("smaller than the wait window") << QRect(400, 300, 120, 40);
}

void tst_frmWait::centredOverTheRealWindow()
{
    QFETCH(QRect, geometry);
    QWidget mainWindow;
    mainWindow.setGeometry(geometry);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    frmWait waitWindow(&mainWindow);
    waitWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&waitWindow));
    const QRect frame = waitWindow.frameGeometry();
    const QPoint centre = mainWindow.frameGeometry().center();
    QVERIFY2(qAbs(frame.center().x() - centre.x()) <= 1,
        qPrintable(QStringLiteral("%1 vs %2").arg(frame.center().x()).arg(centre.x())));
    QVERIFY(qAbs(frame.center().y() - centre.y()) <= 1);
}

// One wait per recipient: the main window locked under a wait window shown and centred where the
// main window is now, both undone when the wait ends.
void tst_frmWait::eachWaitLocksTheMainWindowUnderAFreshWindow()
{
    const auto waitWindows = [] {
        QList<QWidget *> found;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->objectName() == QLatin1String("frmWait") && w->isVisible())
                found << w;
        }
        return found;
    };
    QWidget mainWindow;
    mainWindow.setGeometry(100, 100, 584, 303);
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    QList<QPoint> centres;
    for (const QPoint place : { QPoint(100, 100), QPoint(300, 200) }) {
        mainWindow.move(place);
        {
            const std::unique_ptr<SendWait> wait = frmWait::waitOver(&mainWindow);
            QVERIFY(!mainWindow.isEnabled());
            const QList<QWidget *> shown = waitWindows();
            QCOMPARE(shown.size(), 1);
            QVERIFY(shown.at(0)->isEnabled());
            const QPoint centre = mainWindow.frameGeometry().center();
            QVERIFY(qAbs(shown.at(0)->frameGeometry().center().x() - centre.x()) <= 1);
            QVERIFY(qAbs(shown.at(0)->frameGeometry().center().y() - centre.y()) <= 1);
            centres << shown.at(0)->frameGeometry().center();
        }
        QVERIFY(mainWindow.isEnabled());
        QVERIFY(waitWindows().isEmpty());
    }
    QVERIFY(centres.at(0) != centres.at(1));
}

QTEST_MAIN(tst_frmWait)
#include "tst_frmWait.moc"
