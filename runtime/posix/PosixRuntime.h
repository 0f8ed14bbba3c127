#pragma once

#include "runtime/Runtime.h"

#include <memory>

class QLockFile;
class QLocalServer;

// The runtime on Linux and other POSIX desktops, on Qt Widgets.
class PosixRuntime : public Runtime
{
public:
    PosixRuntime();
    ~PosixRuntime() override;

    void msgBox(const QString &text, Icon icon, const QString &title) override;
    QString inputBox(const QString &prompt, const QString &title) override;
    qint64 shell(const QString &commandLine, WindowStyle style) override;
    bool waitForProcess(qint64 pid) override;
    bool appActivate(qint64 pid) override;
    void bringForward(QWidget &window) override;
    bool openUrl(const QUrl &url) override;
    void doEvents() override;
    [[noreturn]] void end() override;
    QString appPath() const override;
    QString dataPath() const override;
    QString userDataPath() const override;
    QString command() const override;
    bool prevInstance() override;
    void activatePrevInstance() override;
    void setActivationHandler(std::function<void()> handler) override;
    bool trayAvailable() const override;
    QString getSetting(
        const QString &app, const QString &section, const QString &key, const QString &defaultValue) override;
    void saveSetting(const QString &app, const QString &section, const QString &key, const QString &value) override;
    QTime currentTime() const override;
    void setHourglass(bool on) override;

    // Where the single-instance lock and the activation socket live for this user session.
    static QString sessionDirectory();

private:
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void()> m_activationHandler;
    bool m_hourglass = false;
    mutable QString m_dataPath;
};
