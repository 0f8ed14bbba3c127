#pragma once

#include <QString>

#include <memory>

class IconoBarra;
class Module;
class QObject;
class Receiving;
class Runtime;
class frmPrincipal;

// The program's start-up and what the process shares for the whole run: the address book,
// the tray icon, the application's event filter, the "ending" state, the main window and
// receiving. main() makes one after the runtime and starts it; tests start one each.
class Startup final
{
public:
    // Builds the tray icon (not shown yet) and the main window, hidden; nothing is read yet.
    explicit Startup(Runtime &rt);
    ~Startup();

    // One instance per session (a second one ends here, before anything shows), then the
    // main window's load and first showing, the tray icon, then receiving.
    void start();

    // The one orderly end, whatever asks for it ("&Salir", session end, termination signal):
    // the window and the tray icon go at once, what waits to be saved is written now, and
    // every event loop is left. Close requests are granted from then on.
    void end();
    bool ending() const { return m_ending; }

    // The data files' folder with exactly one trailing separator; empty before start().
    QString rutaPrograma() const;

    frmPrincipal &mainWindow() { return *m_principal; }
    IconoBarra &taskIco() { return *m_taskIco; }
    // Receiving, from start-up on; null before.
    Receiving *receiving() { return m_receiving.get(); }

private:
    Runtime &m_rt;
    bool m_ending = false;
    std::unique_ptr<Module> m_module;
    std::unique_ptr<IconoBarra> m_taskIco;
    std::unique_ptr<frmPrincipal> m_principal;
    std::unique_ptr<QObject> m_appFilter;
    std::unique_ptr<Receiving> m_receiving;
};
