#include "receive/Receiving.h"

#include "net/NetConfig.h"
#include "receive/frmMoreReceived.h"
#include "receive/frmReceived.h"
#include "receive/frmReceivedList.h"
#include "runtime/IconoBarra.h"
#include "runtime/Runtime.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <utility>

namespace {
// How far each pop-up stands from the one before, so that none hides another completely.
constexpr int kStep = 28;
const char *const kGap = "hueco";
} // namespace

Receiving::Receiving(
    Runtime &runtime, IconoBarra &icon, const QString &mailbox, const QString &dataFolder, QObject *parent)
    : QObject(parent)
    , m_rt(runtime)
    , m_icon(icon)
    , m_mailbox(mailbox)
    , m_own(Mailbox::ownPath(mailbox))
    , m_history(dataFolder)
{
    m_mailbox.setSkip([this](const QString &id) { return m_history.shown(id); });
    m_own.setSkip([this](const QString &id) { return m_history.shown(id); });
    // The user owns that folder; the records in it are the receiver's, as in the mailbox.
    m_own.setOwnerOf(m_mailbox.path());
    connect(&m_mailbox, &Mailbox::arrived, this, [this](const QList<Mailbox::Message> &m) { receive(m, false); });
    connect(&m_own, &Mailbox::arrived, this, [this](const QList<Mailbox::Message> &m) { receive(m, true); });
    connect(&m_mailbox, &Mailbox::existenceChanged, this, &Receiving::mailboxChanged);
    m_saved.setSingleShot(true);
    m_saved.setInterval(kSaveDelayMs);
    connect(&m_saved, &QTimer::timeout, this, &Receiving::save);
    connect(&m_replyRule, &ReplyRule::decided, this, &Receiving::replyDecided);
}

Receiving::~Receiving()
{
    if (m_busy)
        QGuiApplication::restoreOverrideCursor();
    for (frmReceived *w : std::as_const(m_open)) {
        disconnect(w, nullptr, this, nullptr);
        delete w;
    }
    delete m_more;
    // What waits for a window is not marked shown: it pops up at the next start.
    saveNow();
}

void Receiving::saveNow()
{
    m_saved.stop();
    if (m_history.pending() && !m_history.save())
        qWarning("velrisa: no se puede guardar la lista de mensajes recibidos en %s", qPrintable(m_history.error()));
}

void Receiving::start()
{
    if (!m_history.load())
        m_rt.msgBox(QStringLiteral("No se puede leer la lista de mensajes recibidos: %1").arg(m_history.error()),
            Runtime::Icon::Critical);
    m_firstTime = m_history.fresh();
    m_own.watch();
    m_mailbox.watch();
    // Also when the mailbox was empty: what comes from now on is for this user too. What was
    // kept of a file set aside is written anew.
    m_firstTime = false;
    scheduleSave();
}

void Receiving::showReceived()
{
    if (!m_received) {
        m_received = std::make_unique<frmReceivedList>(m_history.model());
        connect(m_received.get(), &frmReceivedList::reply, this, &Receiving::replyTo);
    }
    m_received->showWindow();
}

void Receiving::receive(const QList<Mailbox::Message> &messages, bool own)
{
    int gathered = 0;
    for (const Mailbox::Message &m : messages) {
        if (m_history.shown(m.id))
            continue;
        if (m_firstTime && !own) {
            // Sent to the computer before this user first came: someone else's.
            m_history.markShown(m.id);
            continue;
        }
        // In the history before it waits for a window, so that quitting loses nothing.
        m_history.add(m);
        if ((m_more && m_more->isVisible()) || m_waiting.size() >= kMaxWaiting) {
            m_history.markShown(m.id);
            ++gathered;
        } else {
            m_waiting << m;
            openWaiting();
        }
    }
    // A record is forgotten only when neither folder has it (a user without a folder of
    // their own has nothing there to lose).
    if (m_mailbox.completeRead() && (m_own.completeRead() || !m_own.exists()))
        m_history.forgetShownExcept(m_mailbox.present() + (m_own.exists() ? m_own.present() : QSet<QString>()));
    if (gathered)
        gather(gathered);
    scheduleSave();
}

bool Receiving::openWaiting()
{
    bool opened = false;
    while (m_open.size() < kMaxOpen && !m_waiting.isEmpty()) {
        open(m_waiting.takeFirst());
        opened = true;
    }
    if (opened)
        updateCloseAll();
    return opened;
}

void Receiving::gather(int messages)
{
    if (!m_more || !m_more->isVisible()) {
        m_more = new frmMoreReceived;
        connect(m_more, &frmMoreReceived::showReceived, this, &Receiving::showReceived);
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            // Above the cascade of pop-ups, which is centred.
            const QRect zone = screen->availableGeometry();
            QRect frame(QPoint(), m_more->size());
            frame.moveCenter(zone.center());
            frame.moveTop(zone.top() + kStep);
            m_more->move(frame.topLeft());
        }
    }
    m_more->add(messages);
    m_more->show();
    m_more->raise();
}

frmMoreReceived *Receiving::moreReceived() const
{
    return m_more;
}

void Receiving::closeAll()
{
    const QList<Mailbox::Message> waiting = std::exchange(m_waiting, {});
    for (const Mailbox::Message &m : waiting)
        m_history.markShown(m.id);
    for (frmReceived *w : QList<frmReceived *>(m_open))
        w->close();
    if (!waiting.isEmpty())
        gather(int(waiting.size()));
    scheduleSave();
}

