#include "fakes/TestSupport.h"
#include "sentlog/MessagesModel.h"
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
    void fixedWindowWithFourColumnsAndACloseButton();
    void rowsAreOnlyAddedAtTheEnd();
    void closeRequestOnlyHides();
    void closeButtonAlsoHidesTheMainWindow_data();
    void closeButtonAlsoHidesTheMainWindow();
    void enterPressesClose_data();
    void enterPressesClose();
    void activationRepaintsRowsOnlyWhenTheirLookChanges_data();
    void activationRepaintsRowsOnlyWhenTheirLookChanges();
};

namespace {
// Everything a widget is asked to paint.
class PaintedRegion : public QObject
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

void tst_frmMensajes::fixedWindowWithFourColumnsAndACloseButton()
{
    QWidget mainWindow;
    frmMensajes window(&mainWindow, [] { return false; });
    QCOMPARE(window.windowTitle(), QStringLiteral("Mensajes enviados"));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!(window.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(window.windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(window.windowIcon().availableSizes().value(0), QSize(16, 16));

    auto *list = window.findChild<QTableView *>(QStringLiteral("ListView1"));
    QVERIFY(list);
    const QStringList titles { "Para", "Mensaje", "Resultado", "Hora" };
    QCOMPARE(list->model()->columnCount(), 4);
    for (int c = 0; c < 4; ++c) {
        QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), titles.at(c));
        QVERIFY(
            list->model()->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignLeft);
    }
    // The message takes all the room the header has, with and without a scroll bar.
    window.show();
    for (int rows : { 1, 40 }) {
        while (window.rows() < rows)
            window.addRow(QStringLiteral("ANA"));
        QTRY_COMPARE(list->verticalScrollBar()->isVisible(), rows > 1);
        QTRY_COMPARE(list->horizontalHeader()->length(), list->viewport()->width());
    }
    QVERIFY(!list->isSortingEnabled());
    QCOMPARE(list->editTriggers(), QAbstractItemView::NoEditTriggers);

    auto *closeButton = window.findChild<QPushButton *>(QStringLiteral("Command1"));
    QVERIFY(closeButton);
    QCOMPARE(closeButton->text(), QStringLiteral("&Cerrar"));
    QWidget *next = list->nextInFocusChain();
    while (next != list && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    QCOMPARE(next, closeButton);
}

void tst_frmMensajes::rowsAreOnlyAddedAtTheEnd()
{
    QWidget mainWindow;
    frmMensajes window(&mainWindow, [] { return false; });
    // Completing with no row is harmless.
    window.completeLastRow(2, QStringLiteral("m"), QStringLiteral("Enviado"), QStringLiteral("1"));
    QCOMPARE(window.rows(), 0);

    window.addRow(QStringLiteral("ANA"));
    window.completeLastRow(2, QStringLiteral("hola"), QStringLiteral("Enviado"), QStringLiteral("10:00:00"));
    window.addRow(QStringLiteral("BEA"));
    const MessagesModel &m = window.model();
    QCOMPARE(m.rowCount(), 2);
    // Until it is completed, a new row shows only its recipient.
    for (int c = 1; c < 4; ++c)
        QVERIFY(m.data(m.index(1, c)).toString().isEmpty());
    // Views repaint what the model reports as changed: that must be every completed cell.
    QSignalSpy changes(&m, &QAbstractItemModel::dataChanged);
    window.completeLastRow(3, QStringLiteral("adios"), QStringLiteral("Error"), QStringLiteral("10:00:05"));
    QSet<int> covered;
    for (const QList<QVariant> &change : std::as_const(changes)) {
        const QModelIndex from = change.at(0).toModelIndex();
        const QModelIndex to = change.at(1).toModelIndex();
        const QList<int> roles = change.at(2).value<QList<int>>();
        if (from.row() <= 1 && to.row() >= 1 && (roles.isEmpty() || roles.contains(Qt::DisplayRole))) {
            for (int c = from.column(); c <= to.column(); ++c)
                covered << c;
        }
    }
    QCOMPARE(covered.contains(1) + covered.contains(2) + covered.contains(3), 3);

    const QList<QStringList> expected { { "ANA", "hola", "Enviado", "10:00:00" },
        { "BEA", "adios", "Error", "10:00:05" } };
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 4; ++c)
            QCOMPARE(m.data(m.index(r, c)).toString(), expected.at(r).at(c));
        QVERIFY(!m.data(m.index(r, 0), Qt::DecorationRole).isValid());
    }
    QCOMPARE(m.data(m.index(0, 0), Qt::UserRole).toInt(), 2);
    QCOMPARE(m.data(m.index(1, 0), Qt::UserRole).toInt(), 3);
}

