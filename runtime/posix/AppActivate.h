#pragma once

#include <QtGlobal>

class QWindow;

// Brings the top-level window of the process to the front; false when the process has none.
bool activateWindowOfProcess(qint64 pid);

// Asks the window manager, as a pager would on the user's behalf, to give this program's
// window the keyboard; a window that is not on the screen yet gets it once it is there.
// Nothing where the display is not X11.
void activateOwnWindow(QWindow *window);
