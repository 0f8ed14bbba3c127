#pragma once

#include <QtGlobal>

// Brings the top-level window of the process to the front; false when the process has none.
bool activateWindowOfProcess(qint64 pid);
