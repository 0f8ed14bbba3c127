#pragma once

#include <QObject>

class QSystemTrayIcon;

// The program's icon in the system tray: started once, it raises a restore request
// on a click and a menu request on a right click.
class IconoBarra final : public QObject
{
    Q_OBJECT

public:
    explicit IconoBarra(QObject *parent = nullptr);
    ~IconoBarra() override;

    // Puts the icon in the tray.
    void start();
    bool isVisible() const;

    // Takes every icon of this process out of the tray (before ending at once).
    static void removeAll();

Q_SIGNALS:
    void restoreRequested();
    void menuRequested();

private:
    QSystemTrayIcon *m_icon;
};
