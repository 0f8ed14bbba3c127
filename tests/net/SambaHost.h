#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// One receiving "computer" for delivery tests and benchmarks: smbd (and nmbd, when
// asked) on one address, optionally inside a network namespace, writing every pop-up
// message it receives into a spool folder. Started as child processes and stopped by
// their own process ids, never by name.
class SambaHost final
{
public:
    struct Settings
    {
        QString netbiosName; // "OFICINA1"
        QString workgroup; // "OFICINA"
        QString address; // "127.0.0.2"
        QString interfaces; // "127.0.0.2/8"
        int port = 139;
        QString netns; // empty: the test's own namespace
        bool acceptMessages = true; // false: no message command, so smbd refuses them
        QString messageCommand; // empty: one that writes each message into the spool folder
        bool nameService = false; // also run nmbd (answers only outside loopback)
        int logLevel = 1; // 3 and up: loggedSends() sees every message
        QString extraGlobal; // more lines for the [global] section
    };

    struct Message
    {
        QString calledName; // as smbd reports it (lower case on port 139)
        QString sender;
        QByteArray text; // as written by smbd, in the unix charset (UTF-8)
    };

    // dir: an empty folder of the test's own for the configuration, state and spool; it
    // and its parents must be open to everybody, as the guest user writes the spool.
    SambaHost(const QString &dir, const Settings &settings);
    ~SambaHost();
    SambaHost(const SambaHost &) = delete;
    SambaHost &operator=(const SambaHost &) = delete;

    // Starts the daemons; false (with the reason in error()) when they do not come up.
    // Waits for smbd to accept connections when it is reachable from here.
    bool start();
    // Ends the daemons and whatever they started that outlives them (samba-dcerpcd, its
    // rpcd_* workers), found by this host's configuration file on their command lines.
    void stop();

    // Sender and called name of each message as smbd itself logs them ("SMBsendstrt (from
    // S to N)", log level 3): decoded from the DOS code page whole, where the message
    // command's %f and %L see them lower-cased or with "_" for every byte beyond ASCII.
    QList<QPair<QString, QString>> loggedSends() const;

    // Messages received so far, oldest first; clearSpool() forgets them.
    QList<Message> messages() const;
    void clearSpool();

    QString error() const { return m_error; }
    QString log(const QString &daemon = QStringLiteral("smbd")) const;
    // Empty while the daemons run; otherwise the one that ended, with the end of its log.
    QString ended() const;

    // A host on address (interfaces address/8, port 139) whose message command hands each
    // message to the receiver at receiverBinary (velrisa-recibe), which files it in mailbox.
    static Settings receiving(const QString &name, const QString &workgroup, const QString &address,
        const QString &receiverBinary, const QString &mailbox);

    // A client configuration that keeps smbclient and nmblookup on the given
    // interfaces only, with all state under dir and no name resolution but broadcast
    // there.
    static QString writeClientConfig(const QString &dir, const QString &interfaces, const QString &workgroup);

    // Runs a program (inside netns when not empty) and returns its standard output;
    // exitCode receives its exit code, -1 when it did not finish within timeoutMs.
    static QByteArray run(const QString &netns, const QString &program, const QStringList &arguments,
        int *exitCode = nullptr, int timeoutMs = 30000);

private:
    std::unique_ptr<QProcess> launch(const QString &daemon);

    QString m_dir;
    Settings m_settings;
    QString m_spool;
    QString m_conf;
    QString m_error;
    std::unique_ptr<QProcess> m_smbd;
    std::unique_ptr<QProcess> m_nmbd;
};