void tst_frmMensajes::closeRequestOnlyHides()
{
    QWidget mainWindow;
    mainWindow.show();
    auto *window = new frmMensajes(&mainWindow, [] { return true; });
    QPointer<frmMensajes> guard(window);
    window->setAttribute(Qt::WA_DeleteOnClose); // even so, a close request must not unload it
    window->addRow(QStringLiteral("ANA"));
    window->showWindow();
    QVERIFY(QTest::qWaitForWindowExposed(window));

    QVERIFY(!window->close());
    QCoreApplication::processEvents();
    QVERIFY(guard);
    QVERIFY(!window->isVisible());
    // A close request is not "&Cerrar": the main window stays.
    QVERIFY(mainWindow.isVisible());

    window->showWindow();
    QVERIFY(window->isVisible());
    QCOMPARE(window->rows(), 1);
    delete window;
}

void tst_frmMensajes::closeButtonAlsoHidesTheMainWindow_data()
{
    QTest::addColumn<bool>("hideAfterSend");
    QTest::newRow("stays shown") << false;
    QTest::newRow("hide after sending") << true;
}

void tst_frmMensajes::closeButtonAlsoHidesTheMainWindow()
{
    QFETCH(bool, hideAfterSend);
    QWidget mainWindow;
    mainWindow.show();
    bool flag = !hideAfterSend;
    frmMensajes window(&mainWindow, [&flag] { return flag; });
    window.showWindow();
    // The flag is read when the button is pressed, not when the window was built.
    flag = hideAfterSend;
    window.findChild<QPushButton *>(QStringLiteral("Command1"))->click();
    QVERIFY(!window.isVisible());
    QCOMPARE(mainWindow.isVisible(), !hideAfterSend);
}

void tst_frmMensajes::enterPressesClose_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Enter") << int(Qt::Key_Enter);
}

void tst_frmMensajes::enterPressesClose()
{
    QFETCH(int, key);
    QWidget mainWindow;
    mainWindow.show();
    frmMensajes window(&mainWindow, [] { return false; });
    window.addRow(QStringLiteral("ANA"));
    window.showWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *list = window.findChild<QTableView *>(QStringLiteral("ListView1"));
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key(key));
    QVERIFY(!window.isVisible());
    QVERIFY(mainWindow.isVisible());
}

void tst_frmMensajes::activationRepaintsRowsOnlyWhenTheirLookChanges_data()
{
    QTest::addColumn<bool>("selected");
    QTest::addColumn<bool>("inactiveColours");
    QTest::addColumn<bool>("repainted");
    QTest::newRow("same look") << false << false << false;
    QTest::newRow("row selected") << true << false << true;
    QTest::newRow("own inactive colours") << false << true << true;
}

// The wait window takes the focus from the list at every recipient: rows are drawn again
// only when an inactive window shows them differently.
void tst_frmMensajes::activationRepaintsRowsOnlyWhenTheirLookChanges()
{
    QFETCH(bool, selected);
    QFETCH(bool, inactiveColours);
    QFETCH(bool, repainted);
    QWidget mainWindow;
    frmMensajes window(&mainWindow, [] { return false; });
    for (const char *recipient : { "ANA", "BEA", "CIRO" })
        window.addRow(QString::fromLatin1(recipient));
    auto *list = window.findChild<QTableView *>(QStringLiteral("ListView1"));
    QVERIFY(list);
    if (inactiveColours) {
        QPalette colours = list->palette();
        colours.setColor(QPalette::Inactive, QPalette::Text, Qt::darkGray);
        list->setPalette(colours);
    }
    window.showWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    list->setFocus();
    if (selected)
        list->selectRow(0);
    QCoreApplication::processEvents();

    PaintedRegion painted;
    list->viewport()->installEventFilter(&painted);
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QCoreApplication::processEvents();
    const QRect lastRow = list->visualRect(list->model()->index(2, 0));
    QVERIFY(!lastRow.isEmpty());
    QCOMPARE(painted.m_region.intersects(lastRow), repainted);
}

QTEST_MAIN(tst_frmMensajes)
#include "tst_frmMensajes.moc"
