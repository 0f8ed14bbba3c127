#include "about/HelpButton.h"

#include "runtime/Runtime.h"

HelpButton::HelpButton(Runtime &rt)
    : m_rt(rt)
{ }

void HelpButton::cmdAyuda_Click(const QString &rutaPrograma)
{
    // Failing to activate is the normal sign that no viewer of ours is open (never
    // started, or closed since): start one then.
    if (m_rt.appActivate(ProcesoAyuda))
        return;

    // Unquoted on purpose: hh joins the words of a path with blanks back together.
    const QString line = QStringLiteral("hh ") + rutaPrograma + QStringLiteral("ayuda.chm");
    ProcesoAyuda = m_rt.shell(line, Runtime::WindowStyle::Maximized);
    if (ProcesoAyuda == 0)
        m_rt.msgBox(
            QStringLiteral("No se encontro el archivo de ayuda"), Runtime::Icon::Critical, QStringLiteral("Error"));
}
