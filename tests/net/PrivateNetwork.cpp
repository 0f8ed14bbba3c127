#include "PrivateNetwork.h"

#include "SambaHost.h"

#include <QStandardPaths>

PrivateNetwork::PrivateNetwork(const QString &tag, const QString &prefix)
    : m_tag(tag)
    , m_prefix(prefix)
{ }

PrivateNetwork::~PrivateNetwork()
{
    for (const QString &ns : m_created)
        SambaHost::run(QString(), QStringLiteral("ip"), { QStringLiteral("netns"), QStringLiteral("del"), ns });
}

bool PrivateNetwork::toolsPresent()
{
    return !QStandardPaths::findExecutable(
               QStringLiteral("ip"), { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin") })
                .isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("nmbd"), { QStringLiteral("/usr/sbin") }).isEmpty();
}

bool PrivateNetwork::ip(const QStringList &arguments)
{
    int code = -1;
    SambaHost::run(QString(), QStringLiteral("ip"), arguments, &code);
    if (code != 0 && m_why.isEmpty())
        m_why = QStringLiteral("ip %1 failed").arg(arguments.join(QLatin1Char(' ')));
    return code == 0;
}

bool PrivateNetwork::create(int members)
{
    QStringList names { hub() };
    for (int i = 0; i < members; ++i)
        names << member(i);
    for (const QString &ns : names) {
        if (!ip({ QStringLiteral("netns"), QStringLiteral("add"), ns })) {
            m_cannotHere = true;
            return false;
        }
        m_created << ns;
        // In some sandboxes (a chroot with a private /run, say) the namespace is made but
        // cannot be entered.
        if (!ip({ "-n", ns, "link", "set", "lo", "up" })) {
            m_cannotHere = true;
            return false;
        }
    }
    const QString hubAddress = m_prefix + QStringLiteral(".1/24");
    if (!ip({ "-n", hub(), "link", "add", "br0", "type", "bridge" })
        || !ip({ "-n", hub(), "addr", "add", hubAddress, "brd", broadcast(), "dev", "br0" })
        || !ip({ "-n", hub(), "link", "set", "br0", "up" }))
        return false;
    for (int i = 0; i < members; ++i) {
        const QString port = QStringLiteral("p%1").arg(i);
        if (!ip({ "-n", hub(), "link", "add", port, "type", "veth", "peer", "name", "eth0", "netns", member(i) })
            || !ip({ "-n", hub(), "link", "set", port, "master", "br0", "up" })
            || !ip({ "-n", member(i), "addr", "add", address(i) + QStringLiteral("/24"), "brd", broadcast(), "dev",
                "eth0" })
            || !ip({ "-n", member(i), "link", "set", "eth0", "up" }))
            return false;
    }
    return true;
}
