#include "fakes/TestSupport.h"

#include "app/Startup.h"
#include "fakes/FakeRuntime.h"

#include <QApplication>
#include <QListWidget>

// The helpers of TestSupport.h that need widgets.
namespace TestSupport {

StartupFixture::~StartupFixture() = default;

void StartupFixture::reset()
{
    m_startup.reset();
    ProgramFixture::reset();
}

Startup &StartupFixture::create()
{
    m_startup.reset();
    m_startup = std::make_unique<Startup>(rt());
    return *m_startup;
}

bool activate(QWidget *window)
{
    window->show();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

QStringList itemTexts(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

bool clickItem(QListWidget *list, const QString &text)
{
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    if (found.isEmpty())
        return false;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.first()).center());
    return true;
}

ModalDriver::ModalDriver(std::function<bool(QWidget *)> act)
    : m_act(std::move(act))
{
    m_poll.setInterval(10);
    QObject::connect(&m_poll, &QTimer::timeout, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        const QString name = QString::fromLatin1(modal->metaObject()->className());
        // Stopped first: the action may open a modal window of its own, which runs a loop here.
        m_poll.stop();
        if (!m_act(modal)) {
            m_poll.start();
            return;
        }
        m_handled = true;
        m_className = name;
    });
    m_poll.start();
    m_safetyNet.setSingleShot(true);
    QObject::connect(&m_safetyNet, &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    m_safetyNet.start(10000);
}

} // namespace TestSupport
