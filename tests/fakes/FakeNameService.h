#pragma once

#include "net/NetbiosWire.h"

#include <QByteArray>
#include <QList>
#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

// The name service of the computer a message came from, on loopback at a port of its own:
// answers node status with the names it is given, laid out as nmbd lays them out. Hostile,
// it first sends what must be ignored, each piece naming the sender a person of its own.
class FakeNameService final
{
public:
    struct Name
    {
        QByteArray name; // in the code page
        uint8_t type = 0x03;
        bool group = false;
        bool active = true;
    };
    enum class Mode { Answer, Hostile, Silent };

    FakeNameService(const QList<Name> &names, Mode mode)
        : m_names(names)
        , m_mode(mode)
    {
        QVERIFY(m_socket.bind(QHostAddress::LocalHost, 0));
        QVERIFY(m_other.bind(QHostAddress::LocalHost, 0));
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] { serve(); });
    }
    quint16 port() const { return m_socket.localPort(); }
    int questions() const { return m_questions; }

    static QByteArray answer(quint16 id, const QList<Name> &names)
    {
        QByteArray data(1, char(names.size()));
        for (const Name &n : names) {
            const int flags = (n.group ? 0x8000 : 0) | (n.active ? 0x0400 : 0x0800);
            data += n.name.leftJustified(15, ' ', true) + char(n.type) + char(flags >> 8) + char(flags & 0xff);
        }
        data += QByteArray(46, '\0'); // the statistics nmbd sends after the names
        QByteArray d;
        for (const int word : { int(id), 0x8400, 0, 1, 0, 0 })
            d += char(word >> 8) + QByteArray(1, char(word & 0xff));
        d += QByteArray::fromStdString(NetbiosWire::encodeName("*", 0x00, '\0'));
        for (const int word : { 0x21, 1, 0, 0, int(data.size()) })
            d += char(word >> 8) + QByteArray(1, char(word & 0xff));
        return d + data;
    }

private:
    void serve()
    {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram request = m_socket.receiveDatagram(4096);
            const QByteArray bytes = request.data();
            const quint16 id = bytes.size() >= 2 ? quint16(uchar(bytes[0]) << 8 | uchar(bytes[1])) : 0;
            // Only a node status question is answered.
            if (bytes != QByteArray::fromStdString(NetbiosWire::nodeStatusRequest(id)))
                continue;
            ++m_questions;
            if (m_mode == Mode::Silent)
                continue;
            const QHostAddress to = request.senderAddress();
            const quint16 port = quint16(request.senderPort());
            if (m_mode == Mode::Hostile) {
                const QByteArray person = answer(id, m_names + QList<Name> { { "VPPEDRO" } });
                m_other.writeDatagram(person, to, port); // from another port
                m_socket.writeDatagram(answer(quint16(id + 1), m_names + QList<Name> { { "VPPEDRO" } }), to, port);
                m_socket.writeDatagram(person + QByteArray(1600, 'x'), to, port); // too long to be an answer
                m_socket.writeDatagram(person.left(person.size() - 60), to, port); // cut
            }
            m_socket.writeDatagram(answer(id, m_names), to, port);
        }
    }

    QList<Name> m_names;
    Mode m_mode;
    QUdpSocket m_socket;
    QUdpSocket m_other;
    int m_questions = 0;
};
