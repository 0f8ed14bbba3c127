#include "fakes/FakeRuntime.h"
#include "fakes/TestSupport.h"

#include "about/Form3.h"
#include "addressbook/Module.h"
#include "addressbook/frmSearch.h"
#include "addressbook/frmEquipos.h"
#include "app/Startup.h"
#include "dispatch/frmWait.h"
#include "mainwindow/frmPrincipal.h"
#include "receive/ReceivedModel.h"
#include "receive/frmMoreReceived.h"
#include "receive/frmReceived.h"
#include "receive/frmReceivedList.h"
#include "runtime/posix/PosixRuntime.h"
#include "sentlog/frmMensajes.h"
#include "widgets/Appearance.h"

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
#include <QTest>

#include <functional>
#include <memory>

using namespace TestSupport;

namespace {

QString withoutAmpersand(QString text)
{
    return text.remove(QLatin1Char('&'));
}

// The widgets of a window that a user sees: the window itself and every child shown in it.
QList<QWidget *> shownWidgets(QWidget *window)
{
    QList<QWidget *> result { window };
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->isVisibleTo(window) && w->window() == window)
            result << w;
    }
    return result;
}

QString describe(QWidget *w)
{
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName());
}

// Captions wider or taller than the room their control gives them, at the font they are drawn in.
QStringList cutCaptions(QWidget *window)
{
    QStringList result;
    const auto measure = [&](QWidget *w, const QString &text, const QRect &room) {
        const QFontMetrics fm = w->fontMetrics();
        const int advance = fm.horizontalAdvance(withoutAmpersand(text));
        if (advance > room.width() || fm.height() > room.height())
            result << QStringLiteral("%1 \"%2\": %3x%4 in %5x%6")
                          .arg(describe(w), text)
                          .arg(advance)
                          .arg(fm.height())
                          .arg(room.width())
                          .arg(room.height());
    };
    for (QWidget *w : shownWidgets(window)) {
        if (auto *label = qobject_cast<QLabel *>(w)) {
            if (!label->text().isEmpty() && !label->wordWrap() && label->textFormat() != Qt::RichText)
                measure(w, label->text(), label->contentsRect());
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            if (button->text().isEmpty())
                continue;
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            QStyle::SubElement contents = QStyle::SE_PushButtonContents;
            if (qobject_cast<QRadioButton *>(button))
                contents = QStyle::SE_RadioButtonContents;
            else if (qobject_cast<QCheckBox *>(button))
                contents = QStyle::SE_CheckBoxContents;
            measure(w, button->text(), button->style()->subElementRect(contents, &option, button));
        } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            measure(w, QStringLiteral("Ág"), edit->contentsRect());
        } else if (auto *header = qobject_cast<QHeaderView *>(w)) {
            const int margins = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
            for (int i = 0; i < header->count(); ++i) {
                const QString text = header->model()->headerData(i, header->orientation()).toString();
                measure(w, text, QRect(0, 0, header->sectionSize(i) - margins, header->height()));
            }
            // A list's columns take all its width: none is cut while room is left over.
            if (header->orientation() == Qt::Horizontal && header->length() != header->width())
                result << QStringLiteral("%1: columns %2 wide in a list %3 wide")
                              .arg(describe(w))
                              .arg(header->length())
                              .arg(header->width());
        }
    }
    return result;
}

// Framed lists, tables and text areas with an edge missing from the window as drawn, at the
// screen's scale: each edge must show a line of the frame's colour along most of its length.
QStringList lostFrameEdges(QWidget *window)
{
    QStringList result;
    const QImage image = window->grab().toImage();
    const qreal scale = image.devicePixelRatio();
    for (QWidget *w : shownWidgets(window)) {
        auto *area = qobject_cast<QAbstractScrollArea *>(w);
        if (!area || area->frameWidth() == 0)
            continue;
        const QRgb frameColour = area->palette().color(QPalette::Mid).rgb();
        const QRect r(area->mapTo(window, QPoint(0, 0)), area->size());
        // Device pixels from a to b (exclusive) across, at position p along: enough of the frame's colour?
        const auto isFrameLine = [&](bool horizontal, int p, int a, int b) {
            int matching = 0;
            for (int k = a; k < b; ++k)
                matching += image.pixel(horizontal ? k : p, horizontal ? p : k) == frameColour;
            return matching * 10 >= (b - a) * 9;
        };
        const auto edgeShown = [&](bool horizontal, qreal logical, qreal from, qreal to) {
            const int centre = int(logical * scale);
            for (int p = centre - 2; p <= centre + 2; ++p) {
                if (p >= 0 && p < (horizontal ? image.height() : image.width())
                    && isFrameLine(horizontal, p, int((from + 4) * scale), int((to - 4) * scale)))
                    return true;
            }
            return false;
        };
        const QList<std::pair<const char *, bool>> edges {
            { "top", edgeShown(true, r.top(), r.left(), r.right()) },
            { "bottom", edgeShown(true, r.bottom(), r.left(), r.right()) },
            { "left", edgeShown(false, r.left(), r.top(), r.bottom()) },
            { "right", edgeShown(false, r.right(), r.top(), r.bottom()) },
        };
        for (const auto &[side, shown] : edges) {
            if (!shown)
                result
                    << QStringLiteral("%1: no %2 border at scale %3").arg(describe(w), QLatin1String(side)).arg(scale);
        }
    }
    return result;
}

