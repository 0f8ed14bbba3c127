#include "receive/ReplyRule.h"

#include "net/MessageText.h"
#include "net/NetbiosWire.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>

namespace {

// The messenger's name type.
constexpr uint8_t kMessenger = 0x03;
// A node status answer of the most names (255) fits in far less; anything longer is no answer.
constexpr size_t kMaxDatagram = 1500;

} // namespace

ReplyRule::ReplyRule(QObject *parent)
    : QObject(parent)
{
    m_repeat.setInterval(kRepeatMs);
    connect(&m_repeat, &QTimer::timeout, this, &ReplyRule::send);
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, [this] { finish(Outcome::NoAnswer, computerOf()); });
}

ReplyRule::~ReplyRule()
{
    cancel();
}

QString ReplyRule::guess(const Mailbox::Message &message)
{
    static const QRegularExpression netbios(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]{0,14}$"));
    if (message.computer.isEmpty() || netbios.match(message.from).hasMatch())
        return message.from;
    return message.computer;
}

ReplyRule::Outcome ReplyRule::decide(const Mailbox::Message &message, const std::vector<NetbiosWire::StatusName> &names,
    const std::string &codePage, QString *recipient)
{
    // Only names in use count: one in conflict or being released takes no message.
    QStringList messengers;
    for (const NetbiosWire::StatusName &node : names) {
        if (node.type != kMessenger || node.group || !node.active)
            continue;
        const std::optional<std::string> utf8 = MessageText::toUtf8(node.name, codePage);
        const QString name = utf8 ? QString::fromStdString(*utf8).trimmed() : QString();
        // A name that is no text, or that holds control characters, is nobody's to write to.
        if (!name.isEmpty()
            && std::none_of(name.cbegin(), name.cend(), [](QChar c) { return c.category() == QChar::Other_Control; }))
            messengers << name;
    }
    const auto among = [&messengers](const QString &name) -> QString {
        for (const QString &m : std::as_const(messengers)) {
            if (!name.isEmpty() && m.compare(name, Qt::CaseInsensitive) == 0)
                return m;
        }
        return {};
    };
    if (messengers.isEmpty()) {
        *recipient = message.computer.isEmpty() ? guess(message) : message.computer;
        return Outcome::NoMessenger;
    }
    if (!among(message.from).isEmpty()) {
        *recipient = message.from;
        return Outcome::Person;
    }
    // Its own name, when it called itself by one of them (as smbclient and Windows do); else
    // the first it gives.
    const QString own = among(message.computer);
    *recipient = own.isEmpty() ? messengers.first() : own;
    return Outcome::Computer;
}

bool ReplyRule::ask(const Mailbox::Message &message)
{
    cancel();
    const DatagramPeer::Status opened = m_peer.open(message.address.toStdString(), m_port);
    if (opened == DatagramPeer::Status::NoAddress)
        return false;
    m_message = message;
    // No socket: nothing can be asked, which is no answer.
    m_bound.start(opened == DatagramPeer::Status::Done ? kBoundMs : 0);
    if (opened != DatagramPeer::Status::Done)
        return true;
    m_id = quint16(QRandomGenerator::system()->generate());
    m_request = NetbiosWire::nodeStatusRequest(m_id);
    m_notifier = std::make_unique<QSocketNotifier>(m_peer.descriptor(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &ReplyRule::readAnswers);
    m_repeat.start();
    send();
    return true;
}

void ReplyRule::cancel()
{
    m_repeat.stop();
    m_bound.stop();
    m_notifier.reset();
    m_peer.close();
}

void ReplyRule::send()
{
    if (m_peer.isOpen() && m_peer.send(m_request) == DatagramPeer::Status::Refused)
        m_bound.start(0); // nothing listens there: it has no name service
}

void ReplyRule::readAnswers()
{
    std::string datagram;
    // A flood is read on the event loop's next turns, never in one.
    for (int read = 0; read < 64; ++read) {
        const DatagramPeer::Status status = m_peer.receive(&datagram, kMaxDatagram);
        if (status == DatagramPeer::Status::Refused)
            m_bound.start(0);
        if (status != DatagramPeer::Status::Done)
            return;
        const auto answer = NetbiosWire::readNodeStatus(datagram);
        if (!answer || answer->id != m_id)
            continue;
        QString recipient;
        const Outcome outcome = decide(m_message, answer->names, m_codePage, &recipient);
        finish(outcome, recipient);
        return;
    }
}

void ReplyRule::finish(Outcome outcome, const QString &recipient)
{
    cancel();
    Q_EMIT decided(outcome, recipient);
}

QString ReplyRule::computerOf() const
{
    return m_message.computer.isEmpty() ? guess(m_message) : m_message.computer;
}
