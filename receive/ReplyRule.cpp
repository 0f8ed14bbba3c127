#include "receive/ReplyRule.h"

#include "net/MessageText.h"
#include "net/NetbiosWire.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <sys/socket.h>

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
    // NetBIOS names live on IPv4 alone; smbd may give one as IPv4-mapped IPv6.
    QString address = message.address;
    if (address.startsWith(QStringLiteral("::ffff:"), Qt::CaseInsensitive))
        address = address.mid(7);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_port);
    if (address.isEmpty() || ::inet_pton(AF_INET, address.toLatin1().constData(), &to.sin_addr) != 1)
        return false;
    m_message = message;
    m_to = to;
    m_bound.start(kBoundMs);
    // A connected socket: the system passes on datagrams from that address and port alone,
    // and tells when nothing listens there.
    m_socket.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!m_socket.isOpen())
        return true; // answered as silence when the bound runs out
    if (::connect(m_socket.get(), reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        m_bound.start(0);
        return true;
    }
    m_id = quint16(QRandomGenerator::system()->generate());
    m_request = NetbiosWire::nodeStatusRequest(m_id);
    m_notifier = std::make_unique<QSocketNotifier>(m_socket.get(), QSocketNotifier::Read);
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
    m_socket.reset();
}

void ReplyRule::send()
{
    if (!m_socket.isOpen())
        return;
    if (::send(m_socket.get(), m_request.data(), m_request.size(), MSG_NOSIGNAL) < 0 && errno == ECONNREFUSED)
        m_bound.start(0); // nothing listens there: it has no name service
}

void ReplyRule::readAnswers()
{
    char datagram[kMaxDatagram + 1];
    for (int read = 0; read < 64 && m_socket.isOpen(); ++read) {
        sockaddr_in from {};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(
            m_socket.get(), datagram, sizeof datagram, MSG_TRUNC, reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (n < 0) {
            if (errno == ECONNREFUSED)
                m_bound.start(0);
            return;
        }
        if (size_t(n) > kMaxDatagram || fromLength != sizeof from || from.sin_family != AF_INET
            || from.sin_addr.s_addr != m_to.sin_addr.s_addr || from.sin_port != m_to.sin_port)
            continue;
        const auto status = NetbiosWire::readNodeStatus(std::string_view(datagram, size_t(n)));
        if (!status || status->id != m_id)
            continue;
        QString recipient;
        const Outcome outcome = decide(m_message, status->names, m_codePage, &recipient);
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