// Text drawn in another face, or at another size, than the program's; only bold headings
// may be larger.
QStringList otherFonts(QWidget *window)
{
    const QString family = QFontInfo(Appearance::font()).family();
    QStringList result;
    for (QWidget *w : shownWidgets(window)) {
        const QFontInfo font(w->font());
        if (font.family() != family || (font.pixelSize() != Appearance::kPixels && !font.bold()))
            result << QStringLiteral("%1: %2 %3 px").arg(describe(w), font.family()).arg(font.pixelSize());
    }
    return result;
}

// Controls, and menu items, that a screen reader could not name.
QStringList unnamedControls(QWidget *window)
{
    QStringList result;
    for (QWidget *w : shownWidgets(window)) {
        QAccessibleInterface *ia = QAccessible::queryAccessibleInterface(w);
        if (auto *menu = qobject_cast<QMenu *>(w)) {
            for (int i = 0; ia && i < ia->childCount(); ++i) {
                QAccessibleInterface *item = ia->child(i);
                if (item->role() != QAccessible::Separator && item->text(QAccessible::Name).isEmpty())
                    result << QStringLiteral("%1, item %2").arg(describe(menu)).arg(i);
            }
            continue;
        }
        if (w->focusPolicy() == Qt::NoFocus)
            continue;
        if (!ia || ia->text(QAccessible::Name).isEmpty())
            result << describe(w);
        else if (auto *button = qobject_cast<QAbstractButton *>(w); button && !button->text().isEmpty())
            if (ia->text(QAccessible::Name) != withoutAmpersand(button->text()))
                result << QStringLiteral("%1 named \"%2\"").arg(describe(w), ia->text(QAccessible::Name));
    }
    return result;
}

// Runs `check` on the next modal window once it is up, then closes it; `openWindow` opens it
// and returns when it has been closed. False when no modal window came up.
bool withModal(const std::function<void()> &openWindow, const std::function<void(QWidget *)> &check)
{
    const auto driver = onModal([&](QWidget *modal) {
        check(modal);
        modal->close();
    });
    openWindow();
    return driver.handled();
}

} // namespace

// Every window of the program as the user meets it: one typeface, no caption cut, no frame
// edge lost, a name for every control, Qt's own buttons in Spanish. The windows that are modal
// are checked while up.
class tst_Windows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void everyWindowShowsWholeCaptionsFramesAndNamesInOneFont_data();
    void everyWindowShowsWholeCaptionsFramesAndNamesInOneFont();
    void qtButtonsAreInSpanish();

private:
    StartupFixture m_fixture;
    frmPrincipal *m_mainWindow = nullptr;
};

void tst_Windows::initTestCase()
{
    QVERIFY(m_fixture.prepare());
}

void tst_Windows::init()
{
    QVERIFY(m_fixture.renew());
    QVERIFY(writeFile(m_fixture.programPath() + QStringLiteral("enviara.ini"),
        "[Equipos]\r\n1=SERVIDOR1\r\n2=portatil ana\r\nTotal=2\r\n[Redes]\r\n1=OFICINA\r\nTotal=1\r\n"));
    Startup &startup = m_fixture.create();
    startup.start();
    m_mainWindow = &startup.mainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(m_mainWindow));
}

void tst_Windows::cleanup()
{
    m_mainWindow = nullptr;
    m_fixture.reset();
}

void tst_Windows::everyWindowShowsWholeCaptionsFramesAndNamesInOneFont_data()
{
    QTest::addColumn<QString>("window");
    for (const char *v : { "frmPrincipal", "mnuApp", "frmMensajes", "frmWait", "frmEquipos", "frmSearch", "Form3",
             "message box", "input box", "frmReceived", "frmReceivedList", "frmMoreReceived", "drop-down" })
        QTest::newRow(v) << QString::fromLatin1(v);
}

