#pragma once

#include <QString>

#include <memory>

class Module;
class Receiving;
class Runtime;
class frmPrincipal;

// The program's start-up and what its windows share for the whole run: the data files'
// folder, the address book, the setting "Cerrar" as read at start-up, the main window and
// receiving. main() makes one after the runtime and starts it; tests start one each.
class Startup final
{
public:
    // Builds the main window, hidden; nothing is read yet.
    explicit Startup(Runtime &rt);
    ~Startup();

    // One instance per session (a second one ends here, before anything shows), then the
    // main window's load and first showing, then receiving.
    void start();

    // The program is ending (session end, termination signal).
    void end();
    bool ending() const;

    // The data files' folder with exactly one trailing separator; empty before start().
    QString rutaPrograma() const;

    frmPrincipal &mainWindow() { return *m_principal; }
    // Receiving, from start-up on; null before.
    Receiving *receiving() { return m_receiving.get(); }

private:
    Runtime &m_rt;
    std::unique_ptr<Module> m_module;
    std::unique_ptr<frmPrincipal> m_principal;
    std::unique_ptr<Receiving> m_receiving;
};
