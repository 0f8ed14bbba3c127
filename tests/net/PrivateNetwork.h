#pragma once

#include <QString>
#include <QStringList>

// Network namespaces of a test's own, for what NetBIOS name service does only between
// hosts: a hub namespace holding a bridge (where the tools under test run) and one
// namespace per member, each joined to the bridge by a veth pair. Addresses are
// PREFIX.1 for the hub and PREFIX.2, PREFIX.3... for the members, on a /24. The
// namespaces go when the object does.
class PrivateNetwork final
{
public:
    // tag: the start of every namespace name (a test's own prefix and its process id);
    // prefix: the first three parts of the addresses, "10.231.0".
    PrivateNetwork(const QString &tag, const QString &prefix);
    ~PrivateNetwork();
    PrivateNetwork(const PrivateNetwork &) = delete;
    PrivateNetwork &operator=(const PrivateNetwork &) = delete;

    // Makes the hub and `members` members. False with why() when it fails; cannotHere()
    // tells a machine that cannot make or enter namespaces at all (the test skips) from a
    // failure of the test.
    bool create(int members);
    bool cannotHere() const { return m_cannotHere; }
    QString why() const { return m_why; }

    QString hub() const { return m_tag + QStringLiteral("h"); }
    QString member(int i) const { return m_tag + QStringLiteral("m%1").arg(i); }
    QString address(int i) const { return m_prefix + QStringLiteral(".%1").arg(i + 2); }
    QString broadcast() const { return m_prefix + QStringLiteral(".255"); }

    // Whether `ip` and `nmbd` are there at all.
    static bool toolsPresent();

private:
    bool ip(const QStringList &arguments);

    QString m_tag;
    QString m_prefix;
    QStringList m_created;
    bool m_cannotHere = false;
    QString m_why;
};