void tst_Windows::everyWindowShowsWholeCaptionsFramesAndNamesInOneFont()
{
    QFETCH(QString, window);
    QStringList problems;
    const auto check
        = [&](QWidget *w) { problems << cutCaptions(w) << lostFrameEdges(w) << otherFonts(w) << unnamedControls(w); };
    PosixRuntime real;

    if (window == QLatin1String("frmPrincipal")) {
        check(m_mainWindow);
    } else if (window == QLatin1String("mnuApp")) {
        m_mainWindow->mnuApp().popup(m_mainWindow->geometry().center());
        QVERIFY(QTest::qWaitForWindowExposed(&m_mainWindow->mnuApp()));
        check(&m_mainWindow->mnuApp());
        m_mainWindow->mnuApp().hide();
    } else if (window == QLatin1String("frmMensajes")) {
        frmMensajes &log = m_mainWindow->messages();
        log.addRow(QStringLiteral("SERVIDOR1"));
        log.completeLastRow(2, QStringLiteral("hola"), QStringLiteral("Enviado"), QStringLiteral("14:05:33"));
        log.showWindow();
        QVERIFY(QTest::qWaitForWindowExposed(&log));
        check(&log);
    } else if (window == QLatin1String("frmWait")) {
        frmWait waitWindow(m_mainWindow);
        waitWindow.show();
        QVERIFY(QTest::qWaitForWindowExposed(&waitWindow));
        check(&waitWindow);
    } else if (window == QLatin1String("drop-down")) {
        auto *recipientBox = child<QComboBox>(m_mainWindow, QStringLiteral("txtDestino"));
        recipientBox->addItems({ QStringLiteral("Servidor1 Portatil Ana"), QStringLiteral("Oficina") });
        recipientBox->showPopup();
        QWidget *popupList = recipientBox->view()->window();
        QVERIFY(QTest::qWaitForWindowExposed(popupList));
        check(popupList);
        recipientBox->hidePopup();
    } else if (window == QLatin1String("frmReceived") || window == QLatin1String("frmReceivedList")) {
        const Mailbox::Message message { QStringLiteral("m1767225600.000000000.1"), QStringLiteral("ana"),
            QStringLiteral("oficina1"), QDateTime::fromSecsSinceEpoch(1767225600, Qt::UTC), false,
            QStringLiteral("Hola, ¿qué tal?\nAño 2026"), {}, {} };
        ReceivedModel model;
        model.insert(message);
        std::unique_ptr<QWidget> w;
        if (window == QLatin1String("frmReceived")) {
            auto popup = std::make_unique<frmReceived>(message);
            popup->setCloseAll(true); // all three buttons, as where several are open
            w = std::move(popup);
        } else
            w = std::make_unique<frmReceivedList>(model);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        check(w.get());
    } else if (window == QLatin1String("frmMoreReceived")) {
        frmMoreReceived more;
        more.add(1940);
        more.show();
        QVERIFY(QTest::qWaitForWindowExposed(&more));
        check(&more);
    } else if (window == QLatin1String("frmEquipos")) {
        QVERIFY(withModal(
            [&] {
                frmEquipos editor(m_fixture.rt(), m_mainWindow->module(), m_mainWindow);
                editor.exec();
            },
            [&](QWidget *editor) {
                check(editor);
                // The other kind's list, too.
                child<QRadioButton>(editor, QStringLiteral("optElemento(1)"))->click();
                check(editor);
            }));
    } else if (window == QLatin1String("frmSearch")) {
        QVERIFY(withModal(
            [&] {
                frmSearch picker(1, { QStringLiteral("OFICINA"), QStringLiteral("DISEÑO") }, m_mainWindow);
                picker.exec();
            },
            check));
    } else if (window == QLatin1String("Form3")) {
        QVERIFY(withModal([&] { Form3::open(m_fixture.rt()); }, check));
    } else if (window == QLatin1String("message box")) {
        QVERIFY(withModal(
            [&] {
                real.msgBox(QStringLiteral("No se pudo escribir en el directorio del programa."),
                    Runtime::Icon::Critical, QStringLiteral("Error de escritura"));
            },
            check));
    } else {
        QVERIFY(withModal([&] { real.inputBox(frmEquipos::promptText(0), frmEquipos::kPromptTitle); }, check));
    }
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("\n"))));
}

void tst_Windows::qtButtonsAreInSpanish()
{
    PosixRuntime real;
    QStringList buttons;
    const auto readButtons = [&](QWidget *box) {
        for (const QAbstractButton *b : box->findChildren<QDialogButtonBox *>().value(0)->buttons())
            buttons << withoutAmpersand(b->text());
    };
    QVERIFY(withModal([&] { real.msgBox(QStringLiteral("Hola"), Runtime::Icon::None, QString()); }, readButtons));
    QVERIFY(
        withModal([&] { real.inputBox(QStringLiteral("Nombre:"), QStringLiteral("Insertar elemento")); }, readButtons));
    buttons.sort();
    QCOMPARE(
        buttons, (QStringList { QStringLiteral("Aceptar"), QStringLiteral("Aceptar"), QStringLiteral("Cancelar") }));
}

QTEST_MAIN(tst_Windows)
#include "tst_Windows.moc"