void Receiving::updateCloseAll()
{
    for (frmReceived *w : std::as_const(m_open))
        w->setCloseAll(m_open.size() > 1);
}

void Receiving::open(const Mailbox::Message &message)
{
    auto *window = new frmReceived(message);
    // The first free place of the cascade.
    int gap = 0;
    while (std::any_of(
        m_open.cbegin(), m_open.cend(), [gap](const frmReceived *w) { return w->property(kGap).toInt() == gap; }))
        ++gap;
    window->setProperty(kGap, gap);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        // The whole cascade centred on the screen and within it; where the screen is too
        // small for all of it, the next round starts half a step to the right.
        const QRect zone = screen->availableGeometry();
        const QSize size = window->size();
        const int fit = std::max(1,
            std::min({ kMaxOpen, (zone.width() - size.width()) / kStep + 1,
                (zone.height() - size.height()) / kStep + 1 }));
        QRect frame(QPoint(), size);
        frame.moveCenter(zone.center() - QPoint(1, 1) * (kStep * (fit - 1) / 2));
        frame.translate(QPoint(1, 1) * (kStep * (gap % fit)) + QPoint(kStep / 2 * (gap / fit), 0));
        frame.moveRight(std::min(frame.right(), zone.right()));
        frame.moveBottom(std::min(frame.bottom(), zone.bottom()));
        frame.moveLeft(std::max(frame.left(), zone.left()));
        frame.moveTop(std::max(frame.top(), zone.top()));
        window->move(frame.topLeft());
    }
    connect(window, &frmReceived::reply, this, &Receiving::replyTo);
    connect(window, &frmReceived::closeAll, this, &Receiving::closeAll);
    connect(window, &QObject::destroyed, this, [this, window] {
        m_open.removeOne(window);
        if (!openWaiting())
            updateCloseAll();
        scheduleSave();
    });
    m_open << window;
    m_history.markShown(message.id);
    window->show();
    window->raise();
    m_icon.notify(QStringLiteral("Mensaje de %1").arg(message.from), message.text.left(200));
}

// A crash loses no message that is still in the mailbox. The history on disk never marks a
// record shown unless it holds its message too (both go to one file, the message first, and
// reading it back drops a mark without its message), so what a crash kept off the disk is
// read again from the mailbox at the next start. The receiver removes a record only once
// 1,000 newer ones have come or it is 30 days old: far longer than this delay.
void Receiving::scheduleSave()
{
    if (m_history.pending() && !m_saved.isActive())
        m_saved.start();
}

void Receiving::save()
{
    if (m_history.save() || m_errorTold)
        return;
    // Once a run: every new message would fail the same way.
    m_errorTold = true;
    m_rt.msgBox(QStringLiteral("No se puede guardar la lista de mensajes recibidos en %1").arg(m_history.error()),
        Runtime::Icon::Critical);
}

// The sending computer is asked whom to write to. Meanwhile the pop-up stays, its
// "&Responder" off, and the pointer shows the program busy: the answer takes milliseconds on
// a network, ReplyRule::kBoundMs at most. Then the pop-up closes and the main window opens
// with the recipient filled in. A second "&Responder" meanwhile replaces the first.
void Receiving::replyTo(frmReceived *window)
{
    if (m_replyingWindow && m_replyingWindow != window)
        m_replyingWindow->setReplying(false);
    m_replyingWindow = window;
    const Mailbox::Message message = window->message();
    // Names travel in the code page net sends in, as net.ini beside the program says.
    m_replyRule.setCodePage(NetConfig((m_rt.appPath() + QStringLiteral("/net.ini")).toStdString()).codePage());
    if (!m_replyRule.ask(message)) {
        if (m_busy)
            QGuiApplication::restoreOverrideCursor();
        m_busy = false;
        window->accept();
        Q_EMIT reply(ReplyRule::guess(message));
        return;
    }
    m_replying = message;
    window->setReplying(true);
    if (!m_busy)
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    m_busy = true;
}

void Receiving::replyDecided(ReplyRule::Outcome outcome, const QString &recipient)
{
    if (m_busy)
        QGuiApplication::restoreOverrideCursor();
    m_busy = false;
    const Mailbox::Message message = m_replying;
    if (m_replyingWindow)
        m_replyingWindow->accept();
    const QString computer = message.computer.isEmpty()
        ? message.address
        : QStringLiteral("%1 (%2)").arg(message.computer, message.address);
    // Before the main window takes the keys: the user knows before typing that the reply
    // will probably reach nobody.
    if (outcome == ReplyRule::Outcome::NoMessenger)
        m_rt.msgBox(QStringLiteral("El equipo %1, del que llegó el mensaje de %2, no recibe mensajes: "
                                   "la respuesta no llegará.")
                        .arg(computer, message.from),
            Runtime::Icon::Information);
    else if (outcome == ReplyRule::Outcome::NoAnswer)
        m_rt.msgBox(QStringLiteral("El equipo %1, del que llegó el mensaje de %2, no contesta: no parece recibir "
                                   "mensajes y es probable que la respuesta no llegue.")
                        .arg(computer, message.from),
            Runtime::Icon::Information);
    Q_EMIT reply(recipient);
}
