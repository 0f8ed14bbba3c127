#pragma once

#include <QString>

class Runtime;

// The help button's action: opens ayuda.chm from the program directory through the `hh`
// command, keeping at most one viewer of its own: while that viewer runs, a press brings
// it to the front instead of starting another.
class HelpButton final
{
public:
    explicit HelpButton(Runtime &rt);

    // rutaPrograma ends with the directory separator.
    void cmdAyuda_Click(const QString &rutaPrograma);

    // Process id of the viewer started last; 0 until the first start or after a failed one.
    qint64 viewerProcess() const { return ProcesoAyuda; }

private:
    Runtime &m_rt;
    qint64 ProcesoAyuda = 0;
};
