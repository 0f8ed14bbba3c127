#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

class QMenu;
class QSystemTrayIcon;

// The program's icon in the system tray: started once, it raises a restore request on a
// click or a double click. Its menu is given to the tray, which opens it the way the
// desktop does (a right click on an embedded icon, the panel's own gesture on a
// StatusNotifierItem host, which may not tell the program of the click at all); without a
// menu a right click raises a menu request instead.
class IconoBarra final : public QObject
{
    Q_OBJECT

public:
    explicit IconoBarra(QObject *parent = nullptr);
    ~IconoBarra() override;

    // The tray's menu for the icon; null for none.
    void setMenu(QMenu *menu);
    // Puts the icon in the tray.
    void start();
    // Takes it out again, for a program that is ending.
    void stop();
    bool isVisible() const;
    // A notification beside the icon, where the tray shows one; nothing otherwise. Title and
    // text show as written on every kind of tray, never read as markup. An icon that the tray
    // has not taken in yet (just started) gets it once it stands there, within a few seconds;
    // only the last one waits.
    void notify(const QString &title, const QString &text);
    // A notification from the desktop's notification server, where the session has one, with
    // no icon in a tray to stand beside: title and text as notify() shows them. Nothing waits
    // for the server's answer.
    static void notifyWithoutTray(const QString &title, const QString &text);

    // Takes every icon of this process out of the tray (before ending at once).
    static void removeAll();

Q_SIGNALS:
    void restoreRequested();
    void menuRequested();
    // A tray came after the start and the icon now stands in it.
    void trayArrived();

private:
    void showNotice();
    // A tray that comes after the icon was started (a panel started later at login) takes it.
    void trayChanged();
    static constexpr int kTrayWaitMs = 1000;

    QSystemTrayIcon *m_icon;
    QString m_title; // of the notification that waits for the icon to be placed
    QString m_text;
    QTimer m_wait;
    QDeadlineTimer m_limit;
    bool m_started = false;
    QTimer m_trayWait; // looks for a tray that was not there at the start
    // Whether the notifications go to the desktop's notification server, which reads markup.
    bool m_readsMarkup;
};
