#include "dispatch/Module1.h"

#include "dispatch/SendLog.h"
#include "runtime/Runtime.h"

#include <exception>
#include <new>

void EsperarProceso(Runtime &rt, qint32 pid, SendLog &messages)
{
    try {
        if (!rt.waitForProcess(pid))
            return;
        messages.repaintRows();
        rt.doEvents();
    } catch (const std::bad_alloc &) {
        rt.msgBox(QStringLiteral("7: Memoria insuficiente"));
    } catch (const std::exception &e) {
        rt.msgBox(QStringLiteral("51: Error interno (%1)").arg(QString::fromLocal8Bit(e.what())));
    }
}
