#pragma once

#include <QtGlobal>

class Runtime;
class SendLog;

// Blocks until the process has ended, with no time-out, then repaints the sent-messages
// window and runs the waiting events once. A process that can no longer be found ends
// the wait at once, with no repaint. A failure on the way is shown as "number: description".
void EsperarProceso(Runtime &rt, qint32 pid, SendLog &messages);
