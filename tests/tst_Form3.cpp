#include "about/Form3.h"
#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace TestSupport;

class TestForm3 : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static Form3 *modalForm3() { return qobject_cast<Form3 *>(QApplication::activeModalWidget()); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(prepareEnvironment(m_dir.path()));
    }

    void eachOpeningBuildsAFreshWindowWithTheVersionLine()
    {
        FakeRuntime rt;
        QStringList versions;
        QList<QPointer<Form3>> windows;
        for (int i = 0; i < 2; ++i) {
            const auto driver = onModal<Form3>([&](Form3 *w) {
                windows << w;
                versions << child<QLabel>(w, QStringLiteral("lblVersion"))->text();
                child<QPushButton>(w, QStringLiteral("Command1"))->click();
            });
            Form3::open(rt);
        }
        QCOMPARE(versions, QStringList({ QStringLiteral("Versión: 1.0.53"), QStringLiteral("Versión: 1.0.53") }));
        QCOMPARE(windows.size(), 2);
        // Each closing destroyed its window.
        QVERIFY(windows.at(0).isNull());
        QVERIFY(windows.at(1).isNull());
        QVERIFY(rt.m_boxes.isEmpty());
    }

    void openingAgainWhileOpenIsIgnored()
    {
        FakeRuntime rt;
        bool secondWindowCameUp = false;
        bool secondCallReturned = false;
        bool firstStillOpen = false;
        const auto driver = onModal<Form3>([&](Form3 *w) {
            // A second window would open its own modal loop inside this call: closed there.
            const ModalDriver second([&](QWidget *modal) {
                if (modal == w)
                    return false;
                secondWindowCameUp = true;
                modal->close();
                return true;
            });
            Form3::open(rt);
            secondCallReturned = true;
            firstStillOpen = w->isVisible();
            child<QPushButton>(w, QStringLiteral("Command1"))->click();
        });
        Form3::open(rt);
        QVERIFY(driver.handled());
        QVERIFY(secondCallReturned);
        QVERIFY(!secondWindowCameUp);
        QVERIFY(firstStillOpen);

        // Once closed, the window can be opened again.
        bool reopened = false;
        const auto again = onModal<Form3>([&](Form3 *w) {
            reopened = true;
            w->accept();
        });
        Form3::open(rt);
        QVERIFY(reopened);
    }

    void keys_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Enter in the licence text") << "txtLegal" << int(Qt::Key_Return) << true;
        QTest::newRow("keypad Enter in the licence text") << "txtLegal" << int(Qt::Key_Enter) << true;
        QTest::newRow("Enter on Aceptar") << "Command1" << int(Qt::Key_Return) << true;
        QTest::newRow("Esc in the licence text") << "txtLegal" << int(Qt::Key_Escape) << false;
        QTest::newRow("Esc on Aceptar") << "Command1" << int(Qt::Key_Escape) << false;
    }

    void keys()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(bool, closes);
        FakeRuntime rt;
        bool visibleAfterKey = true;
        int result = -1;
        const auto driver = onModal<Form3>([&](Form3 *w) {
            QWidget *target = w->findChild<QWidget *>(focus);
            target->setFocus();
            QTest::keyClick(target, Qt::Key(key));
            visibleAfterKey = w->isVisible();
            result = w->result();
            if (w->isVisible())
                w->close(); // the title bar's close button still closes
        });
        Form3::open(rt);
        QCOMPARE(!visibleAfterKey, closes);
        if (closes)
            QCOMPARE(result, int(QDialog::Accepted));
        QVERIFY(modalForm3() == nullptr);
    }

    void contactLineShowsItsBoxAndLeavesTheWindowOpen()
    {
        FakeRuntime rt;
        Form3 w(rt);
        w.show();
        QLabel *label1 = child<QLabel>(&w, QStringLiteral("Label1"));
        QCOMPARE(label1->text(), QStringLiteral("¿Fallos? ¿Problemas? ¿Sugerencias?"));
        QTest::mouseClick(label1, Qt::LeftButton);
        QCOMPARE(rt.m_boxes.size(), 1);
        QCOMPARE(rt.m_boxes.at(0).text,
            QStringLiteral("Si ha encontrado algún fallo, tiene algún problema o sugerencia envié un e-mail a: "
                           "soporte@velrisa.example.org"));
        QCOMPARE(rt.m_boxes.at(0).title, QStringLiteral("Errores, Problemas, Sugerencias..."));
        QCOMPARE(rt.m_boxes.at(0).icon, Runtime::Icon::Information);
        QVERIFY(w.isVisible());

        // A press that leaves the label before release is no click.
        QTest::mousePress(label1, Qt::LeftButton);
        QTest::mouseRelease(label1, Qt::LeftButton, {}, QPoint(-5, -5));
        QCOMPARE(rt.m_boxes.size(), 1);
    }

    void webLinkOpensTheFullAddress_data()
    {
        QTest::addColumn<bool>("openerSucceeds");
        QTest::newRow("browser opens") << true;
        QTest::newRow("no browser") << false;
    }

    void webLinkOpensTheFullAddress()
    {
        QFETCH(bool, openerSucceeds);
        FakeRuntime rt;
        rt.m_browserOpens = openerSucceeds;
        Form3 w(rt);
        w.show();
        QLabel *lblURL = child<QLabel>(&w, QStringLiteral("lblURL"));
        QCOMPARE(lblURL->text(), QStringLiteral("velrisa.example.org/"));
        QTest::mouseClick(lblURL, Qt::LeftButton);
        QCOMPARE(rt.m_openedUrls, QList<QUrl>({ QUrl(QStringLiteral("https://velrisa.example.org/")) }));
        QVERIFY(w.isVisible());
        QVERIFY(rt.m_boxes.isEmpty());
    }

    void licenceIsFixedReadOnlyAndScrolls()
    {
        FakeRuntime rt;
        Form3 w(rt);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *txt = child<QPlainTextEdit>(&w, QStringLiteral("txtLegal"));
        const QString before = txt->toPlainText();
        const QStringList lines = before.split(QLatin1Char('\n'));
        // Conditions 1 and 5 name the author.
        const auto condition = [&](const QString &number) {
            const int at = lines.indexOf(QRegularExpression(QStringLiteral("^") + number + QStringLiteral("\\. .*")));
            return at < 0 ? QString() : lines.at(at) + lines.value(at + 1) + lines.value(at + 2);
        };
        QVERIFY(condition(QStringLiteral("1")).contains(QStringLiteral("Equipo Velrisa")));
        QVERIFY(condition(QStringLiteral("5")).contains(QStringLiteral("Equipo Velrisa")));
        QCOMPARE(child<QLabel>(&w, QStringLiteral("lblPor"))->text(), QStringLiteral("Por Equipo Velrisa"));
        QCOMPARE(child<QLabel>(&w, QStringLiteral("imgIcono"))->pixmap().size(), QSize(32, 32));
        QVERIFY(w.windowIcon().availableSizes().contains(QSize(16, 16)));

        // Every line fits the box's width, so nothing hides behind a sideways scroll; there is
        // more text than fits its height, so it scrolls.
        QCOMPARE(txt->horizontalScrollBar()->maximum(), 0);
        QVERIFY(txt->verticalScrollBar()->isVisible());
        QVERIFY(txt->verticalScrollBar()->maximum() > 0);

        txt->setFocus();
        QTest::keyClicks(txt, QStringLiteral("xyz"));
        QTest::keyClick(txt, Qt::Key_Backspace);
        QTest::keyClick(txt, Qt::Key_Delete);
        QTest::keyClick(txt, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(txt->toPlainText(), before);
    }

    void labelsSizedToTextStayInPlace_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<bool>("rightAligned");
        QTest::newRow("lblTitulo") << "lblTitulo" << QRect(900, 240, 705, 195) << false;
        QTest::newRow("lblPor") << "lblPor" << QRect(900, 480, 1800, 195) << false;
        QTest::newRow("lblURL") << "lblURL" << QRect(5160, 3240, 1995, 195) << true;
        QTest::newRow("Label1") << "Label1" << QRect(4605, 3540, 2550, 195) << true;
        QTest::newRow("lblVersion") << "lblVersion" << QRect(120, 3540, 465, 195) << false;
    }

    void labelsSizedToTextStayInPlace()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        QFETCH(bool, rightAligned);
        FakeRuntime rt;
        Form3 w(rt);
        w.show();
        auto *label = w.findChild<QLabel *>(name);
        QVERIFY(label);
        // The whole text shows, and the anchored edge sits where the layout puts it.
        QVERIFY(label->width() >= label->sizeHint().width());
        QCOMPARE(label->y(), twips.top() / 15);
        if (rightAligned)
            QCOMPARE(label->geometry().right() + 1, (twips.left() + twips.width()) / 15);
        else
            QCOMPARE(label->x(), twips.left() / 15);
        QVERIFY(w.rect().contains(label->geometry()));
        QCOMPARE(w.size(), QSize(7275 / 15, 3855 / 15));
    }
};

QTEST_MAIN(TestForm3)
#include "tst_Form3.moc"
